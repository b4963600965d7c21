// The window query on X11: EWMH client windows (or, without an EWMH window
// manager, the root's top-level windows) with their names, owners, frames
// and layers. Every request of a step is sent before any reply is awaited,
// so a screen of windows costs a few round trips, not a few per window.
// Every reply has the connection's deadline; once the server has missed
// one, the rest fail at once and the query reports the silence.
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "platform/window_query.h"
#include "platform/x11/x_connection.h"
#include "platform/x11/x_text.h"

namespace tarvix {
namespace {

// Layers of windows that float over applications; only 0 matters to the
// front application, the values follow the reference window server's.
constexpr int64_t kAboveLayer = 3;
constexpr int64_t kDockLayer = 20;
constexpr int64_t kNotificationLayer = 25;

enum AtomName {
  kClientListStacking, kNetWmName, kUtf8String, kNetWmPid, kFrameExtents, kWindowType,
  kTypeDesktop, kTypeDock, kTypeNotification, kWmState, kStateAbove, kCompoundText,
  kActiveWindow, kStateHidden, kIcccmState, kAtomCount,
};
constexpr std::array<std::string_view, kAtomCount> kAtomNames = {
    "_NET_CLIENT_LIST_STACKING", "_NET_WM_NAME", "UTF8_STRING", "_NET_WM_PID",
    "_NET_FRAME_EXTENTS", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK", "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_STATE",
    "_NET_WM_STATE_ABOVE", "COMPOUND_TEXT", "_NET_ACTIVE_WINDOW", "_NET_WM_STATE_HIDDEN",
    "WM_STATE",
};

// Atoms that do not exist yet are XCB_ATOM_NONE: no window can carry them,
// and looking them up creates nothing on the server.
std::array<xcb_atom_t, kAtomCount> InternAtoms(const XConnection& x) {
  xcb_connection_t* c = x.get();
  std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies;
  for (size_t i = 0; i < kAtomCount; ++i) {
    cookies[i] = xcb_intern_atom(c, 1, static_cast<uint16_t>(kAtomNames[i].size()),
                                 kAtomNames[i].data());
  }
  std::array<xcb_atom_t, kAtomCount> atoms{};
  for (size_t i = 0; i < kAtomCount; ++i) {
    XcbReply<xcb_intern_atom_reply_t> reply = x.ReplyOrNull<xcb_intern_atom_reply_t>(cookies[i]);
    atoms[i] = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  }
  return atoms;
}

// Property values are capped: a title or class beyond 64 KiB is not a name.
constexpr uint32_t kMaxPropertyWords = 16384;

xcb_get_property_cookie_t AskProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name) {
  return xcb_get_property(c, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxPropertyWords);
}

struct Property {
  xcb_atom_t type = XCB_ATOM_NONE;
  uint8_t format = 0;
  std::string bytes;

  template <typename T>
  std::vector<T> Values() const {
    std::vector<T> values(bytes.size() / sizeof(T));
    if (!values.empty()) std::memcpy(values.data(), bytes.data(), values.size() * sizeof(T));
    return values;
  }
};

Property TakeProperty(const XConnection& x, xcb_get_property_cookie_t cookie) {
  XcbReply<xcb_get_property_reply_t> reply = x.ReplyOrNull<xcb_get_property_reply_t>(cookie);
  Property property;
  if (!reply || reply->type == XCB_ATOM_NONE) return property;
  property.type = reply->type;
  property.format = reply->format;
  property.bytes.assign(static_cast<const char*>(xcb_get_property_value(reply.get())),
                        static_cast<size_t>(xcb_get_property_value_length(reply.get())) *
                            (reply->format / 8));
  return property;
}

std::string TextOf(const Property& property, const std::array<xcb_atom_t, kAtomCount>& atoms) {
  if (property.format != 8) return "";
  std::string_view bytes = property.bytes;
  // Lists of strings end each with NUL; a name is the first one.
  bytes = bytes.substr(0, bytes.find('\0'));
  if (property.type == atoms[kUtf8String] && atoms[kUtf8String] != XCB_ATOM_NONE) {
    return LossyUtf8(bytes);
  }
  if (property.type == atoms[kCompoundText] && atoms[kCompoundText] != XCB_ATOM_NONE) {
    return CompoundTextToUtf8(bytes);
  }
  return Latin1ToUtf8(bytes);
}

// WM_CLASS holds "instance\0class\0"; the class names the application.
std::string ClassOf(const Property& property) {
  if (property.format != 8) return "";
  const std::string_view bytes = property.bytes;
  const size_t instance_end = bytes.find('\0');
  if (instance_end == std::string_view::npos) return "";
  std::string_view rest = bytes.substr(instance_end + 1);
  return Latin1ToUtf8(rest.substr(0, rest.find('\0')));
}

std::string CommandNameOf(int64_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!comm || !std::getline(comm, name)) return "";
  return LossyUtf8(name);
}

struct Candidate {
  xcb_window_t window = XCB_NONE;
  xcb_get_window_attributes_cookie_t attributes;
  xcb_get_geometry_cookie_t geometry;
  xcb_translate_coordinates_cookie_t origin;
  xcb_get_property_cookie_t wm_class, net_name, wm_name, pid, extents, type, state, icccm_state;
};

// The windows to report, bottom to top: the window manager's stacking
// list of client windows, else the root's children.
std::vector<xcb_window_t> StackedWindows(const XConnection& x,
                                         const std::array<xcb_atom_t, kAtomCount>& atoms,
                                         bool* managed) {
  xcb_connection_t* c = x.get();
  if (atoms[kClientListStacking] != XCB_ATOM_NONE) {
    const Property list = TakeProperty(
        x, xcb_get_property(c, 0, x.root(), atoms[kClientListStacking], XCB_ATOM_WINDOW, 0,
                            kMaxPropertyWords));
    if (list.format == 32 && !list.bytes.empty()) {
      *managed = true;
      return list.Values<xcb_window_t>();
    }
  }
  *managed = false;
  XcbReply<xcb_query_tree_reply_t> tree =
      x.ReplyOrNull<xcb_query_tree_reply_t>(xcb_query_tree(c, x.root()));
  if (!tree) return {};
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  return std::vector<xcb_window_t>(children, children + xcb_query_tree_children_length(tree.get()));
}

bool Contains(const std::vector<xcb_atom_t>& atoms, xcb_atom_t atom) {
  return atom != XCB_ATOM_NONE && std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
}

// Pids of windows whose client did not publish _NET_WM_PID, from the
// X-Resource extension (the server knows the pid of local clients).
void FillPidsFromServer(const XConnection& x, const std::vector<xcb_window_t>& windows,
                        std::vector<WindowRecord>* records) {
  xcb_connection_t* c = x.get();
  const Result<const xcb_query_extension_reply_t*> res = x.Extension(&xcb_res_id);
  if (!res || *res == nullptr || !(*res)->present) return;
  std::vector<std::pair<size_t, xcb_res_query_client_ids_cookie_t>> asked;
  for (size_t i = 0; i < records->size(); ++i) {
    if ((*records)[i].owner_pid) continue;
    xcb_res_client_id_spec_t wanted{windows[i], XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    asked.emplace_back(i, xcb_res_query_client_ids(c, 1, &wanted));
  }
  for (const auto& [i, cookie] : asked) {
    XcbReply<xcb_res_query_client_ids_reply_t> reply =
        x.ReplyOrNull<xcb_res_query_client_ids_reply_t>(cookie);
    if (!reply) continue;
    for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem > 0;
         xcb_res_client_id_value_next(&ids)) {
      // The value begins with the client id it answers for.
      const auto* id = reinterpret_cast<const xcb_res_client_id_spec_t*>(ids.data);
      if ((id->mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) == 0 ||
          xcb_res_client_id_value_value_length(ids.data) < 1) {
        continue;
      }
      (*records)[i].owner_pid = *xcb_res_client_id_value_value(ids.data);
      break;
    }
  }
}

// On-screen windows, and with `minimized` the iconified ones too.
Result<std::vector<WindowRecord>> QueryWindowsOf(bool minimized) {
  Result<std::unique_ptr<XConnection>> opened = XConnection::Open();
  if (!opened) {
    return Error(std::string("window list unavailable - ") +
                 (opened.error() == kXServerSilent ? kXServerSilent : kXDisplayHint));
  }
  const XConnection& x = **opened;
  xcb_connection_t* c = x.get();
  const std::array<xcb_atom_t, kAtomCount> atoms = InternAtoms(x);
  const XRect main = x.MainDisplay();
  bool managed = false;
  std::vector<xcb_window_t> stacked = StackedWindows(x, atoms, &managed);
  xcb_window_t active = XCB_NONE;
  if (atoms[kActiveWindow] != XCB_ATOM_NONE) {
    const Property value = TakeProperty(x, AskProperty(c, x.root(), atoms[kActiveWindow]));
    if (value.format == 32 && value.bytes.size() >= 4) active = value.Values<xcb_window_t>()[0];
  }
  std::reverse(stacked.begin(), stacked.end());  // front first

  std::vector<Candidate> candidates(stacked.size());
  for (size_t i = 0; i < stacked.size(); ++i) {
    Candidate& w = candidates[i];
    w.window = stacked[i];
    w.attributes = xcb_get_window_attributes(c, w.window);
    w.geometry = xcb_get_geometry(c, w.window);
    w.origin = xcb_translate_coordinates(c, w.window, x.root(), 0, 0);
    w.wm_class = AskProperty(c, w.window, XCB_ATOM_WM_CLASS);
    w.net_name = AskProperty(c, w.window, atoms[kNetWmName]);
    w.wm_name = AskProperty(c, w.window, XCB_ATOM_WM_NAME);
    w.pid = AskProperty(c, w.window, atoms[kNetWmPid]);
    w.extents = AskProperty(c, w.window, atoms[kFrameExtents]);
    w.type = AskProperty(c, w.window, atoms[kWindowType]);
    w.state = AskProperty(c, w.window, atoms[kWmState]);
    w.icccm_state = AskProperty(c, w.window, atoms[kIcccmState]);
  }

  std::vector<WindowRecord> records;
  std::vector<xcb_window_t> record_windows;
  for (Candidate& w : candidates) {
    // Every reply is taken, kept or not, so none is left queued.
    XcbReply<xcb_get_window_attributes_reply_t> attributes =
        x.ReplyOrNull<xcb_get_window_attributes_reply_t>(w.attributes);
    XcbReply<xcb_get_geometry_reply_t> geometry =
        x.ReplyOrNull<xcb_get_geometry_reply_t>(w.geometry);
    XcbReply<xcb_translate_coordinates_reply_t> origin =
        x.ReplyOrNull<xcb_translate_coordinates_reply_t>(w.origin);
    const Property wm_class = TakeProperty(x, w.wm_class);
    const Property net_name = TakeProperty(x, w.net_name);
    const Property wm_name = TakeProperty(x, w.wm_name);
    const Property pid = TakeProperty(x, w.pid);
    const Property extents = TakeProperty(x, w.extents);
    const Property type = TakeProperty(x, w.type);
    const Property state = TakeProperty(x, w.state);
    const Property icccm_state = TakeProperty(x, w.icccm_state);

    if (!attributes || !geometry || !origin) continue;  // the window is gone
    const std::vector<xcb_atom_t> states =
        state.format == 32 ? state.Values<xcb_atom_t>() : std::vector<xcb_atom_t>{};
    // ICCCM's WM_STATE begins with the state: 3 is iconic.
    const bool iconic = Contains(states, atoms[kStateHidden]) ||
                        (icccm_state.format == 32 && icccm_state.bytes.size() >= 4 &&
                         icccm_state.Values<uint32_t>()[0] == 3);
    const bool viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    if (!viewable && !(minimized && managed && iconic)) continue;
    if (!managed && attributes->override_redirect) continue;
    const std::vector<xcb_atom_t> types =
        type.format == 32 ? type.Values<xcb_atom_t>() : std::vector<xcb_atom_t>{};
    if (Contains(types, atoms[kTypeDesktop])) continue;

    WindowRecord record;
    record.id = w.window;
    record.minimized = !viewable || Contains(states, atoms[kStateHidden]);
    record.focused = w.window == active;
    if (pid.format == 32 && pid.bytes.size() >= 4) record.owner_pid = pid.Values<uint32_t>()[0];
    record.owner_name = ClassOf(wm_class);
    record.title = TextOf(net_name, atoms);
    if (record.title.empty()) record.title = TextOf(wm_name, atoms);

    int64_t layer = 0;
    if (Contains(states, atoms[kStateAbove])) layer = kAboveLayer;
    if (Contains(types, atoms[kTypeDock])) layer = kDockLayer;
    if (Contains(types, atoms[kTypeNotification])) layer = kNotificationLayer;
    record.layer = layer;

    // The frame: the client's outer edge (its own X border included),
    // grown by what the window manager draws around it.
    const int64_t border = geometry->border_width;
    int64_t left = 0, right = 0, top = 0, bottom = 0;
    if (extents.format == 32 && extents.bytes.size() >= 16) {
      const std::vector<uint32_t> e = extents.Values<uint32_t>();
      left = e[0], right = e[1], top = e[2], bottom = e[3];
    }
    record.x = static_cast<double>(origin->dst_x - border - left - main.x);
    record.y = static_cast<double>(origin->dst_y - border - top - main.y);
    record.width = static_cast<double>(geometry->width + 2 * border + left + right);
    record.height = static_cast<double>(geometry->height + 2 * border + top + bottom);
    records.push_back(std::move(record));
    record_windows.push_back(w.window);
  }
  FillPidsFromServer(x, record_windows, &records);
  if (x.severed()) return Error(std::string("window list unavailable - ") + kXServerSilent);
  // Without WM_CLASS the owner is named by its process's command name.
  for (WindowRecord& record : records) {
    if (record.owner_name.empty() && record.owner_pid) {
      record.owner_name = CommandNameOf(*record.owner_pid);
    }
  }
  if (x.broken()) {
    return Error("window list unavailable - the X server closed the connection");
  }
  return records;
}

}  // namespace

// Served through the desktop chooser (platform/desktop_backend.h).
namespace x11 {

Result<std::vector<WindowRecord>> QueryWindows() { return QueryWindowsOf(false); }
Result<std::vector<WindowRecord>> QueryAllWindows() { return QueryWindowsOf(true); }

}  // namespace x11
}  // namespace tarvix
