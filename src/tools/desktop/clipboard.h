// The "clipboard_read" and "clipboard_write" tools over the platform
// clipboard.
//
// clipboard_read {max_bytes 1..16 MiB, default 1 MiB} answers
// {bytes, text, truncated, types}: valid UTF-8 (ill-formed bytes become
// U+FFFD) of at most max_bytes, never ending in a cut character.
// clipboard_write {text} answers {bytes, done}.
#ifndef TARVIX_TOOLS_DESKTOP_CLIPBOARD_H_
#define TARVIX_TOOLS_DESKTOP_CLIPBOARD_H_

#include <cstddef>
#include <functional>
#include <string>

#include "json/json.h"
#include "platform/clipboard.h"

namespace tarvix {

inline constexpr size_t kDefaultClipboardReadBytes = size_t{1} << 20;

using ClipboardReader = std::function<Result<ClipboardText>(size_t max_bytes)>;
using ClipboardWriter = std::function<Result<void>(std::string text)>;

// The tools as the method table calls them.
ToolResult ClipboardRead(const Json& params);
ToolResult ClipboardWrite(const Json& params);
// Their logic over a given platform clipboard.
ToolResult ClipboardReadFrom(const Json& params, const ClipboardReader& read);
ToolResult ClipboardWriteTo(const Json& params, const ClipboardWriter& write);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_CLIPBOARD_H_
