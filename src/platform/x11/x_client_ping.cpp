#include "platform/x11/x_client_ping.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "platform/input_stop.h"
#include "platform/x11/x_connection.h"

namespace tarvix {
namespace {

constexpr long kStopCheckMs = 50;

xcb_atom_t InternAtom(xcb_connection_t* connection, std::string_view name) {
  XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      connection,
      xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr));
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

bool TakesPings(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t protocols,
                xcb_atom_t ping) {
  XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, window, protocols, XCB_ATOM_ATOM, 0, 64),
      nullptr));
  if (!reply || reply->format != 32) return false;
  const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
  const int count = xcb_get_property_value_length(reply.get()) / 4;
  for (int i = 0; i < count; ++i) {
    if (atoms[i] == ping) return true;
  }
  return false;
}

// The focus window or the nearest ancestor that lists the ping protocol.
xcb_window_t PingableFocus(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t protocols,
                           xcb_atom_t ping) {
  XcbReply<xcb_get_input_focus_reply_t> focus(
      xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
  if (!focus) return XCB_WINDOW_NONE;
  xcb_window_t window = focus->focus;
  // None and PointerRoot are not windows; a deep or looping parent chain
  // (a broken server) is cut short.
  for (int depth = 0; depth < 32 && window > XCB_INPUT_FOCUS_POINTER_ROOT && window != root;
       ++depth) {
    if (TakesPings(connection, window, protocols, ping)) return window;
    XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
    if (!tree) break;
    window = tree->parent;
  }
  return XCB_WINDOW_NONE;
}

}  // namespace

PingAnswer PingFocusedClient(xcb_connection_t* connection, xcb_window_t root,
                             std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + timeout;
  const xcb_atom_t protocols = InternAtom(connection, "WM_PROTOCOLS");
  const xcb_atom_t ping = InternAtom(connection, "_NET_WM_PING");
  if (protocols == XCB_ATOM_NONE || ping == XCB_ATOM_NONE) return PingAnswer::kAbandoned;
  const xcb_window_t target = PingableFocus(connection, root, protocols, ping);
  if (target == XCB_WINDOW_NONE) {
    return xcb_connection_has_error(connection) != 0 ? PingAnswer::kAbandoned
                                                     : PingAnswer::kTakesNoPings;
  }

  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = target;
  message.type = protocols;
  message.data.data32[0] = ping;
  message.data.data32[1] = XCB_CURRENT_TIME;
  message.data.data32[2] = target;
  // No event mask: the message goes to the client that made the window.
  xcb_send_event(connection, 0, target, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&message));
  if (xcb_flush(connection) <= 0) return PingAnswer::kAbandoned;

  while (true) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
      bool answered = false;
      if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* reply = reinterpret_cast<const xcb_client_message_event_t*>(event);
        answered = reply->type == protocols && reply->data.data32[0] == ping &&
                   reply->data.data32[2] == target;
      }
      free(event);
      if (answered) return PingAnswer::kAnswered;
    }
    if (xcb_connection_has_error(connection) != 0 || InputStopRequested()) {
      return PingAnswer::kAbandoned;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return PingAnswer::kLate;
    // Short slices, so that a shutdown signal is seen soon.
    pollfd socket{xcb_get_file_descriptor(connection), POLLIN, 0};
    const int slice = static_cast<int>(std::min<long>(left, kStopCheckMs));
    if (poll(&socket, 1, slice) < 0 && errno != EINTR) return PingAnswer::kAbandoned;
  }
}

}  // namespace tarvix
