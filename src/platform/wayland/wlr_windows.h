// Windows on sway, read from its tree (sway IPC GET_TREE) and kept apart
// from the socket so the reading is tested on sample trees.
//
// A window is a view of the tree (a node with a "shell": xdg_shell or
// xwayland). Its id is sway's con_id, the number `[con_id=N]` names in
// sway commands. Bounds are the frame in the daemon's global points: sway's
// `rect` (the container without its title bar) grown upward by the title
// bar sway draws (`deco_rect`'s height, 0 for client-decorated, borderless
// and fullscreen windows), moved so the main display's top-left corner is
// the origin. `content` is where the client's surface lies (`window_rect`
// inside `rect`).
//
// Front to back: sway keeps no stacking list, so the order is its focus
// order: the focused window first, then each container's children in the
// order of its `focus` list (most recently focused first), depth first
// from the root. Floating windows are raised when focused, so among them
// this is also the order in which they cover each other.
//
// Minimized: a window sway does not show (`visible` false): one moved to
// the scratchpad, one on a workspace not shown, a tab behind another.
#ifndef TARVIX_PLATFORM_WAYLAND_WLR_WINDOWS_H_
#define TARVIX_PLATFORM_WAYLAND_WLR_WINDOWS_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "platform/point_rect.h"
#include "platform/window_query.h"

namespace tarvix {

struct SwayView {
  // id, names, pid, focused, minimized; the frame in sway's layout
  // coordinates (not yet moved to global points).
  WindowRecord record;
  PointRect content;  // the surface's area, sway's layout coordinates
  bool floating = false;
  bool fullscreen = false;
  bool scratchpad = false;  // in the scratchpad and hidden there
};

// The views of a GET_TREE reply, front to back. The owner is the
// Wayland app_id, else the X11 class of an XWayland window, else "" (the
// caller names it by the process). Fails when the text is no sway tree.
Result<std::vector<SwayView>> SwayViewsOf(std::string_view tree_json);

// Whether an active output of a GET_OUTPUTS reply has its top-left corner
// at (0,0) of sway's layout: that output is then the main display and
// sway's layout coordinates are global points. Fails when the text is no
// output list.
Result<bool> SwayOutputAtOrigin(std::string_view outputs_json);

// The records for the window list: `views` moved by -origin; without
// `all`, only the shown ones.
std::vector<WindowRecord> WindowRecordsOf(const std::vector<SwayView>& views, bool all,
                                          int64_t origin_x, int64_t origin_y);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_WAYLAND_WLR_WINDOWS_H_
