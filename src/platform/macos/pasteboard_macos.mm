#import <AppKit/AppKit.h>

#include <algorithm>

#include "platform/macos/pasteboard.h"

namespace tarvix {

PasteboardContent ReadGeneralPasteboard(size_t max_bytes) {
  PasteboardContent out;
  @autoreleasepool {
    NSPasteboard* board = [NSPasteboard generalPasteboard];
    NSArray<NSPasteboardType>* types = [board types];
    const NSUInteger count = types == nullptr ? 0 : [types count];
    for (NSUInteger i = 0; i < count; ++i) {
      const char* name = [[types objectAtIndex:i] UTF8String];
      if (name != nullptr) out.types.emplace_back(name);
    }
    NSData* data = [board dataForType:NSPasteboardTypeString];
    if (data != nullptr) {
      out.text_size = [data length];
      out.text.assign(static_cast<const char*>([data bytes]), std::min(out.text_size, max_bytes));
    }
  }
  return out;
}

bool WriteGeneralPasteboard(std::string_view text) {
  bool written = false;
  @autoreleasepool {
    NSPasteboard* board = [NSPasteboard generalPasteboard];
    [board clearContents];
    NSData* data = [NSData dataWithBytes:text.data() length:text.size()];
    written = [board setData:data forType:NSPasteboardTypeString];
  }
  return written;
}

}  // namespace tarvix
