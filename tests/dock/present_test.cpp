#include "dock/present.hpp"
#include "dock_fixture.hpp"
#include "support/no_big_requests_proxy.hpp"

#include <algorithm>
#include <csignal>

namespace kd::test {
namespace {

// A picture where neighbouring pixels and the three channels all differ.
Rgb pattern_at(std::uint32_t x, std::uint32_t y)
{
    return Rgb{static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(y * 3 + 11),
               static_cast<std::uint8_t>(x ^ y)};
}

// The picture in the window's own format, as the painter would write it.
PixelBuffer patterned_frame(std::uint32_t size, const DockWindow& window)
{
    PixelBuffer buffer = make_pixel_buffer(size, size, window.lsb_first, window.channels);
    for (std::uint32_t y = 0; y < size; ++y) {
        for (std::uint32_t x = 0; x < size; ++x) {
            const auto column = static_cast<std::int32_t>(x);
            fill_row(buffer, static_cast<std::int32_t>(y), column, column,
                     stored_pixel(buffer, pattern_at(x, y)));
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

class PresentTest : public DockOnXvfb, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(PresentTest, FrameReadsBackPixelForPixel)
{
    const std::uint32_t size = GetParam();
    DockWindow window = open_or_fail(display(), size);
    expect_shown(window, patterned_frame(size, window), display());
    // A second frame replaces the first entirely.
    expect_shown(window, make_pixel_buffer(size, size, window.lsb_first, window.channels),
                 display());
}

INSTANTIATE_TEST_SUITE_P(Sizes, PresentTest, ::testing::Values(96u, 255u, 256u, 1024u));

TEST_F(DockOnXvfb, FrameOfAnotherShapeIsRefusedBeforeAnythingIsSent)
{
    DockWindow window = open_or_fail(display(), 128);
    PixelBuffer small = patterned_frame(96, window);
    const auto result = present_frame(window, small);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, Error::Kind::Description);
    PixelBuffer short_bytes = patterned_frame(128, window);
    short_bytes.bytes.resize(short_bytes.bytes.size() - 4);
    EXPECT_FALSE(present_frame(window, short_bytes));
    const PixelBuffer deep =
        make_pixel_buffer(128, 128, window.lsb_first, channel_tables(0x3ff00000, 0xffc00, 0x3ff));
    EXPECT_FALSE(present_frame(window, deep));
    // The connection is still good for a proper frame.
    EXPECT_TRUE(present_frame(window, patterned_frame(128, window)));
}

// A 30-bit screen: the frame is painted in its channels and goes out as it is.
TEST(PresentOnDeepScreen, ThirtyBitScreenShowsTheFrameAsPainted)
{
    XvfbServer deep("800x600x30");
    DockWindow window = open_or_fail(deep.display(), 256);
    ASSERT_EQ(window.depth, 30);
    // Xvfb's 30-bit visual: red at bits 20 to 29, green at 10 to 19, blue at 0 to 9.
    ASSERT_TRUE(window.channels);
    EXPECT_EQ(window.channels->red[255] | window.channels->green[128] | window.channels->blue[1],
              0x3ff00000u | 514u << 10 | 4u);
    // Every 8-bit value of every channel appears somewhere in this frame.
    expect_shown(window, patterned_frame(256, window), deep.display());
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
    expect_shown(window, patterned_frame(size, window), server->display());
    // The next frame is cut the same way, on a connection that stayed good.
    PixelBuffer turned = patterned_frame(size, window);
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
    expect_shown(window, patterned_frame(size, window), server->display());
}

INSTANTIATE_TEST_SUITE_P(NoBigRequests, CoreLimitTest, ::testing::Values(96u, 255u, 256u, 1024u));

TEST(PresentAfterServerDeath, KilledServerGivesAnError)
{
    // Writing to the dead socket must come back as an error value, not a signal.
    const auto old_handler = std::signal(SIGPIPE, SIG_IGN);
    XvfbServer server;
    DockWindow window = open_or_fail(server.display(), 256);
    const PixelBuffer frame = patterned_frame(256, window);
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
