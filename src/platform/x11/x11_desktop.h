// The X11 backend's desktop services (the X server of DISPLAY), as the
// Linux chooser calls them; each is the platform function of the same
// name in platform/*.h, documented there.
#ifndef TARVIX_PLATFORM_X11_X11_DESKTOP_H_
#define TARVIX_PLATFORM_X11_X11_DESKTOP_H_

#include "platform/desktop_backend.h"

namespace tarvix::x11 {

Result<std::string> CaptureMainDisplayPng(MemoryBudget& budget, MemoryBudget::Grant& grant);
Result<std::unique_ptr<ScreenImage>> GrabScreenArea(const CaptureArea& area, MemoryBudget& budget,
                                                    MemoryBudget::Grant& grant);
Result<std::vector<DisplayInfo>> ListDisplays();
Result<std::vector<WindowRecord>> QueryWindows();
Result<std::vector<WindowRecord>> QueryAllWindows();
Result<bool> ControlWindow(const WindowActionRequest& request);
Result<std::unique_ptr<InputBackend>> OpenInputBackend();
Result<ClipboardText> ReadClipboard(size_t max_bytes);
Result<void> WriteClipboard(std::string text);
Result<PointerLocation> LocatePointer();
Result<std::unique_ptr<ScreenDamageWatch>> WatchScreenDamage();

}  // namespace tarvix::x11

#endif  // TARVIX_PLATFORM_X11_X11_DESKTOP_H_
