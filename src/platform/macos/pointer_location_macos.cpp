// The pointer and the display holding it, from NSEvent and CoreGraphics.
#include <ApplicationServices/ApplicationServices.h>

#include "platform/apple_keyboard.h"
#include "platform/macos/ns_event.h"
#include "platform/pointer_location.h"

namespace tarvix {

Result<PointerLocation> LocatePointer() {
  const CocoaPoint location = NsEventMouseLocation();
  const PointerPosition at = TopLeftPosition(
      location.x, location.y, static_cast<double>(CGDisplayPixelsHigh(CGMainDisplayID())));
  PointerLocation out{at.x, at.y, std::nullopt};
  CGDirectDisplayID display = 0;
  uint32_t count = 0;
  if (CGGetDisplaysWithPoint(CGPointMake(at.x, at.y), 1, &display, &count) == kCGErrorSuccess &&
      count == 1) {
    out.display = display;
  }
  return out;
}

}  // namespace tarvix
