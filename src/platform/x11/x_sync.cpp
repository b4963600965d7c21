#include "platform/x11/x_sync.h"

#include <poll.h>
#include <xcb/xcbext.h>

#include <cerrno>
#include <cstdlib>

namespace tarvix {

bool XSyncWithin(xcb_connection_t* connection, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + timeout;
  const xcb_get_input_focus_cookie_t cookie = xcb_get_input_focus(connection);
  if (xcb_flush(connection) <= 0) return false;
  void* reply = nullptr;
  xcb_generic_error_t* error = nullptr;
  // xcb_poll_for_reply reads what has arrived without blocking; poll(2)
  // bounds the wait, so a stopped server cannot hold the input thread.
  while (xcb_poll_for_reply(connection, cookie.sequence, &reply, &error) == 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd socket{xcb_get_file_descriptor(connection), POLLIN, 0};
    if (poll(&socket, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
  }
  bool clean = reply != nullptr && error == nullptr;
  free(reply);
  free(error);
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
    if (event->response_type == 0) clean = false;
    free(event);
  }
  return clean && xcb_connection_has_error(connection) == 0;
}

}  // namespace tarvix
