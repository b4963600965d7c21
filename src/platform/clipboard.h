// The desktop clipboard as text: read what the current owner offers, or
// make the daemon the owner of a text.
//
// The platform file defines both functions. On X11 the daemon speaks the
// selection protocol itself on a connection and thread of its own, which
// also answers other clients for as long as the daemon owns the clipboard;
// on macOS it is the general pasteboard.
//
// Thread-safe: calls may come from any thread; they are carried out one at
// a time in arrival order. Every call is bounded in time.
#ifndef TARVIX_PLATFORM_CLIPBOARD_H_
#define TARVIX_PLATFORM_CLIPBOARD_H_

#include <cstddef>
#include <string>
#include <vector>

#include "base/result.h"

namespace tarvix {

// The most the daemon reads from, or owns on, the clipboard.
inline constexpr size_t kMaxClipboardBytes = size_t{16} << 20;

struct ClipboardText {
  // UTF-8 as the owner gave it (not checked here), at most the max_bytes
  // asked for (a multi-byte character may be cut at the end).
  std::string text;
  // True when the owner had more than max_bytes.
  bool truncated = false;
  // The formats the owner offers (X11 targets, pasteboard types); empty
  // when nothing owns the clipboard.
  std::vector<std::string> types;
};

// The clipboard's text, at most `max_bytes` of it. Nothing owning it is an
// empty text with no types. Errors are complete messages that begin with
// "unavailable: ".
Result<ClipboardText> ReadClipboard(size_t max_bytes);

// Makes `text` (at most kMaxClipboardBytes, checked by the caller) the
// clipboard's content. What the daemon owns goes away when it exits.
Result<void> WriteClipboard(std::string text);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_CLIPBOARD_H_
