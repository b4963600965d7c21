// The monitors of an X screen: RandR's monitor list (RandR 1.5), which
// names each monitor and marks the primary one. Monitors are what desktops
// call displays; besides those made from outputs, a client may define
// its own (xrandr --setmonitor), e.g. to split one wide output in two.
#ifndef TARVIX_PLATFORM_X11_X_MONITORS_H_
#define TARVIX_PLATFORM_X11_X_MONITORS_H_

#include <string>
#include <vector>

#include "base/result.h"
#include "platform/x11/x_connection.h"

namespace tarvix {

struct XMonitor {
  std::string name;  // "" unless names were asked for, or the atom has none
  XRect rect;        // in root-window pixels
  bool primary = false;
};

// The active monitors in the server's order (the primary one first), with
// their names when `with_names` (one more round trip). Empty when the
// server has no RandR 1.5. Fails with the connection's error when the
// server does not answer.
Result<std::vector<XMonitor>> QueryMonitors(const XConnection& x, bool with_names);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_MONITORS_H_
