// The clipboard on macOS: the general pasteboard's plain text (UTF-8).
#include <mutex>
#include <utility>

#include "platform/clipboard.h"
#include "platform/macos/pasteboard.h"

namespace tarvix {
namespace {

// One pasteboard call at a time, in arrival order.
std::mutex pasteboard_mutex;

}  // namespace

Result<ClipboardText> ReadClipboard(size_t max_bytes) {
  std::lock_guard lock(pasteboard_mutex);
  PasteboardContent content = ReadGeneralPasteboard(max_bytes);
  ClipboardText out;
  out.types = std::move(content.types);
  out.truncated = content.text_size > max_bytes;
  out.text = std::move(content.text);
  return out;
}

Result<void> WriteClipboard(std::string text) {
  std::lock_guard lock(pasteboard_mutex);
  if (!WriteGeneralPasteboard(text)) return Error("unavailable: the pasteboard refused the text");
  return {};
}

}  // namespace tarvix
