// The clipboard on wlroots compositors through data control
// (zwlr_data_control_manager_v1), which reads and sets the seat's
// selection without keyboard focus. The contract is platform/clipboard.h;
// the wlroots backend's table serves these two.
//
// Reading opens a connection of its own per call: the compositor announces
// the current selection's offer with its mime types, and the owner writes
// the text into a pipe of ours that is read against deadlines (the owner
// gets 1 s per step, the whole read 5 s), so a stopped owner costs a call
// about a second. Writing hands the text to one thread with its own
// connection, which owns a data-control source offering the text types and
// serves every `send` with non-blocking writes, until another client takes
// the selection; the selection goes with that connection when the daemon
// exits. "types" are the owner's mime types.
#ifndef TARVIX_PLATFORM_WAYLAND_WLR_CLIPBOARD_H_
#define TARVIX_PLATFORM_WAYLAND_WLR_CLIPBOARD_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "platform/clipboard.h"

namespace tarvix::wlr {

Result<ClipboardText> ReadClipboard(size_t max_bytes);
Result<void> WriteClipboard(std::string text);

// The mime type to ask an owner offering `offered` for: UTF-8 text
// ("text/plain;charset=utf-8", X11's UTF8_STRING through XWayland, plain
// "text/plain"), else STRING (Latin-1); "" when it offers no text.
std::string_view ChooseTextMime(const std::vector<std::string>& offered);

}  // namespace tarvix::wlr

#endif  // TARVIX_PLATFORM_WAYLAND_WLR_CLIPBOARD_H_
