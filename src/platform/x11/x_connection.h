// One connection to the X server named by DISPLAY, through XCB.
//
// XCB reports a missing server, a refused connection or a server that dies
// mid-call as values (a null reply, a connection error), never by ending
// the process, which is why the daemon uses it instead of Xlib.
#ifndef TARVIX_PLATFORM_X11_X_CONNECTION_H_
#define TARVIX_PLATFORM_X11_X_CONNECTION_H_

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <string_view>

#include "base/result.h"

namespace tarvix {

// What every desktop message says when there is no usable X display.
inline constexpr char kXDisplayHint[] =
    "cannot open the X display (set DISPLAY, and XAUTHORITY if needed, to the desktop session)";

// A rectangle in root-window coordinates.
struct XRect {
  int32_t x = 0;
  int32_t y = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

// Owns an xcb connection and the default screen's root. XCB connections are
// thread-safe, so one instance may be used from several threads; the
// object itself is immutable after Open.
class XConnection {
 public:
  // Connects to DISPLAY (XAUTHORITY honoured by libxcb). Fails with
  // "cannot open the X display" when there is no display or the server
  // refuses or cannot be reached.
  static Result<std::unique_ptr<XConnection>> Open();
  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  xcb_connection_t* get() const { return connection_; }
  const xcb_screen_t& screen() const { return *screen_; }
  xcb_window_t root() const { return screen_->root; }
  // The screen DISPLAY names (the 1 of ":0.1").
  int screen_number() const { return screen_number_; }

  // True once the connection has failed (server gone, protocol error that
  // closed it); the owner should then drop it and reconnect.
  bool broken() const { return xcb_connection_has_error(connection_) != 0; }

  // The main display: the RandR primary output's CRTC rectangle, or the
  // whole root window when RandR is missing or names no primary output (or
  // the primary output is off). Asked of the server on every call, so a
  // mode change is seen at once.
  XRect MainDisplay() const;

  // Interns `name` (only_if_exists false); XCB_ATOM_NONE on failure.
  xcb_atom_t Atom(std::string_view name) const;

 private:
  XConnection(xcb_connection_t* connection, const xcb_screen_t* screen, int screen_number)
      : connection_(connection), screen_(screen), screen_number_(screen_number) {}
  xcb_connection_t* connection_;
  const xcb_screen_t* screen_;
  int screen_number_;
};

// Frees an XCB reply (malloc'd by libxcb).
struct XcbFree {
  void operator()(void* reply) const { free(reply); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_CONNECTION_H_
