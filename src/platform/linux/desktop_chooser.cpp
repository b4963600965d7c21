// The Linux desktop chooser: defines the platform functions of the
// desktop seams by handing each call to the backend that serves the
// session now (platform/desktop_backend.h). The choice is made afresh on
// every call: outside Wayland it costs two getenv calls; in a Wayland
// session one registry round trip with the compositor.
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/desktop_backend.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wlr_desktop.h"

namespace tarvix {
namespace {

constexpr char kCaptureFailed[] = "screencapture failed - ";
constexpr char kNoProtocols[] =
    "this Wayland compositor offers no screen capture protocol this daemon speaks (wlroots "
    "screencopy); GNOME and KDE sessions are not supported yet";

bool InWaylandSession() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  const char* type = std::getenv("XDG_SESSION_TYPE");
  return (display != nullptr && *display != '\0') ||
         (type != nullptr && std::string_view(type) == "wayland");
}

struct Chosen {
  DesktopBackend backend;
  const DesktopServices* services;
  // The compositor let the chooser's round trip run out its deadline. The
  // call then fails at once with the deadline's text rather than asking
  // it again: a stopped compositor costs a call one deadline, not one per
  // connection the service would open.
  bool silent = false;
};

std::string Silent(std::string_view prefix) { return std::string(prefix) + kCompositorSilent; }

Chosen Choose() {
  DesktopSession session;
  session.wayland = InWaylandSession();
  if (session.wayland) session.compositor = wlr::ProbeCompositor();
  const DesktopBackend backend = ChooseDesktopBackend(session);
  static const DesktopServices kNone;
  switch (backend) {
    case DesktopBackend::kX11:
      return {backend, &X11DesktopServices()};
    case DesktopBackend::kWlroots:
      return {backend, &WlrootsDesktopServices(),
              session.compositor == CompositorProbe::kSilent};
    case DesktopBackend::kWaylandUnsupported:
      break;
  }
  return {backend, &kNone};
}

// Why `what` cannot be done in this session (a backend without the
// service): a clause that completes the caller's message.
std::string Lacking(DesktopBackend backend, std::string_view what) {
  if (backend == DesktopBackend::kWlroots) {
    return std::string(what) + " is not supported on Wayland yet (wlroots compositor)";
  }
  return std::string(what) + " is not supported in this Wayland session: " + kNoProtocols;
}

}  // namespace

DesktopBackend CurrentDesktopBackend() { return Choose().backend; }

Result<std::string> CaptureMainDisplayPng(MemoryBudget& budget, MemoryBudget::Grant& grant) {
  const Chosen chosen = Choose();
  if (chosen.services->capture_main_display_png == nullptr) {
    return Error(std::string(kCaptureFailed) + kNoProtocols);
  }
  if (chosen.silent) return Error(Silent(std::string(kCaptureFailed)));
  return chosen.services->capture_main_display_png(budget, grant);
}

Result<std::unique_ptr<ScreenImage>> GrabScreenArea(const CaptureArea& area, MemoryBudget& budget,
                                                    MemoryBudget::Grant& grant) {
  const Chosen chosen = Choose();
  if (chosen.services->grab_screen_area == nullptr) {
    return Error(std::string(kCaptureFailed) + kNoProtocols);
  }
  if (chosen.silent) return Error(Silent(std::string(kCaptureFailed)));
  return chosen.services->grab_screen_area(area, budget, grant);
}

Result<std::vector<DisplayInfo>> ListDisplays() {
  const Chosen chosen = Choose();
  if (chosen.services->list_displays == nullptr) {
    return Error("unavailable: " + Lacking(chosen.backend, "the display list"));
  }
  if (chosen.silent) return Error(Silent("unavailable: "));
  return chosen.services->list_displays();
}

Result<std::vector<WindowRecord>> QueryWindows() {
  const Chosen chosen = Choose();
  if (chosen.services->query_windows == nullptr) {
    return Error("window list unavailable - " + Lacking(chosen.backend, "the window list"));
  }
  if (chosen.silent) return Error(Silent("window list unavailable - "));
  return chosen.services->query_windows();
}

Result<std::vector<WindowRecord>> QueryAllWindows() {
  const Chosen chosen = Choose();
  if (chosen.services->query_all_windows == nullptr) {
    return Error("window list unavailable - " + Lacking(chosen.backend, "the window list"));
  }
  if (chosen.silent) return Error(Silent("window list unavailable - "));
  return chosen.services->query_all_windows();
}

Result<bool> ControlWindow(const WindowActionRequest& request) {
  const Chosen chosen = Choose();
  if (chosen.services->control_window == nullptr) {
    return Error("unavailable: " + Lacking(chosen.backend, "window control"));
  }
  if (chosen.silent) return Error(Silent("unavailable: "));
  return chosen.services->control_window(request);
}

Result<std::unique_ptr<InputBackend>> OpenInputBackend() {
  const Chosen chosen = Choose();
  if (chosen.services->open_input_backend == nullptr) {
    // Never XTest through XWayland: native windows would not see it.
    return Error(std::string("no connection could be established: (input") + kInputNotOnWayland);
  }
  if (chosen.silent) return Error(Silent("no connection could be established: (") + ")");
  return chosen.services->open_input_backend();
}

Result<ClipboardText> ReadClipboard(size_t max_bytes) {
  const Chosen chosen = Choose();
  if (chosen.services->read_clipboard == nullptr) {
    return Error("unavailable: " + Lacking(chosen.backend, "the clipboard"));
  }
  if (chosen.silent) return Error(Silent("unavailable: "));
  return chosen.services->read_clipboard(max_bytes);
}

Result<void> WriteClipboard(std::string text) {
  const Chosen chosen = Choose();
  if (chosen.services->write_clipboard == nullptr) {
    return Error("unavailable: " + Lacking(chosen.backend, "the clipboard"));
  }
  if (chosen.silent) return Error(Silent("unavailable: "));
  return chosen.services->write_clipboard(std::move(text));
}

Result<PointerLocation> LocatePointer() {
  const Chosen chosen = Choose();
  if (chosen.services->locate_pointer == nullptr) {
    return Error("unavailable: " + Lacking(chosen.backend, "the pointer position"));
  }
  if (chosen.silent) return Error(Silent("unavailable: "));
  return chosen.services->locate_pointer();
}

Result<std::unique_ptr<ScreenDamageWatch>> WatchScreenDamage() {
  const Chosen chosen = Choose();
  if (chosen.services->watch_screen_damage == nullptr) {
    return Error("unavailable: " + Lacking(chosen.backend, "watching the screen"));
  }
  if (chosen.silent) return Error(Silent("unavailable: "));
  return chosen.services->watch_screen_damage();
}

}  // namespace tarvix
