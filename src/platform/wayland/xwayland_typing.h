// Typing into X clients through XWayland with the virtual keyboard.
//
// XWayland takes up each keymap the compositor forwards as soon as it
// reads it, but an X client looks a key event's keycode up when it reads
// the event, in its own copy of the keymap, which it fetches again after a
// keymap change was announced. A text typed on an uploaded keymap and the
// chord keymap uploaded straight after reach XWayland together: the client
// fetched the chord keymap before it read the keys, and read "Grüße" as
// Escape, 1, 2, 3, 4. So while an X window has the focus, a text keymap
// stays until the client has read the keys typed on it:
//   - first XWayland has handled them, seen in its key state (QueryKeymap):
//     the batch's last key is held until it shows down, then released and
//     waited for up. Only then is the ping sent: it travels on the
//     daemon's X connection and the keys on the compositor's, so a ping
//     sent earlier could reach the client before the keys;
//   - then the focused client answers a ping (_NET_WM_PING) sent after
//     them, which it does only once its event loop has read them.
// Native Wayland clients get the keymap in order with the keys on their
// own connection and need none of this.
#ifndef TARVIX_PLATFORM_WAYLAND_XWAYLAND_TYPING_H_
#define TARVIX_PLATFORM_WAYLAND_XWAYLAND_TYPING_H_

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "base/result.h"
#include "json/json.h"
#include "platform/x11/x_client_ping.h"
#include "platform/x11/x_connection.h"

namespace tarvix::wlr {

// The X window id of the focused view in sway's tree (get_tree) when that
// view is an X client through XWayland; nullopt when it is native or
// nothing has the focus.
std::optional<uint32_t> FocusedXWaylandWindow(const Json& tree);

class XWaylandTyping {
 public:
  // When sway (SWAYSOCK) reports an X client focused and DISPLAY names the
  // XWayland server that holds it (its input focus is that window or
  // inside it): the connection to that server. Null otherwise (another
  // compositor, a native window, no DISPLAY, a DISPLAY of another server):
  // typing then goes on without waiting for X clients. Bounded by sway's
  // and the X server's deadlines.
  static std::unique_ptr<XWaylandTyping> ForFocusedWindow();

  // Waits until XWayland's key state shows `keycode` (xkb keycode) down or
  // up, at most `timeout`. False when it did not or the server failed.
  bool AwaitKey(uint32_t keycode, bool down, std::chrono::milliseconds timeout);
  // Pings the focused X client (see x_client_ping.h).
  PingAnswer PingFocusedClient(std::chrono::milliseconds timeout);

 private:
  explicit XWaylandTyping(std::unique_ptr<XConnection> x) : x_(std::move(x)) {}
  std::unique_ptr<XConnection> x_;
};

}  // namespace tarvix::wlr

#endif  // TARVIX_PLATFORM_WAYLAND_XWAYLAND_TYPING_H_
