// Screen damage on macOS: CoreGraphics reports no damage a daemon can
// follow without a display stream, so the main display is captured every
// 100 ms and compared with the frame before in tiles of 64 x 64 pixels;
// the tiles that differ are the changes.
#include <ApplicationServices/ApplicationServices.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/macos/cf_value.h"
#include "platform/screen_damage.h"

namespace tarvix {
namespace {

constexpr std::chrono::milliseconds kFrameInterval{100};
constexpr size_t kTile = 64;
constexpr char kNoFrame[] =
    "unavailable: the screen could not be captured - grant Tarvix 'Screen Recording' in System "
    "Settings > Privacy & Security";

struct Frame {
  std::vector<uint8_t> pixels;
  size_t width = 0;
  size_t height = 0;
  size_t row_bytes = 0;
  size_t pixel_bytes = 0;
};

// One capture of the main display; nullopt without screen recording access.
std::optional<Frame> TakeFrame() {
  const CGDirectDisplayID display = CGMainDisplayID();
  CGImageRef image = CGDisplayCreateImage(display);
  if (image == nullptr) return std::nullopt;
  Frame frame;
  frame.width = CGImageGetWidth(image);
  frame.height = CGImageGetHeight(image);
  frame.row_bytes = CGImageGetBytesPerRow(image);
  frame.pixel_bytes = (CGImageGetBitsPerPixel(image) + 7) / 8;
  CfOwned<CFDataRef> data(CGDataProviderCopyData(CGImageGetDataProvider(image)));
  CGImageRelease(image);
  if (!data || frame.pixel_bytes == 0) return std::nullopt;
  const auto length = static_cast<size_t>(CFDataGetLength(data.get()));
  if (length < frame.row_bytes * frame.height) return std::nullopt;
  const UInt8* bytes = CFDataGetBytePtr(data.get());
  frame.pixels.assign(bytes, bytes + frame.row_bytes * frame.height);
  return frame;
}

class FrameCompareWatch final : public ScreenDamageWatch {
 public:
  explicit FrameCompareWatch(Frame first) : last_(std::move(first)) {}

  Result<std::vector<PointRect>> Next(std::chrono::steady_clock::time_point until) override {
    while (true) {
      const auto next_frame = last_taken_ + kFrameInterval;
      if (next_frame > until) {
        std::this_thread::sleep_until(until);
        return std::vector<PointRect>{};
      }
      std::this_thread::sleep_until(next_frame);
      last_taken_ = std::chrono::steady_clock::now();
      std::optional<Frame> frame = TakeFrame();
      if (!frame) return Error(kNoFrame);
      std::vector<PointRect> changes = Compare(*frame);
      last_ = std::move(*frame);
      if (!changes.empty()) return changes;
    }
  }

 private:
  // The tiles where `frame` differs from the last one, in points. A frame
  // of another size (a mode change) differs everywhere.
  std::vector<PointRect> Compare(const Frame& frame) const {
    const double points_high = static_cast<double>(CGDisplayPixelsHigh(CGMainDisplayID()));
    const double scale =
        points_high > 0 ? static_cast<double>(frame.height) / points_high : 1.0;
    auto in_points = [&](size_t px, size_t py, size_t pw, size_t ph) {
      return PointRect{static_cast<int64_t>(static_cast<double>(px) / scale),
                       static_cast<int64_t>(static_cast<double>(py) / scale),
                       static_cast<int64_t>(static_cast<double>(pw) / scale + 1),
                       static_cast<int64_t>(static_cast<double>(ph) / scale + 1)};
    };
    if (frame.width != last_.width || frame.height != last_.height ||
        frame.row_bytes != last_.row_bytes || frame.pixel_bytes != last_.pixel_bytes) {
      return {in_points(0, 0, frame.width, frame.height)};
    }
    std::vector<PointRect> changes;
    for (size_t ty = 0; ty < frame.height; ty += kTile) {
      const size_t rows = std::min(kTile, frame.height - ty);
      for (size_t tx = 0; tx < frame.width; tx += kTile) {
        const size_t columns = std::min(kTile, frame.width - tx);
        const size_t offset = tx * frame.pixel_bytes;
        const size_t span = columns * frame.pixel_bytes;
        for (size_t y = ty; y < ty + rows; ++y) {
          const size_t at = y * frame.row_bytes + offset;
          if (std::memcmp(frame.pixels.data() + at, last_.pixels.data() + at, span) != 0) {
            changes.push_back(in_points(tx, ty, columns, rows));
            break;
          }
        }
      }
    }
    return changes;
  }

  Frame last_;
  std::chrono::steady_clock::time_point last_taken_ = std::chrono::steady_clock::now();
};

}  // namespace

Result<std::unique_ptr<ScreenDamageWatch>> WatchScreenDamage() {
  std::optional<Frame> first = TakeFrame();
  if (!first) return Error(kNoFrame);
  return std::unique_ptr<ScreenDamageWatch>(std::make_unique<FrameCompareWatch>(std::move(*first)));
}

}  // namespace tarvix
