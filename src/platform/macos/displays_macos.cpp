// Displays on macOS: the active CGDisplays. CoreGraphics already places
// them in global points with the main display's top-left corner at 0,0;
// the backing scale is the current mode's pixel width over its width in
// points.
#include <ApplicationServices/ApplicationServices.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/displays.h"

namespace tarvix {
namespace {

constexpr uint32_t kMaxDisplays = 32;

double BackingScale(CGDirectDisplayID display) {
  CGDisplayModeRef mode = CGDisplayCopyDisplayMode(display);
  if (mode == nullptr) return 1;
  const size_t points = CGDisplayModeGetWidth(mode);
  const size_t pixels = CGDisplayModeGetPixelWidth(mode);
  CGDisplayModeRelease(mode);
  if (points == 0 || pixels == 0) return 1;
  return static_cast<double>(pixels) / static_cast<double>(points);
}

}  // namespace

Result<std::vector<DisplayInfo>> ListDisplays() {
  CGDirectDisplayID ids[kMaxDisplays];
  uint32_t count = 0;
  if (CGGetActiveDisplayList(kMaxDisplays, ids, &count) != kCGErrorSuccess) {
    return Error("unavailable: CGGetActiveDisplayList failed");
  }
  std::vector<DisplayInfo> displays;
  for (uint32_t i = 0; i < count && i < kMaxDisplays; ++i) {
    const CGRect bounds = CGDisplayBounds(ids[i]);
    displays.push_back({.id = ids[i],
                        .name = CGDisplayIsBuiltin(ids[i]) != 0
                                    ? std::string("Built-in Display")
                                    : "Display " + std::to_string(ids[i]),
                        .x = static_cast<int64_t>(std::floor(bounds.origin.x)),
                        .y = static_cast<int64_t>(std::floor(bounds.origin.y)),
                        .width = static_cast<int64_t>(std::lround(bounds.size.width)),
                        .height = static_cast<int64_t>(std::lround(bounds.size.height)),
                        .scale = BackingScale(ids[i]),
                        .primary = CGDisplayIsMain(ids[i]) != 0});
  }
  return displays;
}

}  // namespace tarvix
