// One connection to the X server named by DISPLAY, through XCB.
//
// XCB reports a missing server, a refused connection or a server that dies
// mid-call as values (a null reply, a connection error), never by ending
// the process, which is why the daemon uses it instead of Xlib. A server
// that is stopped (SIGSTOP, a frozen compositor, a suspended display)
// reports nothing at all, so every wait for it here has a deadline: the
// connection is set up, and every reply awaited, within kXReplyDeadline.
// A connection that missed its deadline is severed and never used again.
#ifndef TARVIX_PLATFORM_X11_X_CONNECTION_H_
#define TARVIX_PLATFORM_X11_X_CONNECTION_H_

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>

#include "base/result.h"

namespace tarvix {

// What every desktop message says when there is no usable X display.
inline constexpr char kXDisplayHint[] =
    "cannot open the X display (set DISPLAY, and XAUTHORITY if needed, to the desktop session)";

// How long the daemon waits for the X server to answer one round trip (or
// the connection setup) before it gives the connection up.
inline constexpr std::chrono::milliseconds kXReplyDeadline{2000};
// The error of a wait that ran out; callers put their own prefix before it.
inline constexpr char kXServerSilent[] = "the X server did not answer within 2 s";

// A rectangle in root-window coordinates.
struct XRect {
  int32_t x = 0;
  int32_t y = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

// Frees an XCB reply (malloc'd by libxcb).
struct XcbFree {
  void operator()(void* reply) const { free(reply); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;

// Waits for the reply (or error) to request `sequence`, already sent on
// `connection`, by polling the connection's descriptor. The wait restarts
// whenever the server sends something, so a large reply that is still
// arriving is not cut off; `silence` without a byte ends it. Returns the
// reply (null when the server answered with an error, which is dropped,
// or the request has none), or kXServerSilent after severing the
// connection (shut down both ways, so every later call on it fails at
// once), or "the X server closed the connection" when it is broken.
Result<void*> AwaitXReply(xcb_connection_t* connection, unsigned int sequence,
                          std::chrono::milliseconds silence = kXReplyDeadline);

// Owns an xcb connection and the default screen's root. XCB connections are
// thread-safe, so one instance may be used from several threads; the
// object is immutable after Open except for being severed.
class XConnection {
 public:
  // Connects to DISPLAY (XAUTHORITY honoured, MIT-MAGIC-COOKIE-1) over the
  // local socket or TCP, like libxcb, but with the setup bounded by
  // kXReplyDeadline. Fails with kXServerSilent when the server does not
  // complete the setup in time, else with "cannot open the X display" when
  // there is no display or the server refuses or cannot be reached.
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
  // closed it, a missed deadline); the owner should then drop it.
  bool broken() const { return severed_ || xcb_connection_has_error(connection_) != 0; }
  // True when the connection was given up because the server went silent.
  bool severed() const { return severed_; }

  // The reply to `cookie` within the deadline: null when the server
  // answered with an error; the error of AwaitXReply otherwise.
  template <typename Reply, typename Cookie>
  Result<XcbReply<Reply>> Await(Cookie cookie) const {
    Result<void*> reply = AwaitReply(cookie.sequence);
    if (!reply) return Error(std::move(reply).error());
    return XcbReply<Reply>(static_cast<Reply*>(*reply));
  }
  // The same where a missing answer and an error answer are handled alike
  // (a window that is gone): null for both; severed() tells them apart.
  template <typename Reply, typename Cookie>
  XcbReply<Reply> ReplyOrNull(Cookie cookie) const {
    Result<XcbReply<Reply>> reply = Await<Reply>(cookie);
    return reply ? std::move(reply).value() : nullptr;
  }
  // One round trip: every request sent before has been handled. Fails like
  // Await.
  Result<void> Sync() const;
  // A checked request without a reply: nothing when the server took it,
  // "the X server refused the request" when it answered with an error.
  Result<void> Check(xcb_void_cookie_t cookie) const;
  // The extension's data, asked of the server within the deadline and
  // cached by libxcb, so requests of the extension never block on it.
  Result<const xcb_query_extension_reply_t*> Extension(xcb_extension_t* extension) const;

  // Runs `call`, which may wait for the server inside a library (xkbcommon
  // reads the keymap in blocking round trips), with the connection
  // severed if the call is still running after `limit`: the library's
  // blocking read then fails instead of waiting for ever. The caller checks
  // severed() afterwards.
  template <typename Call>
  auto Bounded(Call&& call, std::chrono::milliseconds limit = kXReplyDeadline) const {
    const SeverTimer timer(*this, limit);
    return std::forward<Call>(call)();
  }

  // The main display: RandR's primary monitor, else the primary output's
  // CRTC rectangle, else the whole root window (RandR missing, nothing
  // primary, or the primary output off). Asked of the server on every call, so a
  // mode change is seen at once. When the server does not answer, the
  // root window's rectangle, and the connection is severed.
  XRect MainDisplay() const;

  // Interns `name` (only_if_exists false); XCB_ATOM_NONE on failure or
  // when the server does not answer (the connection is then severed).
  xcb_atom_t Atom(std::string_view name) const;

 private:
  // Severs the connection unless destroyed within the limit.
  class SeverTimer {
   public:
    SeverTimer(const XConnection& x, std::chrono::milliseconds limit);
    // Shuts `fd` down and sets `*severed` at the limit.
    SeverTimer(int fd, std::atomic<bool>* severed, std::chrono::milliseconds limit);
    ~SeverTimer();
    SeverTimer(const SeverTimer&) = delete;
    SeverTimer& operator=(const SeverTimer&) = delete;

   private:
    struct State;
    std::shared_ptr<State> state_;
  };

  XConnection(xcb_connection_t* connection, const xcb_screen_t* screen, int screen_number)
      : connection_(connection), screen_(screen), screen_number_(screen_number) {}
  Result<void*> AwaitReply(unsigned int sequence) const;
  void Sever() const;

  xcb_connection_t* connection_;
  const xcb_screen_t* screen_;
  int screen_number_;
  mutable std::atomic<bool> severed_{false};
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_CONNECTION_H_
