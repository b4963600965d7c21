// Window control on macOS through the accessibility interface of the
// window's application: the CGWindowID is looked up in the window list
// (owner pid, frame, title), and the AX window of that application with
// the same frame (then the same title) is the one acted on. The effect is
// read back every 50 ms for up to kWindowActionVerifyTime.
#include <ApplicationServices/ApplicationServices.h>

#include <cmath>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/macos/cf_value.h"
#include "platform/window_control.h"
#include "platform/window_query.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr float kPerCallSeconds = 1.0f;
constexpr char kNoAccess[] =
    "unavailable: the window could not be reached - grant Tarvix 'Accessibility' in System "
    "Settings > Privacy & Security";

std::optional<WindowRecord> FindWindow(uint64_t id) {
  Result<std::vector<WindowRecord>> windows = QueryAllWindows();
  if (!windows) return std::nullopt;
  for (WindowRecord& window : *windows) {
    if (window.id == id) return std::move(window);
  }
  return std::nullopt;
}

// `element` with the per-call timeout: AX applies a timeout only to the
// reference it was set on, so a window read out of its application
// element would wait the system's default of 6 s.
AXUIElementRef Bounded(AXUIElementRef element) {
  AXUIElementSetMessagingTimeout(element, kPerCallSeconds);
  return element;
}

CfOwned<CFTypeRef> Read(AXUIElementRef element, const char* attribute) {
  CfOwned<CFTypeRef> value;
  const CfOwned<CFStringRef> name = CfString(attribute);
  if (AXUIElementCopyAttributeValue(Bounded(element), name.get(), value.out()) !=
      kAXErrorSuccess) {
    return CfOwned<CFTypeRef>();
  }
  return value;
}

bool Set(AXUIElementRef element, const char* attribute, CFTypeRef value) {
  const CfOwned<CFStringRef> name = CfString(attribute);
  return AXUIElementSetAttributeValue(Bounded(element), name.get(), value) == kAXErrorSuccess;
}

bool Perform(AXUIElementRef element, const char* action) {
  const CfOwned<CFStringRef> name = CfString(action);
  return AXUIElementPerformAction(Bounded(element), name.get()) == kAXErrorSuccess;
}

std::optional<CGPoint> Position(AXUIElementRef window) {
  CGPoint point;
  const CfOwned<CFTypeRef> value = Read(window, "AXPosition");
  if (!IsCfType(value.get(), AXValueGetTypeID()) ||
      !AXValueGetValue(static_cast<AXValueRef>(value.get()), kAXValueTypeCGPoint, &point)) {
    return std::nullopt;
  }
  return point;
}

std::optional<CGSize> Size(AXUIElementRef window) {
  CGSize size;
  const CfOwned<CFTypeRef> value = Read(window, "AXSize");
  if (!IsCfType(value.get(), AXValueGetTypeID()) ||
      !AXValueGetValue(static_cast<AXValueRef>(value.get()), kAXValueTypeCGSize, &size)) {
    return std::nullopt;
  }
  return size;
}

bool Near(double a, double b) { return std::fabs(a - b) < 1.0; }

// The AX window of `record`'s application with the record's frame, else
// the only one with its title.
CfOwned<AXUIElementRef> AxWindowOf(AXUIElementRef application, const WindowRecord& record) {
  const CfOwned<CFTypeRef> list = Read(application, "AXWindows");
  if (!IsCfType(list.get(), CFArrayGetTypeID())) return CfOwned<AXUIElementRef>();
  const auto windows = static_cast<CFArrayRef>(list.get());
  AXUIElementRef by_title = nullptr;
  int titled = 0;
  for (CFIndex i = 0; i < CFArrayGetCount(windows); ++i) {
    const CFTypeRef item = CFArrayGetValueAtIndex(windows, i);
    if (!IsCfType(item, AXUIElementGetTypeID())) continue;
    const auto window = static_cast<AXUIElementRef>(item);
    const std::optional<CGPoint> at = Position(window);
    const std::optional<CGSize> size = Size(window);
    if (at && size && Near(at->x, record.x) && Near(at->y, record.y) &&
        Near(size->width, record.width) && Near(size->height, record.height)) {
      return CfOwned<AXUIElementRef>(static_cast<AXUIElementRef>(CFRetain(window)));
    }
    const CfOwned<CFTypeRef> title = Read(window, "AXTitle");
    if (CfStringText(title.get()).value_or("") == record.title) {
      by_title = window;
      ++titled;
    }
  }
  if (titled == 1) return CfOwned<AXUIElementRef>(static_cast<AXUIElementRef>(CFRetain(by_title)));
  return CfOwned<AXUIElementRef>();
}

bool Flag(AXUIElementRef window, const char* attribute) {
  return Read(window, attribute).get() == kCFBooleanTrue;
}

bool PressButton(AXUIElementRef window, const char* button) {
  const CfOwned<CFTypeRef> element = Read(window, button);
  return IsCfType(element.get(), AXUIElementGetTypeID()) &&
         Perform(static_cast<AXUIElementRef>(element.get()), "AXPress");
}

bool Act(AXUIElementRef application, AXUIElementRef window, const WindowActionRequest& request) {
  switch (request.action) {
    case WindowAction::kActivate:
      Set(application, "AXFrontmost", kCFBooleanTrue);
      Set(window, "AXMain", kCFBooleanTrue);
      return Perform(window, "AXRaise");
    case WindowAction::kRaise:
      return Perform(window, "AXRaise");
    case WindowAction::kMinimize:
      return Set(window, "AXMinimized", kCFBooleanTrue);
    case WindowAction::kMaximize:
      return Flag(window, "AXZoomed") || PressButton(window, "AXZoomButton");
    case WindowAction::kRestore:
      Set(window, "AXMinimized", kCFBooleanFalse);
      if (Flag(window, "AXZoomed")) PressButton(window, "AXZoomButton");
      return true;
    case WindowAction::kClose:
      return PressButton(window, "AXCloseButton");
    case WindowAction::kMove: {
      const CGPoint point = CGPointMake(static_cast<CGFloat>(request.x), static_cast<CGFloat>(request.y));
      const CfOwned<AXValueRef> value(AXValueCreate(kAXValueTypeCGPoint, &point));
      return value && Set(window, "AXPosition", value.get());
    }
    case WindowAction::kResize: {
      CGSize size;
      size.width = static_cast<CGFloat>(request.w);
      size.height = static_cast<CGFloat>(request.h);
      const CfOwned<AXValueRef> value(AXValueCreate(kAXValueTypeCGSize, &size));
      return value && Set(window, "AXSize", value.get());
    }
  }
  return false;
}

bool Done(AXUIElementRef window, const WindowActionRequest& request) {
  switch (request.action) {
    case WindowAction::kActivate:
    case WindowAction::kRaise: {
      Result<std::vector<WindowRecord>> windows = QueryWindows();
      if (!windows) return false;
      for (const WindowRecord& record : *windows) {
        if (record.layer.value_or(0) == 0) return record.id == request.window;
      }
      return false;
    }
    case WindowAction::kMinimize:
      return Flag(window, "AXMinimized");
    case WindowAction::kMaximize:
      return Flag(window, "AXZoomed");
    case WindowAction::kRestore:
      return !Flag(window, "AXMinimized") && !Flag(window, "AXZoomed");
    case WindowAction::kClose:
      return !FindWindow(request.window);
    case WindowAction::kMove: {
      const std::optional<CGPoint> at = Position(window);
      return at && Near(at->x, static_cast<double>(request.x)) &&
             Near(at->y, static_cast<double>(request.y));
    }
    case WindowAction::kResize: {
      const std::optional<CGSize> size = Size(window);
      return size && Near(size->width, static_cast<double>(request.w)) &&
             Near(size->height, static_cast<double>(request.h));
    }
  }
  return false;
}

}  // namespace

Result<bool> ControlWindow(const WindowActionRequest& request) {
  const std::optional<WindowRecord> record = FindWindow(request.window);
  if (!record || !record->owner_pid) return Error("unknown window: " + std::to_string(request.window));
  const CfOwned<AXUIElementRef> application(
      AXUIElementCreateApplication(static_cast<pid_t>(*record->owner_pid)));
  if (!application) return Error(kNoAccess);
  AXUIElementSetMessagingTimeout(application.get(), kPerCallSeconds);
  const CfOwned<AXUIElementRef> window = AxWindowOf(application.get(), *record);
  if (!window) return Error(kNoAccess);
  if (!Act(application.get(), window.get(), request)) {
    return Error("unavailable: the window did not take the action");
  }
  const Clock::time_point deadline = Clock::now() + kWindowActionVerifyTime;
  while (!Done(window.get(), request)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

}  // namespace tarvix
