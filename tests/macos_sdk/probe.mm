// Every declaration of the stand-in, reduced to symbol names that encode
// its exact type or value: compiled once against the stand-in and once
// against a real macOS SDK (scripts/check-macos-sdk.sh), the two lists of
// names must be equal. A name that differs points at the declaration.
#import <AppKit/AppKit.h>
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>
#include <CoreFoundation/CoreFoundation.h>
#include <fcntl.h>
#include <libproc.h>
#include <mach/mach.h>
#include <mach/mach_time.h>
#include <malloc/malloc.h>
#include <stddef.h>
#include <sys/event.h>
#include <sys/param.h>
#include <sys/proc_info.h>
#include <sys/sysctl.h>
#include <unistd.h>

template <typename Tag, typename T>
void Type() {}
template <typename Tag, long long Value>
void Value() {}
template <typename Tag, size_t Size, size_t Align>
void Layout() {}

// A function's or variable's type, a type, a constant's value and its type
// where that type has a name, a record's size and alignment, a field's
// offset and type.
#define FUNCTION(f) struct Tag_##f; template void Type<Tag_##f, decltype(&f)>();
#define VARIABLE(v) struct Tag_##v; template void Type<Tag_##v, decltype(v)>();
#define TYPE(t) struct Tag_##t; template void Type<Tag_##t, t>();
#define VALUE(c) struct Tag_##c; template void Value<Tag_##c, (long long)(c)>();
#define TYPED_VALUE(c) VALUE(c) template void Type<Tag_##c, decltype(c)>();
#define RECORD(r) struct Tag_##r; template void Layout<Tag_##r, sizeof(r), alignof(r)>();
#define FIELD(r, f)                                               \
  struct Tag_##r##_##f;                                           \
  template void Value<Tag_##r##_##f, (long long)offsetof(r, f)>(); \
  template void Type<Tag_##r##_##f, decltype(r::f)>();
#define CLASS_PROPERTY(c, p) \
  struct Tag_##c##_##p;      \
  template void Type<Tag_##c##_##p, decltype([c p])>();

// CoreFoundation.
TYPE(UInt8) TYPE(UInt16) TYPE(UInt32) TYPE(SInt32) TYPE(Boolean) TYPE(OSStatus) TYPE(OptionBits)
TYPE(UniChar) TYPE(UniCharCount) TYPE(CFTypeID) TYPE(CFIndex) TYPE(CFTypeRef) TYPE(CFStringRef)
TYPE(CFAllocatorRef) TYPE(CFArrayRef) TYPE(CFDictionaryRef) TYPE(CFBooleanRef) TYPE(CFNumberRef)
TYPE(CFDataRef) TYPE(CFStringEncoding) TYPE(CFNumberType)
RECORD(CFRange) FIELD(CFRange, location) FIELD(CFRange, length)
VALUE(noErr) TYPED_VALUE(kCFNumberSInt64Type) TYPED_VALUE(kCFNumberFloat64Type)
TYPED_VALUE(kCFStringEncodingUTF8)
VARIABLE(kCFAllocatorDefault) VARIABLE(kCFBooleanTrue) VARIABLE(kCFBooleanFalse)
TYPE(CFHashCode) FUNCTION(CFRangeMake) FUNCTION(CFGetTypeID) FUNCTION(CFRetain) FUNCTION(CFRelease)
FUNCTION(CFEqual) FUNCTION(CFHash)
FUNCTION(CFArrayGetTypeID) FUNCTION(CFArrayGetCount) FUNCTION(CFArrayGetValueAtIndex)
FUNCTION(CFDictionaryGetTypeID) FUNCTION(CFDictionaryGetValueIfPresent)
FUNCTION(CFNumberGetTypeID) FUNCTION(CFNumberGetValue) FUNCTION(CFDataGetBytePtr)
FUNCTION(CFDataGetLength)
FUNCTION(CFStringGetTypeID) FUNCTION(CFStringCreateWithBytes) FUNCTION(CFStringGetLength)
FUNCTION(CFStringGetCStringPtr) FUNCTION(CFStringGetBytes)

// ApplicationServices: CoreGraphics.
TYPE(CGFloat) RECORD(CGPoint) FIELD(CGPoint, x) FIELD(CGPoint, y)
RECORD(CGSize) FIELD(CGSize, width) FIELD(CGSize, height) FUNCTION(CGPointMake)
RECORD(CGRect) FIELD(CGRect, origin) FIELD(CGRect, size) TYPE(boolean_t) TYPE(CGError)
TYPED_VALUE(kCGErrorSuccess) TYPE(CGDisplayModeRef)
FUNCTION(CGGetActiveDisplayList) FUNCTION(CGDisplayBounds) FUNCTION(CGDisplayIsMain)
FUNCTION(CGDisplayIsBuiltin) FUNCTION(CGDisplayCopyDisplayMode) FUNCTION(CGDisplayModeGetWidth)
FUNCTION(CGDisplayModeGetPixelWidth) FUNCTION(CGDisplayModeRelease)
TYPE(CGWindowID) TYPE(CGWindowListOption) TYPE(CGDirectDisplayID) TYPE(CGEventRef)
TYPE(CGEventSourceRef) TYPE(CGKeyCode) TYPE(CGMouseButton) TYPE(CGScrollEventUnit)
TYPE(CGEventFlags) TYPE(CGEventType) TYPE(CGEventField) TYPE(CGEventTapLocation)
TYPE(CGEventSourceStateID)
VALUE(kCGNullWindowID) VALUE(kCGWindowListOptionAll) VALUE(kCGWindowListOptionOnScreenOnly)
VALUE(kCGWindowListExcludeDesktopElements) VALUE(kCGEventFlagMaskShift)
VALUE(kCGEventFlagMaskControl) VALUE(kCGEventFlagMaskAlternate) VALUE(kCGEventFlagMaskCommand)
TYPED_VALUE(kCGMouseButtonLeft) TYPED_VALUE(kCGMouseButtonRight) TYPED_VALUE(kCGMouseButtonCenter)
TYPED_VALUE(kCGScrollEventUnitPixel) TYPED_VALUE(kCGScrollEventUnitLine)
TYPED_VALUE(kCGEventLeftMouseDown) TYPED_VALUE(kCGEventLeftMouseUp)
TYPED_VALUE(kCGEventRightMouseDown) TYPED_VALUE(kCGEventRightMouseUp)
TYPED_VALUE(kCGEventMouseMoved) TYPED_VALUE(kCGEventLeftMouseDragged)
TYPED_VALUE(kCGEventRightMouseDragged) TYPED_VALUE(kCGEventOtherMouseDown)
TYPED_VALUE(kCGEventOtherMouseUp) TYPED_VALUE(kCGMouseEventClickState)
TYPED_VALUE(kCGMouseEventDeltaX) TYPED_VALUE(kCGMouseEventDeltaY)
TYPED_VALUE(kCGEventSourceUserData) TYPED_VALUE(kCGHIDEventTap)
TYPED_VALUE(kCGEventSourceStateCombinedSessionState)
FUNCTION(CGWindowListCopyWindowInfo) FUNCTION(CGMainDisplayID) FUNCTION(CGDisplayPixelsHigh)
FUNCTION(CGGetDisplaysWithPoint)
FUNCTION(CGEventSourceCreate) FUNCTION(CGEventCreateMouseEvent) FUNCTION(CGEventCreateKeyboardEvent)
FUNCTION(CGEventCreateScrollWheelEvent2) FUNCTION(CGEventSetFlags)
FUNCTION(CGEventKeyboardSetUnicodeString) FUNCTION(CGEventSetIntegerValueField) FUNCTION(CGEventPost)
TYPE(CGImageRef) TYPE(CGDataProviderRef) FUNCTION(CGDisplayCreateImage) FUNCTION(CGImageGetWidth)
FUNCTION(CGImageGetHeight) FUNCTION(CGImageGetBitsPerPixel) FUNCTION(CGImageGetBytesPerRow)
FUNCTION(CGImageGetDataProvider) FUNCTION(CGDataProviderCopyData) FUNCTION(CGImageRelease)

// ApplicationServices: HIServices.
TYPE(AXError) TYPE(AXUIElementRef) TYPE(AXValueRef) TYPE(AXValueType)
TYPED_VALUE(kAXErrorSuccess) TYPED_VALUE(kAXErrorCannotComplete) TYPED_VALUE(kAXValueTypeCGPoint)
TYPED_VALUE(kAXValueTypeCGSize)
FUNCTION(AXUIElementGetTypeID) FUNCTION(AXUIElementCreateApplication)
FUNCTION(AXUIElementCopyAttributeValue) FUNCTION(AXUIElementCopyActionNames)
FUNCTION(AXUIElementSetMessagingTimeout) FUNCTION(AXValueGetTypeID) FUNCTION(AXValueGetType)
FUNCTION(AXValueGetValue) FUNCTION(AXUIElementSetAttributeValue) FUNCTION(AXUIElementPerformAction)
FUNCTION(AXValueCreate)

// Carbon.
TYPE(EventModifiers) TYPE(TISInputSourceRef) TYPE(UCKeyboardLayout)
VALUE(shiftKeyBit) VALUE(shiftKey) VALUE(kUCKeyActionDown) VALUE(kUCKeyTranslateNoDeadKeysBit)
VALUE(kUCKeyTranslateNoDeadKeysMask)
VARIABLE(kTISPropertyUnicodeKeyLayoutData) FUNCTION(TISCopyCurrentKeyboardInputSource)
FUNCTION(TISCopyCurrentKeyboardLayoutInputSource) FUNCTION(TISGetInputSourceProperty)
FUNCTION(LMGetKbdType) FUNCTION(UCKeyTranslate)

// AppKit.
TYPE(NSUInteger) TYPE(NSTimeInterval) TYPE(NSPoint)
CLASS_PROPERTY(NSEvent, doubleClickInterval) CLASS_PROPERTY(NSEvent, mouseLocation)
CLASS_PROPERTY(NSEvent, pressedMouseButtons)
TYPE(NSInteger) TYPE(BOOL) TYPE(NSPasteboardType) VARIABLE(NSPasteboardTypeString)
CLASS_PROPERTY(NSPasteboard, generalPasteboard)

// Darwin system headers (only what the stand-in declares; the POSIX
// calls it takes from the host carry the host's noexcept).
TYPE(int8_t) TYPE(int16_t) TYPE(int32_t) TYPE(int64_t) TYPE(uint8_t) TYPE(uint16_t) TYPE(uint32_t)
TYPE(uint64_t) TYPE(size_t) TYPE(intptr_t) TYPE(uintptr_t)
VALUE(_CS_DARWIN_USER_TEMP_DIR) VALUE(F_GETPATH) VALUE(MAXPATHLEN)
VALUE(MAXCOMLEN) VALUE(CTL_KERN) VALUE(CTL_HW) VALUE(KERN_OSTYPE) VALUE(KERN_OSRELEASE)
VALUE(KERN_HOSTNAME) VALUE(KERN_BOOTTIME) VALUE(HW_NCPU) VALUE(HW_MEMSIZE) FUNCTION(sysctl)
FUNCTION(sysctlbyname)
VALUE(PROC_ALL_PIDS) VALUE(PROC_PIDTBSDINFO) VALUE(PROC_PIDTASKINFO) FUNCTION(proc_listpids)
FUNCTION(proc_pidinfo) FUNCTION(proc_name)
RECORD(proc_bsdinfo) FIELD(proc_bsdinfo, pbi_status) FIELD(proc_bsdinfo, pbi_comm)
FIELD(proc_bsdinfo, pbi_name) FIELD(proc_bsdinfo, pbi_start_tvsec)
FIELD(proc_bsdinfo, pbi_start_tvusec)
RECORD(proc_taskinfo) FIELD(proc_taskinfo, pti_resident_size) FIELD(proc_taskinfo, pti_total_user)
FIELD(proc_taskinfo, pti_total_system)
VALUE(EVFILT_PROC) VALUE(EV_ADD) VALUE(EV_ONESHOT) VALUE(NOTE_EXIT) FUNCTION(kqueue) FUNCTION(kevent)
typedef struct kevent KernelEvent;  // the function kevent hides the bare name
RECORD(KernelEvent) FIELD(KernelEvent, ident) FIELD(KernelEvent, filter) FIELD(KernelEvent, flags)
FIELD(KernelEvent, fflags) FIELD(KernelEvent, data) FIELD(KernelEvent, udata)
TYPE(kern_return_t) TYPE(natural_t) TYPE(integer_t) TYPE(vm_size_t) TYPE(mach_port_t) TYPE(host_t)
TYPE(ipc_space_t) TYPE(mach_port_name_t) TYPE(mach_msg_type_number_t) TYPE(host_flavor_t)
TYPE(host_info64_t) VALUE(KERN_SUCCESS) VALUE(HOST_VM_INFO64) VALUE(HOST_VM_INFO64_COUNT)
RECORD(vm_statistics64_data_t) FIELD(vm_statistics64_data_t, active_count)
FIELD(vm_statistics64_data_t, wire_count) FIELD(vm_statistics64_data_t, speculative_count)
FIELD(vm_statistics64_data_t, compressor_page_count)
VARIABLE(mach_task_self_) FUNCTION(mach_host_self) FUNCTION(host_page_size)
FUNCTION(host_statistics64) FUNCTION(mach_port_deallocate)
RECORD(mach_timebase_info_data_t) FIELD(mach_timebase_info_data_t, numer)
FIELD(mach_timebase_info_data_t, denom) TYPE(mach_timebase_info_t) FUNCTION(mach_timebase_info)
TYPE(malloc_zone_t) FUNCTION(malloc_zone_pressure_relief)
