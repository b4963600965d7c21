// Displays on X11: RandR's monitors, placed relative to the main display
// the rest of the daemon uses (XConnection::MainDisplay), so a display's
// x and y are the global points input and screenshots use. Without a
// monitor list (RandR before 1.5) the root window is the one display.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "platform/displays.h"
#include "platform/x11/x_connection.h"
#include "platform/x11/x_monitors.h"

namespace tarvix {
namespace {

Unexpected<std::string> Unavailable(const std::string& error) {
  if (error == kXServerSilent) return Error(std::string("unavailable: ") + kXServerSilent);
  if (error == "cannot open the X display") {
    return Error(std::string("unavailable: ") + kXDisplayHint);
  }
  return Error("unavailable: " + error);
}

bool SameRect(const XRect& a, const XRect& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

}  // namespace

// Served through the desktop chooser (platform/desktop_backend.h).
namespace x11 {

Result<std::vector<DisplayInfo>> ListDisplays() {
  Result<std::unique_ptr<XConnection>> opened = XConnection::Open();
  if (!opened) return Unavailable(opened.error());
  const XConnection& x = **opened;
  const XRect main = x.MainDisplay();
  Result<std::vector<XMonitor>> monitors = QueryMonitors(x, true);
  if (!monitors) return Unavailable(monitors.error());
  if (x.broken()) {
    return Unavailable(x.severed() ? kXServerSilent : "the X server closed the connection");
  }
  if (monitors->empty()) {
    monitors->push_back({"screen",
                         XRect{0, 0, x.screen().width_in_pixels, x.screen().height_in_pixels},
                         false});
  }
  // The main display is the primary monitor when there is one; otherwise
  // the first monitor that covers exactly what the daemon calls main, if any.
  bool any_primary = false;
  for (const XMonitor& monitor : *monitors) any_primary = any_primary || monitor.primary;
  bool main_found = false;
  std::vector<DisplayInfo> displays;
  for (size_t i = 0; i < monitors->size(); ++i) {
    const XMonitor& monitor = (*monitors)[i];
    const bool primary =
        any_primary ? monitor.primary : !main_found && SameRect(monitor.rect, main);
    main_found = main_found || primary;
    displays.push_back({.id = static_cast<int64_t>(i + 1),
                        .name = LossyUtf8(monitor.name),
                        .x = int64_t{monitor.rect.x} - main.x,
                        .y = int64_t{monitor.rect.y} - main.y,
                        .width = monitor.rect.width,
                        .height = monitor.rect.height,
                        .scale = 1,
                        .primary = primary});
  }
  return displays;
}

}  // namespace x11
}  // namespace tarvix
