// The "capture" tool: an area of the desktop (a region, a display, a
// window, or by default the main display) as PNG or JPEG, scaled down to
// meet every limit the caller sets, aspect kept, never enlarged. Returns
// {base64, bytes, format, height, origin {x, y}, scale, width}: the pixel
// (px, py) shows the global point (origin.x + px / scale, origin.y + py /
// scale). Without params the image is the screenshot's, byte for byte.
#ifndef TARVIX_TOOLS_DESKTOP_CAPTURE_H_
#define TARVIX_TOOLS_DESKTOP_CAPTURE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "json/json.h"
#include "platform/screen_capture.h"
#include "tools/desktop/displays.h"
#include "tools/desktop/window_list.h"

namespace tarvix {

inline constexpr uint64_t kDefaultCaptureBytes = uint64_t{8} << 20;
inline constexpr uint64_t kMaxCaptureBytes = uint64_t{256} << 20;
inline constexpr uint32_t kMaxCaptureSide = 65535;

struct PixelSize {
  uint32_t width = 0;
  uint32_t height = 0;
  bool operator==(const PixelSize&) const = default;
};

// Limits on the image; absent ones do not bind.
struct CaptureLimits {
  std::optional<uint32_t> max_width;
  std::optional<uint32_t> max_height;
  std::optional<uint64_t> max_pixels;
};

// The largest size within `limits` with `source`'s aspect (each side
// rounded down, at least 1), never larger than `source`.
PixelSize FitWithin(PixelSize source, const CaptureLimits& limits);

// An encoded image and the size it was encoded at.
struct EncodedImage {
  std::string bytes;
  PixelSize size;
};

// Encodes `image` at `first`, and while the result is larger than
// `max_bytes` again at a size shrunk by the square root of the excess
// (bytes grow about with pixels) and a margin, down to 1x1. Fails with
// "refused: cannot meet max_bytes (smallest is N bytes)" when even the
// smallest try is larger, or with the encoder's error.
Result<EncodedImage> EncodeWithin(ScreenImage& image, PixelSize first, ImageFormat format,
                                  int quality, uint64_t max_bytes);

using ScreenGrab = std::function<Result<std::unique_ptr<ScreenImage>>(const CaptureArea&)>;

struct CaptureServices {
  DisplayQuery displays;
  WindowQuery windows;
  ScreenGrab grab;
};

// The tool as the method table calls it (any mode).
ToolResult Capture(const Json& params);
// The tool's logic over given services.
ToolResult CaptureWith(const Json& params, const CaptureServices& services);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_CAPTURE_H_
