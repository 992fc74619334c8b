#include "dock/present.hpp"
#include "dock_fixture.hpp"
#include "support/no_big_requests_proxy.hpp"

#include <algorithm>
#include <csignal>
#include <cstdlib>

namespace kd::test {
namespace {

// A picture where neighbouring pixels and the three channels all differ, written in the
// server's byte order as the painter would.
PixelBuffer patterned_frame(std::uint32_t size, bool lsb_first)
{
    PixelBuffer buffer{size, size, lsb_first,
                       std::vector<std::uint8_t>(std::size_t{4} * size * size)};
    for (std::uint32_t y = 0; y < size; ++y) {
        for (std::uint32_t x = 0; x < size; ++x) {
            const auto red = static_cast<std::uint8_t>(x * 7 + y);
            const auto green = static_cast<std::uint8_t>(y * 3 + 11);
            const auto blue = static_cast<std::uint8_t>(x ^ y);
            std::uint8_t* pixel = &buffer.bytes[(std::size_t{y} * size + x) * 4];
            if (lsb_first) {
                pixel[0] = blue, pixel[1] = green, pixel[2] = red, pixel[3] = 0;
            } else {
                pixel[0] = 0, pixel[1] = red, pixel[2] = green, pixel[3] = blue;
            }
        }
    }
    return buffer;
}

// Index of the first differing byte, or -1.
long first_difference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    if (a.size() != b.size()) return 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return static_cast<long>(i);
    }
    return -1;
}

class PresentTest : public DockOnXvfb, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(PresentTest, FrameReadsBackPixelForPixel)
{
    const std::uint32_t size = GetParam();
    DockWindow window = open_or_fail(display(), size);
    const PixelBuffer frame = patterned_frame(size, window.lsb_first);
    ASSERT_TRUE(present_frame(window, frame));
    // The image is read on another connection: make sure the server has drawn it first.
    sync(dock_xcb_connection(window));

    XConnection observer(display());
    const auto image =
        get_image(observer.get(), window.face_window, static_cast<std::uint16_t>(size),
                  static_cast<std::uint16_t>(size));
    ASSERT_TRUE(image);
    ASSERT_EQ(image->size(), frame.bytes.size());
    EXPECT_EQ(first_difference(*image, frame.bytes), -1);

    // A second frame replaces the first entirely.
    PixelBuffer black{size, size, window.lsb_first,
                      std::vector<std::uint8_t>(frame.bytes.size(), 0)};
    ASSERT_TRUE(present_frame(window, black));
    sync(dock_xcb_connection(window));
    EXPECT_EQ(first_difference(*get_image(observer.get(), window.face_window,
                                          static_cast<std::uint16_t>(size),
                                          static_cast<std::uint16_t>(size)),
                               black.bytes),
              -1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PresentTest, ::testing::Values(96u, 255u, 256u, 1024u));

TEST(PresentOnDeepScreen, ThirtyBitScreenShowsTheNearestColours)
{
    XvfbServer deep("800x600x30");
    DockWindow window = open_or_fail(deep.display(), 256);
    ASSERT_EQ(window.depth, 30);
    // Every 8-bit value of every channel appears somewhere in this frame.
    const PixelBuffer frame = patterned_frame(256, window.lsb_first);
    ASSERT_TRUE(present_frame(window, frame));
    sync(dock_xcb_connection(window));

    XConnection observer(deep.display());
    const auto image = get_image(observer.get(), window.face_window, 256, 256);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->size(), frame.bytes.size());
    // Xvfb's 30-bit visual: red at bits 20 to 29, green at 10 to 19, blue at 0 to 9.
    int wrong = 0;
    for (std::uint32_t y = 0; y < 256; ++y) {
        for (std::uint32_t x = 0; x < 256; ++x) {
            const Rgb painted = pixel_at(frame, x, y);
            const std::uint8_t* shown = &(*image)[(std::size_t{y} * 256 + x) * 4];
            const std::uint32_t value =
                window.lsb_first
                    ? std::uint32_t{shown[0]} | std::uint32_t{shown[1]} << 8 |
                          std::uint32_t{shown[2]} << 16 | std::uint32_t{shown[3]} << 24
                    : std::uint32_t{shown[3]} | std::uint32_t{shown[2]} << 8 |
                          std::uint32_t{shown[1]} << 16 | std::uint32_t{shown[0]} << 24;
            // The nearest of the 1024 steps: |c / 1023 - v / 255| at most half a step.
            const auto near = [](std::uint32_t ten_bits, std::uint8_t eight_bits) {
                const long off = 255L * static_cast<long>(ten_bits) - 1023L * eight_bits;
                return 2 * std::labs(off) <= 255;
            };
            if (value >> 30 != 0 || !near(value >> 20 & 0x3ff, painted.red) ||
                !near(value >> 10 & 0x3ff, painted.green) || !near(value & 0x3ff, painted.blue)) {
                if (++wrong <= 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << " shows " << std::hex << value;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(DockOnXvfb, FrameOfAnotherShapeIsRefusedBeforeAnythingIsSent)
{
    DockWindow window = open_or_fail(display(), 128);
    PixelBuffer small = patterned_frame(96, window.lsb_first);
    const auto result = present_frame(window, small);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, Error::Kind::Description);
    PixelBuffer short_bytes = patterned_frame(128, window.lsb_first);
    short_bytes.bytes.resize(short_bytes.bytes.size() - 4);
    EXPECT_FALSE(present_frame(window, short_bytes));
    // The connection is still good for a proper frame.
    EXPECT_TRUE(present_frame(window, patterned_frame(128, window.lsb_first)));
}

// Presents `frame` and reads the window back on a connection of its own to `observed`.
void expect_shown(DockWindow& window, const PixelBuffer& frame, const std::string& observed)
{
    const auto result = present_frame(window, frame);
    ASSERT_TRUE(result) << result.error().text;
    sync(dock_xcb_connection(window));
    XConnection observer(observed);
    const auto side = static_cast<std::uint16_t>(window.size);
    const auto image = get_image(observer.get(), window.face_window, side, side);
    ASSERT_TRUE(image);
    EXPECT_EQ(first_difference(*image, frame.bytes), -1);
}

class RequestLimitTest : public ::testing::TestWithParam<std::uint32_t> {
  protected:
    // A cap of 1 MiB units on BIG-REQUESTS, which cannot be switched off in Xvfb.
    static void SetUpTestSuite()
    {
        server = std::make_unique<XvfbServer>("1280x1024x24",
                                              std::vector<std::string>{"-maxbigreqsize", "1"});
    }
    static void TearDownTestSuite() { server.reset(); }
    static inline std::unique_ptr<XvfbServer> server;
};

TEST_P(RequestLimitTest, FrameAboveTheServersLimitIsShownWhole)
{
    // 1023 still fits one request; 1024 goes out in bands, and every row must land in its place.
    const std::uint32_t size = GetParam();
    DockWindow window = open_or_fail(server->display(), size);
    expect_shown(window, patterned_frame(size, window.lsb_first), server->display());
    // The next frame is cut the same way, on a connection that stayed good.
    PixelBuffer turned = patterned_frame(size, window.lsb_first);
    std::rotate(turned.bytes.begin(), turned.bytes.begin() + std::ptrdiff_t{4} * size * 7,
                turned.bytes.end());
    expect_shown(window, turned, server->display());
}

INSTANTIATE_TEST_SUITE_P(BigRequestCap, RequestLimitTest, ::testing::Values(1023u, 1024u));

class CoreLimitTest : public ::testing::TestWithParam<std::uint32_t> {
  protected:
    static void SetUpTestSuite()
    {
        server = std::make_unique<XvfbServer>();
        proxy = std::make_unique<NoBigRequestsProxy>(*server);
    }
    static void TearDownTestSuite()
    {
        proxy.reset();
        server.reset();
    }
    static inline std::unique_ptr<XvfbServer> server;
    static inline std::unique_ptr<NoBigRequestsProxy> proxy;
};

TEST_P(CoreLimitTest, WithoutBigRequestsEveryFrameIsShown)
{
    const std::uint32_t size = GetParam();
    {
        // The relay really hides the extension: only the core limit is left.
        XConnection probe(proxy->display());
        ASSERT_EQ(xcb_get_maximum_request_length(probe.get()), 65535u);
    }
    DockWindow window = open_or_fail(proxy->display(), size);
    expect_shown(window, patterned_frame(size, window.lsb_first), server->display());
}

INSTANTIATE_TEST_SUITE_P(NoBigRequests, CoreLimitTest, ::testing::Values(96u, 255u, 256u, 1024u));

TEST(PresentAfterServerDeath, KilledServerGivesAnError)
{
    // Writing to the dead socket must come back as an error value, not a signal.
    const auto old_handler = std::signal(SIGPIPE, SIG_IGN);
    XvfbServer server;
    DockWindow window = open_or_fail(server.display(), 256);
    const PixelBuffer frame = patterned_frame(256, window.lsb_first);
    ASSERT_TRUE(present_frame(window, frame));
    server.kill_now();
    // The first write after the death may still land in the socket buffer.
    std::optional<Error> error;
    for (int attempt = 0; attempt < 3 && !error; ++attempt) {
        if (auto result = present_frame(window, frame); !result) error = result.error();
    }
    std::signal(SIGPIPE, old_handler);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text, "connection to the X server was lost");
}

} // namespace
} // namespace kd::test
