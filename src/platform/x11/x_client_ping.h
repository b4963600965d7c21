// Proof that the focused client has read every event sent to it so far,
// through the window manager protocol's ping (_NET_WM_PING): a client
// answers a ping when its event loop reaches it, so the answer means every
// key event queued before it has been read and translated.
#ifndef TARVIX_PLATFORM_X11_X_CLIENT_PING_H_
#define TARVIX_PLATFORM_X11_X_CLIENT_PING_H_

#include <xcb/xcb.h>

#include <chrono>

namespace tarvix {

enum class PingAnswer {
  kAnswered,
  // No focused window lists _NET_WM_PING in WM_PROTOCOLS: nothing can
  // prove what it has read.
  kTakesNoPings,
  // The focused client did not answer within the timeout.
  kLate,
  // The connection failed, or the input loop is stopping (a shutdown
  // signal) and waits no longer.
  kAbandoned,
};

// Pings the top-level window that holds the input focus and waits for its
// answer at most `timeout`. Selects SubstructureNotify on `root` for this
// connection (pings are answered to the root window).
PingAnswer PingFocusedClient(xcb_connection_t* connection, xcb_window_t root,
                             std::chrono::milliseconds timeout);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_CLIENT_PING_H_
