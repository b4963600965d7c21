// The pointer and the RandR monitor holding it, on a connection of its own.
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include "platform/input_backend.h"
#include "platform/pointer_location.h"
#include "platform/x11/x_connection.h"

namespace tarvix {
namespace {

std::string Unreachable(const std::string& error) {
  if (error == kXServerSilent) {
    return std::string("no connection could be established: (cannot open the X display)") +
           kInputServerSilent;
  }
  return "no connection could be established: (" + error + ")";
}

// The 1-based place of the active monitor holding root point (x, y).
std::optional<int64_t> MonitorAt(const XConnection& x, int32_t root_x, int32_t root_y) {
  const Result<const xcb_query_extension_reply_t*> randr = x.Extension(&xcb_randr_id);
  if (!randr || *randr == nullptr || (*randr)->present == 0) return std::nullopt;
  XcbReply<xcb_randr_get_monitors_reply_t> monitors =
      x.ReplyOrNull<xcb_randr_get_monitors_reply_t>(xcb_randr_get_monitors(x.get(), x.root(), 1));
  if (!monitors) return std::nullopt;
  int64_t place = 1;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem != 0;
       xcb_randr_monitor_info_next(&it), ++place) {
    const xcb_randr_monitor_info_t& m = *it.data;
    if (root_x >= m.x && root_x < m.x + m.width && root_y >= m.y && root_y < m.y + m.height) {
      return place;
    }
  }
  return std::nullopt;
}

}  // namespace

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

}  // namespace tarvix
