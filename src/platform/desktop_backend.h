// Desktop backends on Linux: which display server serves desktop calls,
// and the services each backend brings.
//
// A Linux session is either X11 (DISPLAY) or Wayland, and on Wayland what
// the daemon can do depends on the compositor. Each backend lives in a
// folder of its own under src/platform/ (x11/, wayland/ for wlroots
// compositors) and fills a DesktopServices table; the Linux chooser
// (platform/linux/desktop_chooser.cpp) picks the table at the start of
// each desktop call and defines the platform functions of displays.h,
// screen_capture.h, window_query.h and the others by calling into it. A
// service a backend does not have yet is a null entry, answered with a
// clear "not supported on Wayland yet" text instead of a wrong result.
#ifndef TARVIX_PLATFORM_DESKTOP_BACKEND_H_
#define TARVIX_PLATFORM_DESKTOP_BACKEND_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/memory_budget.h"
#include "base/result.h"
#include "platform/clipboard.h"
#include "platform/displays.h"
#include "platform/input_backend.h"
#include "platform/pointer_location.h"
#include "platform/screen_capture.h"
#include "platform/screen_damage.h"
#include "platform/window_control.h"
#include "platform/window_query.h"

namespace tarvix {

enum class DesktopBackend {
  kX11,      // the X server of DISPLAY
  kWlroots,  // a Wayland compositor offering wlroots screencopy (sway, river, labwc, ...)
  // A Wayland session whose compositor speaks none of the protocols the
  // daemon knows (GNOME's Mutter, KDE's KWin today).
  kWaylandUnsupported,
};

// "x11", "wlroots" or "wayland-unsupported".
std::string_view DesktopBackendName(DesktopBackend backend);

// What one registry round trip with the compositor told.
enum class CompositorProbe {
  kNotAsked,
  kUnreachable,   // no compositor at WAYLAND_DISPLAY
  kSilent,        // connected, but it did not answer in time
  kScreencopy,    // it offers zwlr_screencopy_manager_v1
  kNoScreencopy,  // it answered without it
};

// What the chooser knows about the session at the start of a call.
struct DesktopSession {
  // WAYLAND_DISPLAY is set, or XDG_SESSION_TYPE is "wayland".
  bool wayland = false;
  // Asked only in a Wayland session.
  CompositorProbe compositor = CompositorProbe::kNotAsked;
};

// The backend for `session`: wlroots where the compositor offers
// screencopy, and where it is there but silent (its own calls then fail
// with the deadline's text, not with a wrong backend's); X11 outside
// Wayland and where no compositor can be reached (XWayland or a plain X
// server may still serve); else the unsupported Wayland backend.
DesktopBackend ChooseDesktopBackend(const DesktopSession& session);

// The services of one backend; a null entry is one it lacks so far.
struct DesktopServices {
  Result<std::string> (*capture_main_display_png)(MemoryBudget&, MemoryBudget::Grant&) = nullptr;
  Result<std::unique_ptr<ScreenImage>> (*grab_screen_area)(const CaptureArea&, MemoryBudget&,
                                                           MemoryBudget::Grant&) = nullptr;
  Result<std::vector<DisplayInfo>> (*list_displays)() = nullptr;
  Result<std::vector<WindowRecord>> (*query_windows)() = nullptr;
  Result<std::vector<WindowRecord>> (*query_all_windows)() = nullptr;
  Result<bool> (*control_window)(const WindowActionRequest&) = nullptr;
  Result<std::unique_ptr<InputBackend>> (*open_input_backend)() = nullptr;
  Result<ClipboardText> (*read_clipboard)(size_t max_bytes) = nullptr;
  Result<void> (*write_clipboard)(std::string text) = nullptr;
  Result<PointerLocation> (*locate_pointer)() = nullptr;
  Result<std::unique_ptr<ScreenDamageWatch>> (*watch_screen_damage)() = nullptr;
};

// The tables of the Linux backends, each defined in its own folder.
const DesktopServices& X11DesktopServices();
const DesktopServices& WlrootsDesktopServices();

// The Linux chooser's answer for this call (platform/linux).
DesktopBackend CurrentDesktopBackend();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_DESKTOP_BACKEND_H_
