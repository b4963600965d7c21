// Waiting for the X server to catch up, with a deadline.
#ifndef TARVIX_PLATFORM_X11_X_SYNC_H_
#define TARVIX_PLATFORM_X11_X_SYNC_H_

#include <xcb/xcb.h>

#include <chrono>

namespace tarvix {

// Sends everything queued and makes one round trip. True when the server
// answered within `timeout` and reported no error for any request sent
// before (unchecked requests report theirs as events, which this
// consumes). False on a broken connection, a stalled server (whose
// connection is then severed, see AwaitXReply) or an error.
bool XSyncWithin(xcb_connection_t* connection, std::chrono::milliseconds timeout);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_SYNC_H_
