// Window control on X11 through the window manager's EWMH (and ICCCM)
// client messages: the daemon asks, the window manager acts. The effect
// is then read back from the properties the manager keeps (the active
// window, the stacking list, the window's state) and the frame's
// geometry, re-read whenever the server reports a change, for up to
// kWindowActionVerifyTime.
#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window_control.h"
#include "platform/x11/x_connection.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;

enum AtomName {
  kActiveWindow, kClientList, kClientListStacking, kWmStateNet, kStateHidden, kStateMaxVert,
  kStateMaxHorz, kCloseWindow, kMoveResizeWindow, kRestackWindow, kWmChangeState, kWmState,
  kFrameExtents, kTimestampProbe, kAtomCount,
};
constexpr std::array<std::string_view, kAtomCount> kAtomNames = {
    "_NET_ACTIVE_WINDOW", "_NET_CLIENT_LIST", "_NET_CLIENT_LIST_STACKING", "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN", "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ",
    "_NET_CLOSE_WINDOW", "_NET_MOVERESIZE_WINDOW", "_NET_RESTACK_WINDOW", "WM_CHANGE_STATE",
    "WM_STATE", "_NET_FRAME_EXTENTS", "_TARVIX_TIMESTAMP",
};

// EWMH source indication: the request comes from a pager or taskbar,
// which window managers obey without focus-stealing checks.
constexpr uint32_t kSourcePager = 2;
constexpr uint32_t kIconicState = 3;  // ICCCM WM_STATE / WM_CHANGE_STATE
constexpr uint32_t kStateRemove = 0, kStateAdd = 1;

constexpr char kGone[] = "unavailable: the X server closed the connection";

class Control {
 public:
  Control(std::unique_ptr<XConnection> x, xcb_window_t window)
      : x_(std::move(x)), window_(window) {}
  ~Control() {
    if (probe_ != XCB_NONE && !x_->broken()) {
      xcb_destroy_window(x_->get(), probe_);
      xcb_flush(x_->get());
    }
  }

  Result<void> Prepare() {
    xcb_connection_t* c = x_->get();
    std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies;
    for (size_t i = 0; i < kAtomCount; ++i) {
      cookies[i] = xcb_intern_atom(c, 0, static_cast<uint16_t>(kAtomNames[i].size()),
                                   kAtomNames[i].data());
    }
    for (size_t i = 0; i < kAtomCount; ++i) {
      auto reply = x_->ReplyOrNull<xcb_intern_atom_reply_t>(cookies[i]);
      if (!reply) return Error(Silent());
      atoms_[i] = reply->atom;
    }
    const std::vector<uint32_t> clients = Cardinals(x_->root(), atoms_[kClientList]);
    if (x_->broken()) return Error(Silent());
    if (clients.empty()) return Error("unavailable: no EWMH window manager manages the windows");
    if (std::find(clients.begin(), clients.end(), window_) == clients.end()) {
      return Error("unknown window: " + std::to_string(window_));
    }
    main_ = x_->MainDisplay();
    // Changes to watch: the manager's root properties, the window's own
    // properties and its frame's moves.
    const uint32_t root_mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, x_->root(), XCB_CW_EVENT_MASK, &root_mask);
    const uint32_t window_mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, window_, XCB_CW_EVENT_MASK, &window_mask);
    if (Result<void> synced = x_->Sync(); !synced) return Error(Silent());
    return {};
  }

  // The server's current time, from a property change on a window of the
  // daemon's own: managers ignore activation requests stamped too old.
  Result<xcb_timestamp_t> ServerTime() {
    xcb_connection_t* c = x_->get();
    probe_ = xcb_generate_id(c);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, 0, probe_, x_->root(), -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    xcb_change_property(c, XCB_PROP_MODE_APPEND, probe_, atoms_[kTimestampProbe], XCB_ATOM_STRING,
                        8, 0, nullptr);
    xcb_flush(c);
    std::optional<xcb_timestamp_t> time;
    const Clock::time_point deadline = Clock::now() + kXReplyDeadline;
    while (!time) {
      Result<bool> waited = WaitForEvents(deadline, [&](const xcb_generic_event_t* event) {
        if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return;
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (notify->window == probe_) time = notify->time;
      });
      if (!waited) return Error(std::move(waited).error());
      if (!*waited) return Error(std::string("unavailable: ") + kXServerSilent);
    }
    return *time;
  }

  void Send(xcb_atom_t type, std::array<uint32_t, 5> data) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window_;
    message.type = type;
    std::memcpy(message.data.data32, data.data(), sizeof data);
    xcb_send_event(x_->get(), 0, x_->root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
  }

  Result<bool> Run(const WindowActionRequest& request) {
    const xcb_atom_t max_v = atoms_[kStateMaxVert], max_h = atoms_[kStateMaxHorz];
    switch (request.action) {
      case WindowAction::kActivate:
      case WindowAction::kClose: {
        Result<xcb_timestamp_t> time = ServerTime();
        if (!time) return Error(std::move(time).error());
        if (request.action == WindowAction::kActivate) {
          Send(atoms_[kActiveWindow], {kSourcePager, *time, 0, 0, 0});
        } else {
          Send(atoms_[kCloseWindow], {*time, kSourcePager, 0, 0, 0});
        }
        break;
      }
      case WindowAction::kRaise:
        Send(atoms_[kRestackWindow], {kSourcePager, XCB_NONE, XCB_STACK_MODE_ABOVE, 0, 0});
        break;
      case WindowAction::kMinimize:
        Send(atoms_[kWmChangeState], {kIconicState, 0, 0, 0, 0});
        break;
      case WindowAction::kMaximize:
        Send(atoms_[kWmStateNet], {kStateAdd, max_v, max_h, kSourcePager, 0});
        break;
      case WindowAction::kRestore: {
        // A minimized window comes back by activation, as pagers do it.
        if (Minimized()) {
          Result<xcb_timestamp_t> time = ServerTime();
          if (!time) return Error(std::move(time).error());
          Send(atoms_[kActiveWindow], {kSourcePager, *time, 0, 0, 0});
        }
        Send(atoms_[kWmStateNet], {kStateRemove, max_v, max_h, kSourcePager, 0});
        break;
      }
      case WindowAction::kMove:
      case WindowAction::kResize: {
        const std::optional<Frame> frame = FrameNow();
        if (!frame) return Error(x_->broken() ? Silent() : "unknown window: " + std::to_string(window_));
        // NorthWest gravity: x, y place the frame's top-left corner; the
        // size asked for is the client's, inside the decorations.
        constexpr uint32_t kNorthWest = 1;
        uint32_t flags = kNorthWest | (kSourcePager << 12);
        uint32_t x = 0, y = 0, w = 0, h = 0;
        if (request.action == WindowAction::kMove) {
          flags |= (1u << 8) | (1u << 9);
          x = static_cast<uint32_t>(static_cast<int32_t>(
              std::clamp<int64_t>(request.x + main_.x, INT16_MIN, INT16_MAX)));
          y = static_cast<uint32_t>(static_cast<int32_t>(
              std::clamp<int64_t>(request.y + main_.y, INT16_MIN, INT16_MAX)));
        } else {
          flags |= (1u << 10) | (1u << 11);
          w = static_cast<uint32_t>(std::clamp<int64_t>(request.w - frame->decoration_w, 1, 32767));
          h = static_cast<uint32_t>(std::clamp<int64_t>(request.h - frame->decoration_h, 1, 32767));
        }
        Send(atoms_[kMoveResizeWindow], {flags, x, y, w, h});
        break;
      }
    }
    xcb_flush(x_->get());
    return Verify(request);
  }

 private:
  struct Frame {
    int64_t x = 0, y = 0, w = 0, h = 0;           // global points, decorations included
    int64_t decoration_w = 0, decoration_h = 0;   // what the manager adds around the client
  };

  std::string Silent() const {
    return x_->severed() ? std::string("unavailable: ") + kXServerSilent : std::string(kGone);
  }

  std::vector<uint32_t> Cardinals(xcb_window_t window, xcb_atom_t property) const {
    auto reply = x_->ReplyOrNull<xcb_get_property_reply_t>(
        xcb_get_property(x_->get(), 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 16384));
    if (!reply || reply->format != 32) return {};
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<uint32_t>(values, values + xcb_get_property_value_length(reply.get()) / 4);
  }
  bool Has(xcb_window_t window, xcb_atom_t property, uint32_t value) const {
    const std::vector<uint32_t> values = Cardinals(window, property);
    return std::find(values.begin(), values.end(), value) != values.end();
  }
  bool Minimized() const {
    if (Has(window_, atoms_[kWmStateNet], atoms_[kStateHidden])) return true;
    const std::vector<uint32_t> state = Cardinals(window_, atoms_[kWmState]);
    return !state.empty() && state[0] == kIconicState;
  }
  bool Maximized() const {
    const std::vector<uint32_t> state = Cardinals(window_, atoms_[kWmStateNet]);
    auto has = [&](xcb_atom_t atom) { return std::find(state.begin(), state.end(), atom) != state.end(); };
    return has(atoms_[kStateMaxVert]) && has(atoms_[kStateMaxHorz]);
  }
  bool Managed() const { return Has(x_->root(), atoms_[kClientList], window_); }

  // The frame as the window list reports it: the client's outer edge grown
  // by the manager's decorations; nullopt when the window is gone.
  std::optional<Frame> FrameNow() const {
    xcb_connection_t* c = x_->get();
    auto geometry = x_->ReplyOrNull<xcb_get_geometry_reply_t>(xcb_get_geometry(c, window_));
    auto origin = x_->ReplyOrNull<xcb_translate_coordinates_reply_t>(
        xcb_translate_coordinates(c, window_, x_->root(), 0, 0));
    if (!geometry || !origin) return std::nullopt;
    const std::vector<uint32_t> e = Cardinals(window_, atoms_[kFrameExtents]);
    const int64_t left = e.size() >= 4 ? e[0] : 0, right = e.size() >= 4 ? e[1] : 0;
    const int64_t top = e.size() >= 4 ? e[2] : 0, bottom = e.size() >= 4 ? e[3] : 0;
    const int64_t border = geometry->border_width;
    Frame frame;
    frame.x = origin->dst_x - border - left - main_.x;
    frame.y = origin->dst_y - border - top - main_.y;
    frame.decoration_w = 2 * border + left + right;
    frame.decoration_h = 2 * border + top + bottom;
    frame.w = geometry->width + frame.decoration_w;
    frame.h = geometry->height + frame.decoration_h;
    return frame;
  }

  bool Done(const WindowActionRequest& request) const {
    switch (request.action) {
      case WindowAction::kActivate: {
        const std::vector<uint32_t> active = Cardinals(x_->root(), atoms_[kActiveWindow]);
        return !active.empty() && active[0] == window_;
      }
      case WindowAction::kRaise: {
        const std::vector<uint32_t> stack = Cardinals(x_->root(), atoms_[kClientListStacking]);
        return !stack.empty() && stack.back() == window_;
      }
      case WindowAction::kMinimize:
        return Minimized();
      case WindowAction::kMaximize:
        return Maximized();
      case WindowAction::kRestore:
        return !Minimized() && !Maximized();
      case WindowAction::kClose:
        return !Managed();
      case WindowAction::kMove: {
        const std::optional<Frame> frame = FrameNow();
        return frame && frame->x == request.x && frame->y == request.y;
      }
      case WindowAction::kResize: {
        const std::optional<Frame> frame = FrameNow();
        return frame && frame->w == request.w && frame->h == request.h;
      }
    }
    return false;
  }

  // Re-checks after every batch of events until done or the time is up.
  Result<bool> Verify(const WindowActionRequest& request) {
    const Clock::time_point deadline = Clock::now() + kWindowActionVerifyTime;
    while (true) {
      if (Done(request)) return !x_->broken();
      if (x_->broken()) return Error(Silent());
      Result<bool> waited = WaitForEvents(deadline, [](const xcb_generic_event_t*) {});
      if (!waited) return Error(std::move(waited).error());
      if (!*waited) return Done(request) && !x_->broken();
    }
  }

  // Waits for at least one event until `deadline` and hands each to
  // `seen`; false when none came in time.
  template <typename Seen>
  Result<bool> WaitForEvents(Clock::time_point deadline, Seen&& seen) {
    bool any = false;
    while (true) {
      while (xcb_generic_event_t* event = xcb_poll_for_event(x_->get())) {
        any = true;
        seen(event);
        free(event);
      }
      if (any) return true;
      if (xcb_connection_has_error(x_->get()) != 0) return Error(kGone);
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      pollfd fd{xcb_get_file_descriptor(x_->get()), POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left.count()) + 1) < 0 && errno != EINTR) {
        return Error(kGone);
      }
    }
  }

  std::unique_ptr<XConnection> x_;
  xcb_window_t window_;
  std::array<xcb_atom_t, kAtomCount> atoms_{};
  XRect main_;
  xcb_window_t probe_ = XCB_NONE;
};

}  // namespace

// Served through the desktop chooser (platform/desktop_backend.h).
namespace x11 {

Result<bool> ControlWindow(const WindowActionRequest& request) {
  if (request.window == 0 || request.window > UINT32_MAX) {
    return Error("unknown window: " + std::to_string(request.window));
  }
  Result<std::unique_ptr<XConnection>> opened = XConnection::Open();
  if (!opened) return Error("unavailable: " + std::move(opened).error());
  Control control(std::move(opened).value(), static_cast<xcb_window_t>(request.window));
  if (Result<void> prepared = control.Prepare(); !prepared) {
    return Error(std::move(prepared).error());
  }
  return control.Run(request);
}

}  // namespace x11
}  // namespace tarvix
