// What a whole repaint costs against a real X server (a private Xvfb): painting the face, the
// one PutImage of the buffer with its flush, and a round trip, so that the server's handling
// of the image is counted too and not only the write into the socket.

#include "bench_font.hpp"
#include "dock/dock_window.hpp"
#include "dock/dock_xcb.hpp"
#include "dock/present.hpp"
#include "face/face_layout.hpp"
#include "face/pixel_buffer.hpp"
#include "support/x_client.hpp"
#include "support/xvfb.hpp"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// The servers a frame may meet: the usual one, one whose request limit (4 MiB) is below a
// 1024 px frame, so that the frame goes out in bands, and a 30-bit one, whose frames are
// painted in its 10-bit channels.
enum class Screen { Plain, CappedRequests, ThirtyBit };

// Each started on first use only, so that the paint benchmarks alone need no X server.
const kd::test::XvfbServer& bench_server(Screen screen = Screen::Plain)
{
    static std::unique_ptr<kd::test::XvfbServer> servers[3];
    auto& server = servers[static_cast<int>(screen)];
    if (!server) {
        switch (screen) {
        case Screen::Plain: server = std::make_unique<kd::test::XvfbServer>(); break;
        case Screen::CappedRequests:
            server = std::make_unique<kd::test::XvfbServer>(
                "1280x1024x24", std::vector<std::string>{"-maxbigreqsize", "1"});
            break;
        case Screen::ThirtyBit:
            server = std::make_unique<kd::test::XvfbServer>("1280x1024x30");
            break;
        }
    }
    return *server;
}

struct Window {
    kd::DockWindow window;
    kd::PixelBuffer buffer;
};

std::unique_ptr<Window> open_window(benchmark::State& state, std::uint32_t size, Screen screen)
{
    kd::Settings settings;
    settings.size = size;
    auto opened =
        kd::open_dock_window(settings, {"kestrelDial"}, bench_server(screen).display().c_str());
    if (!opened) {
        state.SkipWithError(("open_dock_window: " + opened.error().text).c_str());
        return nullptr;
    }
    // Mapped for sure: drawing into an unmapped window is dropped and would cost nothing.
    kd::test::sync(kd::dock_xcb_connection(*opened));
    auto buffer = kd::make_pixel_buffer(size, size, opened->lsb_first, opened->channels);
    return std::make_unique<Window>(Window{std::move(*opened), std::move(buffer)});
}

void drain_events(kd::DockWindow& window)
{
    xcb_connection_t* connection = kd::dock_xcb_connection(window);
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection))
        std::free(event);
}

// A frame presented per iteration on the given kind of server, painted afresh each time or
// (presenting alone) painted once: what the bands and the deeper screen add to the one PutImage
// that the usual server gets. Painted with seconds shown, the case that repaints every second.
void present_frames(benchmark::State& state, Screen screen, bool paint_each_frame)
{
    const auto size = static_cast<std::uint32_t>(state.range(0));
    auto target = open_window(state, size, screen);
    if (!target) return;
    kd::Settings settings;
    settings.seconds = true;
    kd::TextScratch scratch;
    const auto paint = [&] {
        kd::paint_face(target->buffer, kd::bench::bench_font(), scratch, settings,
                       kd::bench::bench_instant);
    };
    if (!paint_each_frame) paint();
    xcb_connection_t* connection = kd::dock_xcb_connection(target->window);
    for (auto _ : state) {
        if (paint_each_frame) paint();
        if (auto shown = kd::present_frame(target->window, target->buffer); !shown) {
            state.SkipWithError(("present_frame: " + shown.error().text).c_str());
            break;
        }
        kd::test::sync(connection);
    }
    drain_events(target->window);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 4 * size * size);
}

void BM_PaintAndPresent(benchmark::State& state)
{
    present_frames(state, Screen::Plain, true);
}
BENCHMARK(BM_PaintAndPresent)
    ->Arg(96)
    ->Arg(128)
    ->Arg(256)
    ->Arg(1024)
    ->Unit(benchmark::kMicrosecond);

// The same on a 30-bit screen, whose pixels are not the painter's 8 bits a channel.
void BM_PaintAndPresentThirtyBit(benchmark::State& state)
{
    present_frames(state, Screen::ThirtyBit, true);
}
BENCHMARK(BM_PaintAndPresentThirtyBit)->Arg(96)->Arg(1024)->Unit(benchmark::kMicrosecond);

void BM_PresentPlain(benchmark::State& state)
{
    present_frames(state, Screen::Plain, false);
}
void BM_PresentInBands(benchmark::State& state)
{
    present_frames(state, Screen::CappedRequests, false);
}
void BM_PresentThirtyBit(benchmark::State& state)
{
    present_frames(state, Screen::ThirtyBit, false);
}

BENCHMARK(BM_PresentPlain)->Arg(96)->Arg(1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PresentInBands)->Arg(1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PresentThirtyBit)->Arg(96)->Arg(1024)->Unit(benchmark::kMicrosecond);

} // namespace
