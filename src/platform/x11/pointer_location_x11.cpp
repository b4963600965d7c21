// The pointer and the RandR monitor holding it, on a connection of its own.
#include <xcb/xcb.h>

#include "platform/input_backend.h"
#include "platform/pointer_location.h"
#include "platform/x11/x_connection.h"
#include "platform/x11/x_monitors.h"

namespace tarvix {
namespace {

std::string Unreachable(const std::string& error) {
  if (error == kXServerSilent) {
    return std::string("no connection could be established: (cannot open the X display)") +
           kInputServerSilent;
  }
  return "no connection could be established: (" + error + ")";
}

// The 1-based place of the active monitor holding root point (x, y), as
// the displays list numbers them.
std::optional<int64_t> MonitorAt(const XConnection& x, int32_t root_x, int32_t root_y) {
  const Result<std::vector<XMonitor>> monitors = QueryMonitors(x, false);
  if (!monitors) return std::nullopt;
  for (size_t i = 0; i < monitors->size(); ++i) {
    const XRect& m = (*monitors)[i].rect;
    if (root_x >= m.x && root_x < m.x + static_cast<int64_t>(m.width) && root_y >= m.y &&
        root_y < m.y + static_cast<int64_t>(m.height)) {
      return static_cast<int64_t>(i) + 1;
    }
  }
  return std::nullopt;
}

}  // namespace

// Served through the desktop chooser (platform/desktop_backend.h).
namespace x11 {

Result<PointerLocation> LocatePointer() {
  Result<std::unique_ptr<XConnection>> x = XConnection::Open();
  if (!x) return Error(Unreachable(x.error()));
  const XRect origin = (*x)->MainDisplay();
  Result<XcbReply<xcb_query_pointer_reply_t>> pointer =
      (*x)->Await<xcb_query_pointer_reply_t>(xcb_query_pointer((*x)->get(), (*x)->root()));
  if (!pointer) return Error(Unreachable(pointer.error()));
  if (!*pointer) return Error("unavailable: the X server did not tell where the pointer is");
  const int32_t root_x = (*pointer)->root_x, root_y = (*pointer)->root_y;
  return PointerLocation{root_x - origin.x, root_y - origin.y, MonitorAt(**x, root_x, root_y)};
}

}  // namespace x11
}  // namespace tarvix
