// The three NSEvent class properties the input backend reads, behind a
// C++ face so that only ns_event_macos.mm is Objective-C++.
#ifndef TARVIX_PLATFORM_MACOS_NS_EVENT_H_
#define TARVIX_PLATFORM_MACOS_NS_EVENT_H_

#include <cstdint>

namespace tarvix {

// The user's double-click interval in seconds.
double NsEventDoubleClickInterval();

// The pointer in Cocoa coordinates: origin at the bottom left of the main
// display, y upwards.
struct CocoaPoint {
  double x = 0;
  double y = 0;
};
CocoaPoint NsEventMouseLocation();

// Mouse buttons held now: bit 0 left, bit 1 right, bit 2 and up others.
uint64_t NsEventPressedMouseButtons();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_MACOS_NS_EVENT_H_
