// PNG encoding of the current screen of DISPLAY, on one thread and in
// stripes on two: the part of a screenshot that dominates its cost.
//   DISPLAY=:N build/bench/png_encode_bench
#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <vector>

#include "platform/x11/png_encoder.h"
#include "platform/x11/x_connection.h"

namespace tarvix {
namespace {

struct Screen {
  std::vector<uint8_t> pixels;
  PixelImage image;
};

// The root window once, through a plain GetImage (24/32-bit servers).
const Screen* Grab() {
  static Screen* screen = [] {
    Result<std::unique_ptr<XConnection>> x = XConnection::Open();
    if (!x) return static_cast<Screen*>(nullptr);
    xcb_connection_t* c = (*x)->get();
    const xcb_screen_t& s = (*x)->screen();
    XcbReply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, s.root, 0, 0, s.width_in_pixels,
                      s.height_in_pixels, ~0u),
        nullptr));
    if (!reply) return static_cast<Screen*>(nullptr);
    auto* grabbed = new Screen;
    const uint8_t* data = xcb_get_image_data(reply.get());
    grabbed->pixels.assign(data, data + xcb_get_image_data_length(reply.get()));
    grabbed->image = {grabbed->pixels.data(), s.width_in_pixels, s.height_in_pixels,
                      size_t{s.width_in_pixels} * 4, PixelLayout{}};
    return grabbed;
  }();
  return screen;
}

void BM_EncodeScreen(benchmark::State& state) {
  const Screen* screen = Grab();
  if (screen == nullptr) {
    state.SkipWithError("cannot capture DISPLAY");
    return;
  }
  size_t bytes = 0;
  for (auto _ : state) {
    Result<std::string> png = EncodePng(screen->image, {static_cast<int>(state.range(0)), 128});
    bytes = png ? png->size() : 0;
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["png_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodeScreen)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tarvix

BENCHMARK_MAIN();
