// Scaling a 1920x1080 screen to 1280x720, as capture does for an agent's
// image limit: the daemon's own area-averaging filter (the screen's usual
// x8r8g8b8 layout) against pixman's separable box convolution (the path
// other layouts take), each with its mean and worst error against the
// exact area average; then the JPEG encoding of the result.
//   build/bench/image_scale_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/x11/image_scale.h"

namespace tarvix {
namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080, kTargetWidth = 1280, kTargetHeight = 720;

// A screen-like test image: smooth gradients under sharp one-pixel text
// strokes, the content where filters differ.
const std::vector<uint32_t>& Screen() {
  static const std::vector<uint32_t> pixels = [] {
    std::vector<uint32_t> p(size_t{kWidth} * kHeight);
    for (uint32_t y = 0; y < kHeight; ++y) {
      for (uint32_t x = 0; x < kWidth; ++x) {
        const uint32_t shade = (x * 255 / kWidth) ^ (y * 255 / kHeight);
        const bool stroke = (x % 7 == 0 && y % 16 < 11) || (y % 16 == 5 && x % 40 < 25);
        p[size_t{y} * kWidth + x] = stroke ? 0x101010 : shade << 16 | (shade / 2) << 8 | 0xc0;
      }
    }
    return p;
  }();
  return pixels;
}

PixelImage View(bool native) {
  PixelImage image{reinterpret_cast<const uint8_t*>(Screen().data()), kWidth, kHeight,
                   size_t{kWidth} * 4, PixelLayout{}};
  // The same bytes read as x8b8g8r8 take the pixman path; the error below
  // swaps the channels back.
  if (!native) image.layout = {32, false, 0x0000ff, 0x00ff00, 0xff0000};
  return image;
}

// Mean and worst error of `scaled` against the exact area average.
void Errors(const XrgbImage& scaled, bool native, benchmark::State& state) {
  const double sx = static_cast<double>(kWidth) / kTargetWidth;
  const double sy = static_cast<double>(kHeight) / kTargetHeight;
  double total = 0, worst = 0;
  for (uint32_t ty = 0; ty < kTargetHeight; ++ty) {
    for (uint32_t tx = 0; tx < kTargetWidth; ++tx) {
      const double left = tx * sx, right = left + sx, top = ty * sy, bottom = top + sy;
      double sum[3] = {0, 0, 0};
      for (auto y = static_cast<uint32_t>(top); y < bottom; ++y) {
        const double dy = std::min(bottom, y + 1.0) - std::max(top, static_cast<double>(y));
        for (auto x = static_cast<uint32_t>(left); x < right; ++x) {
          const double dx = std::min(right, x + 1.0) - std::max(left, static_cast<double>(x));
          const uint32_t p = Screen()[size_t{y} * kWidth + x];
          for (int c = 0; c < 3; ++c) sum[c] += dx * dy * ((p >> (8 * c)) & 0xff);
        }
      }
      const uint32_t got = scaled.pixels[size_t{ty} * kTargetWidth + tx];
      for (int c = 0; c < 3; ++c) {
        const int shift = native ? 8 * c : 16 - 8 * c;
        const double error = std::abs(sum[c] / (sx * sy) - ((got >> shift) & 0xff));
        total += error;
        worst = std::max(worst, error);
      }
    }
  }
  state.counters["mean_error"] = total / (3.0 * kTargetWidth * kTargetHeight);
  state.counters["worst_error"] = worst;
}

void Scale(benchmark::State& state, bool native) {
  const PixelImage image = View(native);
  Result<XrgbImage> scaled = Error("not run");
  for (auto _ : state) {
    scaled = ScaleToXrgb(image, kTargetWidth, kTargetHeight);
    benchmark::DoNotOptimize(scaled);
  }
  if (!scaled) {
    state.SkipWithError(scaled.error().c_str());
    return;
  }
  Errors(*scaled, native, state);
}

void BM_ScaleOwnFilter(benchmark::State& state) { Scale(state, true); }
void BM_ScalePixman(benchmark::State& state) { Scale(state, false); }
BENCHMARK(BM_ScaleOwnFilter)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScalePixman)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_JpegQuality80(benchmark::State& state) {
  Result<XrgbImage> scaled = ScaleToXrgb(View(true), kTargetWidth, kTargetHeight);
  if (!scaled) {
    state.SkipWithError(scaled.error().c_str());
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(EncodeJpeg(scaled->View(), 80));
}
BENCHMARK(BM_JpegQuality80)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tarvix

BENCHMARK_MAIN();
