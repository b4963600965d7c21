// AppKit: the NSEvent class properties the input backend reads.
#ifndef TARVIX_MACOS_SDK_APPKIT_H_
#define TARVIX_MACOS_SDK_APPKIT_H_

#include <ApplicationServices/ApplicationServices.h>

// Foundation types (64-bit).
typedef unsigned long NSUInteger;
typedef double NSTimeInterval;
typedef CGPoint NSPoint;

__attribute__((objc_root_class))
@interface NSObject
@end

@interface NSEvent : NSObject
@property(class, readonly) NSTimeInterval doubleClickInterval;
@property(class, readonly) NSPoint mouseLocation;
@property(class, readonly) NSUInteger pressedMouseButtons;
@end

#endif  // TARVIX_MACOS_SDK_APPKIT_H_
