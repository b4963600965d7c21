// The clipboard on macOS: the general pasteboard's plain text (UTF-8).
#import <AppKit/AppKit.h>

#include <algorithm>
#include <mutex>

#include "platform/clipboard.h"

namespace tarvix {
namespace {

// One pasteboard call at a time, in arrival order.
std::mutex pasteboard_mutex;

}  // namespace

Result<ClipboardText> ReadClipboard(size_t max_bytes) {
  std::lock_guard lock(pasteboard_mutex);
  ClipboardText out;
  // Request workers have no autorelease pool of their own.
  @autoreleasepool {
    NSPasteboard* board = [NSPasteboard generalPasteboard];
    NSArray<NSPasteboardType>* types = [board types];
    const NSUInteger count = types == nullptr ? 0 : [types count];
    for (NSUInteger i = 0; i < count; ++i) {
      const char* name = [[types objectAtIndex:i] UTF8String];
      if (name != nullptr) out.types.emplace_back(name);
    }
    NSData* data = [board dataForType:NSPasteboardTypeString];
    if (data != nullptr && [data length] > 0) {
      const size_t size = [data length];
      out.truncated = size > max_bytes;
      out.text.assign(static_cast<const char*>([data bytes]), std::min(size, max_bytes));
    }
  }
  return out;
}

Result<void> WriteClipboard(std::string text) {
  std::lock_guard lock(pasteboard_mutex);
  bool written = false;
  @autoreleasepool {
    NSPasteboard* board = [NSPasteboard generalPasteboard];
    [board clearContents];
    NSData* data = [NSData dataWithBytes:text.data() length:text.size()];
    written = [board setData:data forType:NSPasteboardTypeString];
  }
  if (!written) return Error("unavailable: the pasteboard refused the text");
  return {};
}

}  // namespace tarvix
