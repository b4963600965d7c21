// ApplicationServices: CoreGraphics (window list, displays, Quartz events)
// and HIServices' accessibility interface (AX).
#ifndef TARVIX_MACOS_SDK_APPLICATIONSERVICES_H_
#define TARVIX_MACOS_SDK_APPLICATIONSERVICES_H_

#include <CoreFoundation/CoreFoundation.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

// CGGeometry (64-bit: CGFloat is double).
typedef double CGFloat;
struct CGPoint {
  CGFloat x;
  CGFloat y;
};
typedef struct CGPoint CGPoint;
struct CGSize {
  CGFloat width;
  CGFloat height;
};
typedef struct CGSize CGSize;

struct CGRect {
  CGPoint origin;
  CGSize size;
};
typedef struct CGRect CGRect;

// mach/boolean.h.
#if defined(__x86_64__)
typedef unsigned int boolean_t;
#else
typedef int boolean_t;
#endif

// CGError.
typedef enum CGError : int32_t CGError;
enum CGError : int32_t {
  kCGErrorSuccess = 0,
};

static inline CGPoint CGPointMake(CGFloat x, CGFloat y) {
  CGPoint p;
  p.x = x;
  p.y = y;
  return p;
}

// CGWindow.
typedef uint32_t CGWindowID;
#define kCGNullWindowID ((CGWindowID)0)
typedef uint32_t CGWindowListOption;
enum : CGWindowListOption {
  kCGWindowListOptionAll = 0,
  kCGWindowListOptionOnScreenOnly = (1 << 0),
  kCGWindowListExcludeDesktopElements = (1 << 4),
};

// CGDirectDisplay.
typedef uint32_t CGDirectDisplayID;
typedef struct CGDisplayMode* CGDisplayModeRef;

// CGEventTypes, CGRemoteOperation.
typedef struct __CGEvent* CGEventRef;
typedef struct __CGEventSource* CGEventSourceRef;
typedef uint16_t CGKeyCode;

typedef enum CGMouseButton : uint32_t CGMouseButton;
enum CGMouseButton : uint32_t {
  kCGMouseButtonLeft = 0,
  kCGMouseButtonRight = 1,
  kCGMouseButtonCenter = 2,
};

typedef enum CGScrollEventUnit : uint32_t CGScrollEventUnit;
enum CGScrollEventUnit : uint32_t {
  kCGScrollEventUnitPixel = 0,
  kCGScrollEventUnitLine = 1,
};

typedef uint64_t CGEventFlags;
enum : CGEventFlags {
  kCGEventFlagMaskShift = 0x00020000,
  kCGEventFlagMaskControl = 0x00040000,
  kCGEventFlagMaskAlternate = 0x00080000,
  kCGEventFlagMaskCommand = 0x00100000,
};

typedef enum CGEventType : uint32_t CGEventType;
enum CGEventType : uint32_t {
  kCGEventLeftMouseDown = 1,
  kCGEventLeftMouseUp = 2,
  kCGEventRightMouseDown = 3,
  kCGEventRightMouseUp = 4,
  kCGEventMouseMoved = 5,
  kCGEventLeftMouseDragged = 6,
  kCGEventRightMouseDragged = 7,
  kCGEventOtherMouseDown = 25,
  kCGEventOtherMouseUp = 26,
};

typedef enum CGEventField : uint32_t CGEventField;
enum CGEventField : uint32_t {
  kCGMouseEventClickState = 1,
  kCGMouseEventDeltaX = 4,
  kCGMouseEventDeltaY = 5,
  kCGEventSourceUserData = 42,
};

typedef enum CGEventTapLocation : uint32_t CGEventTapLocation;
enum CGEventTapLocation : uint32_t {
  kCGHIDEventTap = 0,
};

typedef enum CGEventSourceStateID : int32_t CGEventSourceStateID;
enum CGEventSourceStateID : int32_t {
  kCGEventSourceStateCombinedSessionState = 0,
};

// HIServices: AXError, AXUIElement, AXValue.
typedef enum AXError : SInt32 AXError;
enum AXError : SInt32 {
  kAXErrorSuccess = 0,
  kAXErrorInvalidUIElement = -25202,
  kAXErrorCannotComplete = -25204,
};

typedef const struct __AXUIElement* AXUIElementRef;
typedef const struct __AXValue* AXValueRef;

typedef enum AXValueType : UInt32 AXValueType;
enum AXValueType : UInt32 {
  kAXValueTypeCGPoint = 1,
  kAXValueTypeCGSize = 2,
};

extern "C" {

CFTypeID AXUIElementGetTypeID(void);
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value);
AXError AXUIElementCopyActionNames(AXUIElementRef element, CFArrayRef* names);
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);
AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action);
AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value);
AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable);
AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid);
AXValueRef AXValueCreate(AXValueType theType, const void* valuePtr);

CFTypeID AXValueGetTypeID(void);
AXValueType AXValueGetType(AXValueRef value);
Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr);

CFArrayRef CGWindowListCopyWindowInfo(CGWindowListOption option, CGWindowID relativeToWindow);

CGDirectDisplayID CGMainDisplayID(void);
size_t CGDisplayPixelsHigh(CGDirectDisplayID display);
CGError CGGetActiveDisplayList(uint32_t maxDisplays, CGDirectDisplayID* activeDisplays,
                               uint32_t* displayCount);
CGRect CGDisplayBounds(CGDirectDisplayID display);
boolean_t CGDisplayIsMain(CGDirectDisplayID display);
boolean_t CGDisplayIsBuiltin(CGDirectDisplayID display);
CGDisplayModeRef CGDisplayCopyDisplayMode(CGDirectDisplayID display);
size_t CGDisplayModeGetWidth(CGDisplayModeRef mode);
size_t CGDisplayModeGetPixelWidth(CGDisplayModeRef mode);
void CGDisplayModeRelease(CGDisplayModeRef mode);
CGError CGGetDisplaysWithPoint(CGPoint point, uint32_t maxDisplays, CGDirectDisplayID* displays,
                               uint32_t* matchingDisplayCount);

CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID stateID);
CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton);
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey,
                                      bool keyDown);
CGEventRef CGEventCreateScrollWheelEvent2(CGEventSourceRef source, CGScrollEventUnit units,
                                          uint32_t wheelCount, int32_t wheel1, int32_t wheel2,
                                          int32_t wheel3);
void CGEventSetFlags(CGEventRef event, CGEventFlags flags);
void CGEventKeyboardSetUnicodeString(CGEventRef event, UniCharCount stringLength,
                                     const UniChar* unicodeString);
void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value);
void CGEventPost(CGEventTapLocation tap, CGEventRef event);

// CGImage, CGDataProvider (screen frames).
typedef struct CGImage* CGImageRef;
typedef struct CGDataProvider* CGDataProviderRef;
CGImageRef CGDisplayCreateImage(CGDirectDisplayID displayID);
size_t CGImageGetWidth(CGImageRef image);
size_t CGImageGetHeight(CGImageRef image);
size_t CGImageGetBitsPerPixel(CGImageRef image);
size_t CGImageGetBytesPerRow(CGImageRef image);
CGDataProviderRef CGImageGetDataProvider(CGImageRef image);
CFDataRef CGDataProviderCopyData(CGDataProviderRef provider);
void CGImageRelease(CGImageRef image);

}  // extern "C"

#endif  // TARVIX_MACOS_SDK_APPLICATIONSERVICES_H_
