// AppKit: the NSEvent class properties the input backend reads; the
// general pasteboard's text (with the Foundation classes it hands over).
#ifndef TARVIX_MACOS_SDK_APPKIT_H_
#define TARVIX_MACOS_SDK_APPKIT_H_

#include <ApplicationServices/ApplicationServices.h>

// Foundation types (64-bit).
typedef unsigned long NSUInteger;
typedef double NSTimeInterval;
typedef CGPoint NSPoint;
typedef long NSInteger;
typedef signed char BOOL;

__attribute__((objc_root_class))
@interface NSObject
@end

@interface NSString : NSObject
@property(nullable, readonly) const char* UTF8String __attribute__((objc_returns_inner_pointer));
@end

@interface NSArray<__covariant ObjectType> : NSObject
@property(readonly) NSUInteger count;
- (ObjectType)objectAtIndex:(NSUInteger)index;
@end

@interface NSData : NSObject
@property(readonly) NSUInteger length;
@property(readonly) const void* bytes __attribute__((objc_returns_inner_pointer));
+ (instancetype)dataWithBytes:(nullable const void*)bytes length:(NSUInteger)length;
@end

typedef NSString* NSPasteboardType __attribute__((swift_wrapper(struct)));
extern "C" __attribute__((visibility("default"))) NSPasteboardType const NSPasteboardTypeString;

@interface NSPasteboard : NSObject
@property(class, readonly, strong) NSPasteboard* generalPasteboard;
@property(readonly, nullable, copy) NSArray<NSPasteboardType>* types;
- (NSInteger)clearContents;
- (nullable NSData*)dataForType:(NSPasteboardType)dataType;
- (BOOL)setData:(nullable NSData*)data forType:(NSPasteboardType)dataType;
@end

@interface NSEvent : NSObject
@property(class, readonly) NSTimeInterval doubleClickInterval;
@property(class, readonly) NSPoint mouseLocation;
@property(class, readonly) NSUInteger pressedMouseButtons;
@end

#endif  // TARVIX_MACOS_SDK_APPKIT_H_
