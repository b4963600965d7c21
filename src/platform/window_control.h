// Window control: asks the window manager to activate, raise, minimize,
// maximize, restore, close, move or resize one window, then watches for
// the effect for up to a second.
//
// The platform file defines ControlWindow. Window ids are the window
// list's (on X11 the client's window id, on macOS the CGWindowID).
#ifndef TARVIX_PLATFORM_WINDOW_CONTROL_H_
#define TARVIX_PLATFORM_WINDOW_CONTROL_H_

#include <chrono>
#include <cstdint>

#include "base/result.h"

namespace tarvix {

enum class WindowAction { kActivate, kRaise, kMinimize, kMaximize, kRestore, kClose, kMove, kResize };

// How long the effect of an action is waited for.
inline constexpr std::chrono::milliseconds kWindowActionVerifyTime{1000};

struct WindowActionRequest {
  uint64_t window = 0;
  WindowAction action = WindowAction::kActivate;
  // move: the frame's new top-left corner; resize: the frame's new size.
  // Global display points, the frame as the window list reports it
  // (decorations included).
  int64_t x = 0;
  int64_t y = 0;
  int64_t w = 0;
  int64_t h = 0;
};

// True when the effect was seen in time, false when the window manager
// did not (yet) show it. Fails with the complete message for the reply:
// "unknown window: N" when no managed window has the id, "unavailable:
// ..." when the window server or manager cannot be asked.
Result<bool> ControlWindow(const WindowActionRequest& request);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_WINDOW_CONTROL_H_
