// Windows on wlroots compositors without sway's IPC (river, labwc,
// Hyprland, wayfire), through zwlr_foreign_toplevel_manager_v1, the
// protocol taskbars use.
//
// The protocol names each window by an object on one connection and gives
// no number that outlives it, so the daemon keeps one connection to the
// manager for its whole life, on a thread of its own that reads every
// event as it comes (the compositor would drop a client whose socket
// fills). Each toplevel gets the next id of a counter when it appears;
// ids are never reused, also across a reconnection after the compositor
// went away.
//
// What the protocol does not tell is absent: the owning process (pid
// null), the position (the window summary's rectangle is 0,0,0,0, the
// rule for a window without bounds) and the stacking order. The list runs
// the active window first, then the others newest first (the most
// recently opened is the likeliest on top).
//
// window_action: activate and raise ask to activate the window on the
// compositor's first seat; minimize, maximize and restore set and unset
// the states; close asks the client to close. A compositor may ignore any
// of them (sway ignores minimize and maximize): the reply then says
// verified false. move and resize are not supported: the protocol has no
// positions.
#ifndef TARVIX_PLATFORM_WAYLAND_WLR_TOPLEVELS_H_
#define TARVIX_PLATFORM_WAYLAND_WLR_TOPLEVELS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"
#include "platform/window_control.h"
#include "platform/window_query.h"

namespace tarvix {

// One toplevel as the manager last described it (its last `done`).
struct ToplevelInfo {
  uint64_t id = 0;  // the daemon's number for it, in order of appearance
  std::string title;
  std::string app_id;
  bool activated = false;
  bool minimized = false;
  bool maximized = false;
  bool fullscreen = false;
};

// The window records of `toplevels`, front to back as described above;
// without `all`, the minimized ones are left out.
std::vector<WindowRecord> ToplevelRecordsOf(const std::vector<ToplevelInfo>& toplevels, bool all);

namespace wlr {

// Through the lasting connection (opened on first use). Fail with the
// compositor's connection texts behind "window list unavailable - " and
// "unavailable: " as the sway path does.
Result<std::vector<WindowRecord>> QueryToplevels(bool all);
Result<bool> ControlToplevel(const WindowActionRequest& request);

}  // namespace wlr
}  // namespace tarvix

#endif  // TARVIX_PLATFORM_WAYLAND_WLR_TOPLEVELS_H_
