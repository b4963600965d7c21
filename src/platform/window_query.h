// Window query: the on-screen windows of the desktop, front to back.
//
// The platform file defines QueryWindows. Records keep the platform's raw
// facts (rectangle numbers as the window server gives them, absent fields
// as absent); the rules that turn them into window summaries and the front
// application live with the desktop tools.
//
// Thread-safe and stateless: each call asks the window server afresh.
#ifndef TARVIX_PLATFORM_WINDOW_QUERY_H_
#define TARVIX_PLATFORM_WINDOW_QUERY_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace tarvix {

struct WindowRecord {
  // The window server's id of the window (an X window, a CGWindowID).
  std::optional<uint64_t> id;
  // The owning application's name (UTF-8), "" when unknown.
  std::string owner_name;
  // The window's title (UTF-8), "" when it has none.
  std::string title;
  // The process that owns the window, when the window server knows it.
  std::optional<int64_t> owner_pid;
  // 0 for ordinary application windows; non-zero for panels, docks,
  // always-on-top windows and notifications. Absent counts as 0.
  std::optional<int64_t> layer;
  // Minimized (iconified, or on macOS off screen); only QueryAllWindows
  // lists such windows.
  bool minimized = false;
  // The active window, the one with the keyboard focus (on macOS the
  // frontmost layer-0 window).
  bool focused = false;
  // The window's frame in global display points (origin at the top-left
  // corner of the main display). Floating point because some window
  // servers report fractions; absent numbers are 0.
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  // The application reports its elements' bounds relative to this window,
  // not to the screen: a native Wayland client, which is never told where
  // the compositor placed it.
  bool window_relative_elements = false;
};

// On-screen windows, frontmost first, desktop elements left out. Fails
// with the complete message for the reply when the window server cannot
// be reached (on X11: "window list unavailable - <display hint>").
Result<std::vector<WindowRecord>> QueryWindows();
// The same with minimized windows too, each in its place in the stacking
// order.
Result<std::vector<WindowRecord>> QueryAllWindows();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_WINDOW_QUERY_H_
