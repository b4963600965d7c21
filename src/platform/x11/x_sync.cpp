#include "platform/x11/x_sync.h"

#include <cstdlib>

#include "platform/x11/x_connection.h"

namespace tarvix {

bool XSyncWithin(xcb_connection_t* connection, std::chrono::milliseconds timeout) {
  Result<void*> reply =
      AwaitXReply(connection, xcb_get_input_focus(connection).sequence, timeout);
  if (!reply) return false;
  bool clean = *reply != nullptr;
  free(*reply);
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
    if (event->response_type == 0) clean = false;
    free(event);
  }
  return clean && xcb_connection_has_error(connection) == 0;
}

}  // namespace tarvix
