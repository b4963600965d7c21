#include "platform/wayland/wlr_layout.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tarvix {
namespace {

// DRM fourcc codes as wl_shm names them (wl_shm keeps 0 and 1 for the two
// classic ones).
constexpr uint32_t Fourcc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
         uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kArgb8888 = 0, kXrgb8888 = 1;

// Where the frame's pixel (x, y) shows on screen; `width` and `height`
// are the frame's. grim's turn: rotated counter-clockwise in y-down
// coordinates by a quarter per step, then mirrored left to right.
struct Spot {
  int64_t x, y;
};
Spot OnScreen(int32_t transform, int64_t x, int64_t y, int64_t width, int64_t height) {
  switch (transform & 7) {
    case 1:
      return {height - 1 - y, x};
    case 2:
      return {width - 1 - x, height - 1 - y};
    case 3:
      return {y, width - 1 - x};
    case 4:
      return {width - 1 - x, y};
    case 5:
      return {y, x};
    case 6:
      return {x, height - 1 - y};
    case 7:
      return {height - 1 - y, width - 1 - x};
    default:
      return {x, y};
  }
}

template <size_t kBytes>
void TurnPixels(const PixelImage& from, int32_t transform, uint8_t* to, size_t to_stride) {
  const auto w = int64_t{from.width}, h = int64_t{from.height};
  const auto stride = static_cast<int64_t>(from.stride), bytes = static_cast<int64_t>(kBytes);
  const bool swaps = SwapsSides(transform);
  const int64_t to_w = swaps ? h : w, to_h = swaps ? w : h;
  // The frame's pixel under the screen's (0,0), and how far one step right
  // or down on screen moves in the frame, in bytes: read back from where
  // the screen's corners come from.
  const auto offset = [&](Spot frame) { return frame.y * stride + frame.x * bytes; };
  Spot origin{}, right{}, down{};
  for (int64_t y = 0; y < h; y += std::max<int64_t>(h - 1, 1)) {
    for (int64_t x = 0; x < w; x += std::max<int64_t>(w - 1, 1)) {
      const Spot s = OnScreen(transform, x, y, w, h);
      if (s.x == 0 && s.y == 0) origin = {x, y};
      if (s.x == to_w - 1 && s.y == 0) right = {x, y};
      if (s.x == 0 && s.y == to_h - 1) down = {x, y};
    }
  }
  const int64_t step_x = to_w > 1 ? (offset(right) - offset(origin)) / (to_w - 1) : 0;
  const int64_t step_y = to_h > 1 ? (offset(down) - offset(origin)) / (to_h - 1) : 0;
  const int64_t start = offset(origin);
  // In squares of 64, so the frame's rows read across stay in the cache.
  constexpr int64_t kBlock = 64;
  for (int64_t top = 0; top < to_h; top += kBlock) {
    for (int64_t left = 0; left < to_w; left += kBlock) {
      const int64_t bottom = std::min(top + kBlock, to_h), end = std::min(left + kBlock, to_w);
      for (int64_t y = top; y < bottom; ++y) {
        int64_t in = start + y * step_y + left * step_x;
        uint8_t* out = to + static_cast<size_t>(y) * to_stride + static_cast<size_t>(left) * kBytes;
        for (int64_t x = left; x < end; ++x, in += step_x, out += kBytes) {
          std::memcpy(out, from.data + in, kBytes);
        }
      }
    }
  }
}

}  // namespace

bool SwapsSides(int32_t transform) { return (transform & 1) != 0; }

PixelBox TurnBox(const PixelBox& box, int32_t transform, uint32_t width, uint32_t height) {
  if (box.w == 0 || box.h == 0) return box;
  const Spot a = OnScreen(transform, box.x, box.y, width, height);
  const Spot b =
      OnScreen(transform, int64_t{box.x} + box.w - 1, int64_t{box.y} + box.h - 1, width, height);
  return {static_cast<uint32_t>(std::min(a.x, b.x)), static_cast<uint32_t>(std::min(a.y, b.y)),
          static_cast<uint32_t>(std::max(a.x, b.x) - std::min(a.x, b.x) + 1),
          static_cast<uint32_t>(std::max(a.y, b.y) - std::min(a.y, b.y) + 1)};
}

void TurnToScreen(const PixelImage& from, uint32_t bytes_per_pixel, int32_t transform, uint8_t* to,
                  size_t to_stride) {
  if (from.width == 0 || from.height == 0) return;
  switch (bytes_per_pixel) {
    case 2:
      return TurnPixels<2>(from, transform, to, to_stride);
    case 3:
      return TurnPixels<3>(from, transform, to, to_stride);
    default:
      return TurnPixels<4>(from, transform, to, to_stride);
  }
}

PointRect LogicalRect(const OutputGeometry& output) {
  if (output.has_logical) {
    return {output.logical_x, output.logical_y, output.logical_width, output.logical_height};
  }
  const int32_t scale = std::max(output.scale, 1);
  int64_t w = output.mode_width / scale, h = output.mode_height / scale;
  if (SwapsSides(output.transform)) std::swap(w, h);
  return {output.x, output.y, w, h};
}

double PixelsPerPoint(const OutputGeometry& output) {
  const PointRect logical = LogicalRect(output);
  const int32_t pixels = SwapsSides(output.transform) ? output.mode_height : output.mode_width;
  if (logical.w <= 0 || pixels <= 0) return 1;
  return static_cast<double>(pixels) / static_cast<double>(logical.w);
}

std::optional<size_t> MainOutput(const std::vector<OutputGeometry>& outputs) {
  if (outputs.empty()) return std::nullopt;
  for (size_t i = 0; i < outputs.size(); ++i) {
    const PointRect r = LogicalRect(outputs[i]);
    if (r.x == 0 && r.y == 0) return i;
  }
  return 0;
}

std::optional<PointRect> OnOutput(const PointRect& global, const PointRect& main,
                                  const OutputGeometry& output) {
  const PointRect out = LogicalRect(output);
  const int64_t left = std::max(global.x + main.x, out.x);
  const int64_t top = std::max(global.y + main.y, out.y);
  const int64_t right = std::min(global.x + main.x + global.w, out.x + out.w);
  const int64_t bottom = std::min(global.y + main.y + global.h, out.y + out.h);
  if (right <= left || bottom <= top) return std::nullopt;
  return PointRect{left - out.x, top - out.y, right - left, bottom - top};
}

std::optional<AbsoluteMotion> PointerMotionTo(int64_t x, int64_t y,
                                              const std::vector<OutputGeometry>& outputs) {
  const std::optional<size_t> main = MainOutput(outputs);
  if (!main) return std::nullopt;
  const PointRect origin = LogicalRect(outputs[*main]);
  int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
  for (const OutputGeometry& output : outputs) {
    const PointRect r = LogicalRect(output);
    left = std::min(left, r.x);
    top = std::min(top, r.y);
    right = std::max(right, r.x + r.w);
    bottom = std::max(bottom, r.y + r.h);
  }
  if (right <= left || bottom <= top) return std::nullopt;
  const auto inside = [](int64_t v, int64_t low, int64_t high) {
    return static_cast<uint32_t>(std::clamp(v, low, high - 1) - low);
  };
  return AbsoluteMotion{inside(x + origin.x, left, right), inside(y + origin.y, top, bottom),
                        static_cast<uint32_t>(right - left), static_cast<uint32_t>(bottom - top)};
}

std::optional<PixelLayout> ShmFormatLayout(uint32_t format) {
  // All are little-endian units: the fourcc names the channels from the
  // most significant bit down.
  switch (format) {
    case kArgb8888:
    case kXrgb8888:
      return PixelLayout{32, false, 0xff0000, 0x00ff00, 0x0000ff};
    case Fourcc('X', 'B', '2', '4'):
    case Fourcc('A', 'B', '2', '4'):
      return PixelLayout{32, false, 0x0000ff, 0x00ff00, 0xff0000};
    case Fourcc('X', 'R', '3', '0'):
    case Fourcc('A', 'R', '3', '0'):
      return PixelLayout{32, false, 0x3ff00000, 0x000ffc00, 0x000003ff};
    case Fourcc('X', 'B', '3', '0'):
    case Fourcc('A', 'B', '3', '0'):
      return PixelLayout{32, false, 0x000003ff, 0x000ffc00, 0x3ff00000};
    case Fourcc('R', 'G', '1', '6'):
      return PixelLayout{16, false, 0xf800, 0x07e0, 0x001f};
    case Fourcc('R', 'G', '2', '4'):
      return PixelLayout{24, false, 0xff0000, 0x00ff00, 0x0000ff};
    case Fourcc('B', 'G', '2', '4'):
      return PixelLayout{24, false, 0x0000ff, 0x00ff00, 0xff0000};
    default:
      return std::nullopt;
  }
}

size_t ScreenshotPeakBytes(size_t buffer_bytes, uint32_t width, uint32_t height) {
  const size_t rows = size_t{height} * (size_t{width} * 3 + 1);
  const size_t png = rows + rows / 1000 + (size_t{height} / 64 + 1) * 64 + 4096;
  return buffer_bytes + png + (png + 2) / 3 * 4;
}

size_t CapturePeakBytes(size_t buffer_bytes, uint32_t width, uint32_t height) {
  const size_t pixels = size_t{width} * height;
  const size_t encoded = std::max(ScreenshotPeakBytes(0, width, height), pixels * 4 + 65536);
  return buffer_bytes + pixels * 4 + encoded + (encoded + 2) / 3 * 4;
}

}  // namespace tarvix
