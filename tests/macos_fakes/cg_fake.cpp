// CoreGraphics: the window list, displays, display images and Quartz
// events; the NSEvent properties the input backend reads (its C++ face,
// standing in for ns_event_macos.mm).
#include <ApplicationServices/ApplicationServices.h>

#include <cstring>

#include "cf_objects.h"
#include "platform/macos/ns_event.h"

// The opaque CoreGraphics types, defined here.
struct CGImage : macfake::Object {
  CGImage() : Object(macfake::kImageType) {}
  size_t width = 0, height = 0;
  std::vector<uint8_t> pixels;
};
struct CGDisplayMode : macfake::Object {
  CGDisplayMode() : Object(macfake::kDisplayModeType) {}
  size_t points = 0, pixels = 0;
};

namespace macfake {
namespace {

struct Event : Object {
  Event() : Object(kEventType) {}
  PostedEvent record;
};


struct CgState {
  std::vector<WindowInfo> windows;
  bool fail_windows = false;
  std::vector<CGWindowListOption> window_calls;
  std::vector<Display> displays;
  bool fail_displays = false;
  std::vector<PostedEvent> events;
  bool fail_events = false;
  bool fail_source = false;
  PointerState pointer;
  size_t main_height = 900;
};
CgState& Cg() {
  static CgState* state = new CgState;
  return *state;
}

const Display* FindDisplay(CGDirectDisplayID id) {
  for (const Display& display : Cg().displays) {
    if (display.id == id) return &display;
  }
  return nullptr;
}

}  // namespace

std::vector<WindowInfo>& Windows() { return Cg().windows; }
void FailWindowList(bool fail) { Cg().fail_windows = fail; }
const std::vector<CGWindowListOption>& WindowListCalls() { return Cg().window_calls; }
std::vector<Display>& Displays() { return Cg().displays; }
void FailDisplayList(bool fail) { Cg().fail_displays = fail; }
const std::vector<PostedEvent>& PostedEvents() { return Cg().events; }
void FailEventCreation(bool fail) { Cg().fail_events = fail; }
void FailEventSource(bool fail) { Cg().fail_source = fail; }
PointerState& Pointer() { return Cg().pointer; }
void SetMainDisplayHeight(size_t points) { Cg().main_height = points; }

void ResetCg() { Cg() = CgState(); }

}  // namespace macfake

using namespace macfake;

namespace tarvix {

double NsEventDoubleClickInterval() { return Cg().pointer.double_click_interval; }
CocoaPoint NsEventMouseLocation() { return {Cg().pointer.cocoa_x, Cg().pointer.cocoa_y}; }
uint64_t NsEventPressedMouseButtons() { return Cg().pointer.pressed_buttons; }

}  // namespace tarvix

namespace {

CGEventRef NewEvent(uint32_t type) {
  if (Cg().fail_events) return nullptr;
  auto* event = Make<Event>();
  event->record.type = type;
  return reinterpret_cast<CGEventRef>(event);
}

Event* EventOf(CGEventRef ref, const char* call) {
  return static_cast<Event*>(Live(ref, call, kEventType));
}

}  // namespace

extern "C" {

// Front to back; with kCGWindowListOptionOnScreenOnly only the windows on
// screen. The caller owns the array (Copy rule).
CFArrayRef CGWindowListCopyWindowInfo(CGWindowListOption option, CGWindowID relative_to) {
  Cg().window_calls.push_back(option);
  if (Cg().fail_windows || relative_to != kCGNullWindowID) return nullptr;
  auto* array = Make<Array>();
  for (const WindowInfo& window : Cg().windows) {
    if ((option & kCGWindowListOptionOnScreenOnly) != 0 && !window.on_screen) continue;
    auto* dictionary = Make<Dictionary>();
    for (const auto& [key, value] : window.entries) {
      dictionary->entries.emplace_back(MakeString(key), MakeValue(value, 0));
    }
    array->items.push_back(dictionary);
  }
  return reinterpret_cast<CFArrayRef>(array);
}

CGDirectDisplayID CGMainDisplayID(void) {
  for (const Display& display : Cg().displays) {
    if (display.main) return display.id;
  }
  return 1;
}

size_t CGDisplayPixelsHigh(CGDirectDisplayID display) {
  const Display* found = FindDisplay(display);
  return found != nullptr ? static_cast<size_t>(found->bounds.size.height) : Cg().main_height;
}

CGError CGGetActiveDisplayList(uint32_t max, CGDirectDisplayID* ids, uint32_t* count) {
  if (Cg().fail_displays) return static_cast<CGError>(1001);  // kCGErrorFailure
  uint32_t n = 0;
  for (const Display& display : Cg().displays) {
    if (n == max) break;
    ids[n++] = display.id;
  }
  *count = n;
  return kCGErrorSuccess;
}

CGRect CGDisplayBounds(CGDirectDisplayID display) {
  const Display* found = FindDisplay(display);
  return found != nullptr ? found->bounds : CGRect{};
}
boolean_t CGDisplayIsMain(CGDirectDisplayID display) {
  const Display* found = FindDisplay(display);
  return found != nullptr && found->main;
}
boolean_t CGDisplayIsBuiltin(CGDirectDisplayID display) {
  const Display* found = FindDisplay(display);
  return found != nullptr && found->builtin;
}

// The caller releases the mode with CGDisplayModeRelease.
CGDisplayModeRef CGDisplayCopyDisplayMode(CGDirectDisplayID display) {
  const Display* found = FindDisplay(display);
  if (found == nullptr || found->mode_points_wide == 0) return nullptr;
  auto* mode = Make<CGDisplayMode>();
  mode->points = found->mode_points_wide;
  mode->pixels = found->mode_pixels_wide;
  return mode;
}
size_t CGDisplayModeGetWidth(CGDisplayModeRef mode) {
  return Live(mode, "CGDisplayModeGetWidth", kDisplayModeType) ? mode->points : 0;
}
size_t CGDisplayModeGetPixelWidth(CGDisplayModeRef mode) {
  return Live(mode, "CGDisplayModeGetPixelWidth", kDisplayModeType) ? mode->pixels : 0;
}
// "If this parameter is NULL, this function does nothing."
void CGDisplayModeRelease(CGDisplayModeRef mode) {
  if (mode != nullptr) ReleaseObject(mode);
}

CGError CGGetDisplaysWithPoint(CGPoint point, uint32_t max, CGDirectDisplayID* displays,
                               uint32_t* count) {
  uint32_t n = 0;
  for (const Display& display : Cg().displays) {
    const CGRect& r = display.bounds;
    if (n < max && point.x >= r.origin.x && point.x < r.origin.x + r.size.width &&
        point.y >= r.origin.y && point.y < r.origin.y + r.size.height) {
      displays[n++] = display.id;
    }
  }
  *count = n;
  return kCGErrorSuccess;
}

CGImageRef CGDisplayCreateImage(CGDirectDisplayID id) {
  const Display* display = FindDisplay(id);
  if (display == nullptr || !display->frame) return nullptr;
  auto* image = Make<CGImage>();
  image->width = display->frame_width;
  image->height = display->frame_height;
  image->pixels = *display->frame;
  return image;
}
size_t CGImageGetWidth(CGImageRef image) {
  return Live(image, "CGImageGetWidth", kImageType) ? image->width : 0;
}
size_t CGImageGetHeight(CGImageRef image) {
  return Live(image, "CGImageGetHeight", kImageType) ? image->height : 0;
}
size_t CGImageGetBitsPerPixel(CGImageRef image) {
  return Live(image, "CGImageGetBitsPerPixel", kImageType) ? 32 : 0;
}
size_t CGImageGetBytesPerRow(CGImageRef image) {
  return Live(image, "CGImageGetBytesPerRow", kImageType) ? image->width * 4 : 0;
}
// The provider belongs to the image ("Get" rule): the image itself here.
CGDataProviderRef CGImageGetDataProvider(CGImageRef image) {
  return Live(image, "CGImageGetDataProvider", kImageType)
             ? reinterpret_cast<CGDataProviderRef>(image)
             : nullptr;
}
// A copy of the pixels that the caller owns.
CFDataRef CGDataProviderCopyData(CGDataProviderRef provider) {
  auto* image = reinterpret_cast<CGImage*>(provider);
  if (!Live(image, "CGDataProviderCopyData", kImageType)) return nullptr;
  auto* data = Make<Data>();
  data->bytes = image->pixels;
  return reinterpret_cast<CFDataRef>(data);
}
void CGImageRelease(CGImageRef image) {
  if (image != nullptr) ReleaseObject(image);
}

CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID) {
  if (Cg().fail_source) return nullptr;
  return reinterpret_cast<CGEventSourceRef>(Make<Object>(kEventSourceType));
}

CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType type, CGPoint at,
                                   CGMouseButton button) {
  if (source != nullptr) Live(source, "CGEventCreateMouseEvent", kEventSourceType);
  CGEventRef event = NewEvent(type);
  if (event != nullptr) {
    EventOf(event, "")->record.x = at.x;
    EventOf(event, "")->record.y = at.y;
    EventOf(event, "")->record.button = button;
  }
  return event;
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode key, bool down) {
  if (source != nullptr) Live(source, "CGEventCreateKeyboardEvent", kEventSourceType);
  CGEventRef event = NewEvent(down ? kKeyDown : kKeyUp);
  if (event != nullptr) EventOf(event, "")->record.key_code = key;
  return event;
}

CGEventRef CGEventCreateScrollWheelEvent2(CGEventSourceRef source, CGScrollEventUnit units,
                                          uint32_t count, int32_t wheel1, int32_t wheel2,
                                          int32_t wheel3) {
  if (source != nullptr) Live(source, "CGEventCreateScrollWheelEvent2", kEventSourceType);
  CGEventRef event = NewEvent(kScrollWheel);
  if (event != nullptr) {
    PostedEvent& record = EventOf(event, "")->record;
    record.scroll_unit = units;
    record.wheel_count = count;
    record.wheels[0] = wheel1;
    record.wheels[1] = count >= 2 ? wheel2 : 0;
    record.wheels[2] = count >= 3 ? wheel3 : 0;
  }
  return event;
}

void CGEventSetFlags(CGEventRef event, CGEventFlags flags) {
  if (Event* e = EventOf(event, "CGEventSetFlags")) e->record.flags = flags;
}

void CGEventKeyboardSetUnicodeString(CGEventRef event, UniCharCount length,
                                     const UniChar* text) {
  if (Event* e = EventOf(event, "CGEventKeyboardSetUnicodeString")) {
    e->record.text.assign(reinterpret_cast<const char16_t*>(text), length);
  }
}

void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value) {
  if (Event* e = EventOf(event, "CGEventSetIntegerValueField")) e->record.fields[field] = value;
}

// Posting copies the event into the stream (the caller keeps its
// reference); mouse events move the pointer and press or release buttons
// as the window server does.
void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
  Event* e = EventOf(event, "CGEventPost");
  if (e == nullptr) return;
  e->record.tap = tap;
  Cg().events.push_back(e->record);
  PointerState& pointer = Cg().pointer;
  const uint32_t type = e->record.type;
  if (type == kKeyDown || type == kKeyUp || type == kScrollWheel) return;
  pointer.cocoa_x = e->record.x;
  pointer.cocoa_y = static_cast<double>(CGDisplayPixelsHigh(CGMainDisplayID())) - e->record.y;
  const uint64_t bit = uint64_t{1} << e->record.button;
  if (type == kCGEventLeftMouseDown || type == kCGEventRightMouseDown ||
      type == kCGEventOtherMouseDown) {
    pointer.pressed_buttons |= bit;
  } else if (type == kCGEventLeftMouseUp || type == kCGEventRightMouseUp ||
             type == kCGEventOtherMouseUp) {
    pointer.pressed_buttons &= ~bit;
  }
}

}  // extern "C"
