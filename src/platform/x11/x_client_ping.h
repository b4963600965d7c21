// Proof that the focused client has read every event sent to it so far,
// through the window manager protocol's ping (_NET_WM_PING): a client
// answers a ping when its event loop reaches it, so the answer means every
// key event queued before it has been read and translated.
#ifndef TARVIX_PLATFORM_X11_X_CLIENT_PING_H_
#define TARVIX_PLATFORM_X11_X_CLIENT_PING_H_

#include <xcb/xcb.h>

#include <chrono>

namespace tarvix {

// Pings the top-level window that holds the input focus and waits for its
// answer. False when no focused window takes pings, or none answered within
// `timeout`: the caller then falls back to waiting a fixed time. Selects
// SubstructureNotify on `root` for this connection (pings are answered to
// the root window).
bool PingFocusedClient(xcb_connection_t* connection, xcb_window_t root,
                       std::chrono::milliseconds timeout);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_CLIENT_PING_H_
