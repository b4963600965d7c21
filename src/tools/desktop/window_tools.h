// `list_windows` and `window_action`: every window with its id, owner,
// state and display, and the window manager asked to act on one of them.
#ifndef TARVIX_TOOLS_DESKTOP_WINDOW_TOOLS_H_
#define TARVIX_TOOLS_DESKTOP_WINDOW_TOOLS_H_

#include <functional>
#include <optional>

#include "json/json.h"
#include "platform/displays.h"
#include "platform/window_control.h"
#include "tools/desktop/window_list.h"

namespace tarvix {

// The services the two tools use, replaceable for tests.
struct WindowServices {
  WindowQuery windows = QueryAllWindows;
  std::function<Result<bool>(const WindowActionRequest&)> control = ControlWindow;
  std::function<Result<std::vector<DisplayInfo>>()> displays = ListDisplays;
};

// {} -> {"windows":[{app,h,title,w,x,y,id,pid,focused,minimized,display}]},
// front to back, minimized windows in their stacking place; display is the
// id of the display holding the window's centre (null when none does or
// the displays cannot be listed).
ToolResult ListWindows(const Json& params, const WindowServices& services);
ToolResult ListWindows(const Json& params);

// {window, action, x, y, w, h} -> {"done":true,"verified","bounds"}.
ToolResult WindowActionTool(const Json& params, const WindowServices& services);
ToolResult WindowActionTool(const Json& params);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_WINDOW_TOOLS_H_
