// The wlroots backend's desktop services (Wayland compositors offering
// wlroots screencopy: sway, river, labwc, Hyprland, wayfire), as the Linux
// chooser calls them; each is the platform function of the same name in
// platform/*.h, documented there. Services not listed are not built on
// Wayland yet.
//
// Global points are the compositor's logical coordinates (xdg-output),
// moved so that the main display's top-left corner is the origin; the main
// display is the output at (0,0) of the compositor's layout, else the
// first output it announces. An output at scale 2 has twice as many pixels
// as points; its captures say so in their scale.
#ifndef TARVIX_PLATFORM_WAYLAND_WLR_DESKTOP_H_
#define TARVIX_PLATFORM_WAYLAND_WLR_DESKTOP_H_


#include "platform/desktop_backend.h"

namespace tarvix::wlr {

// Whether the compositor of WAYLAND_DISPLAY offers zwlr_screencopy_manager_v1
// (one registry round trip, within the deadline).
CompositorProbe ProbeCompositor();

Result<std::string> CaptureMainDisplayPng(MemoryBudget& budget, MemoryBudget::Grant& grant);
Result<std::unique_ptr<ScreenImage>> GrabScreenArea(const CaptureArea& area, MemoryBudget& budget,
                                                    MemoryBudget::Grant& grant);
Result<std::vector<DisplayInfo>> ListDisplays();

// Windows through sway's IPC ($SWAYSOCK; see wlr_windows.h for the ids,
// bounds and order), else through wlr foreign toplevel management (see
// wlr_toplevels.h).
Result<std::vector<WindowRecord>> QueryWindows();
Result<std::vector<WindowRecord>> QueryAllWindows();
Result<bool> ControlWindow(const WindowActionRequest& request);

}  // namespace tarvix::wlr

#endif  // TARVIX_PLATFORM_WAYLAND_WLR_DESKTOP_H_
