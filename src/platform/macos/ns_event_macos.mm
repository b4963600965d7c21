#import <AppKit/AppKit.h>

#include "platform/macos/ns_event.h"

namespace tarvix {

double NsEventDoubleClickInterval() { return [NSEvent doubleClickInterval]; }

CocoaPoint NsEventMouseLocation() {
  const NSPoint location = [NSEvent mouseLocation];
  return {location.x, location.y};
}

uint64_t NsEventPressedMouseButtons() { return [NSEvent pressedMouseButtons]; }

}  // namespace tarvix
