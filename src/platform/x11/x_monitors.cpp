#include "platform/x11/x_monitors.h"

#include <xcb/randr.h>

#include <utility>

namespace tarvix {

Result<std::vector<XMonitor>> QueryMonitors(const XConnection& x, bool with_names) {
  xcb_connection_t* c = x.get();
  Result<const xcb_query_extension_reply_t*> randr = x.Extension(&xcb_randr_id);
  if (!randr) return Error(std::move(randr).error());
  if (*randr == nullptr || !(*randr)->present) return std::vector<XMonitor>();
  // A server before RandR 1.5 answers with an error: no monitor list.
  Result<XcbReply<xcb_randr_get_monitors_reply_t>> reply =
      x.Await<xcb_randr_get_monitors_reply_t>(xcb_randr_get_monitors(c, x.root(), 1));
  if (!reply) return Error(std::move(reply).error());
  std::vector<XMonitor> monitors;
  if (!*reply) return monitors;
  std::vector<xcb_get_atom_name_cookie_t> names;
  for (auto m = xcb_randr_get_monitors_monitors_iterator(reply->get()); m.rem > 0;
       xcb_randr_monitor_info_next(&m)) {
    monitors.push_back(
        {"", XRect{m.data->x, m.data->y, m.data->width, m.data->height}, m.data->primary != 0});
    if (with_names) names.push_back(xcb_get_atom_name(c, m.data->name));
  }
  for (size_t i = 0; i < names.size(); ++i) {
    Result<XcbReply<xcb_get_atom_name_reply_t>> name =
        x.Await<xcb_get_atom_name_reply_t>(names[i]);
    if (!name) return Error(std::move(name).error());
    if (!*name) continue;
    monitors[i].name.assign(xcb_get_atom_name_name(name->get()),
                            static_cast<size_t>(xcb_get_atom_name_name_length(name->get())));
  }
  return monitors;
}

}  // namespace tarvix
