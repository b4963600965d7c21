#include "platform/desktop_backend.h"

#include <gtest/gtest.h>

namespace tarvix {
namespace {

TEST(ChooseDesktopBackendTest, WaylandOnlyWhereTheCompositorIsReachable) {
  const struct {
    const char* name;
    DesktopSession session;
    DesktopBackend expected;
  } cases[] = {
      {"X11 session", {.wayland = false}, DesktopBackend::kX11},
      // Never asked outside Wayland, and ignored if it were.
      {"X11 session, stale answer", {.wayland = false, .compositor = CompositorProbe::kScreencopy},
       DesktopBackend::kX11},
      {"sway", {.wayland = true, .compositor = CompositorProbe::kScreencopy},
       DesktopBackend::kWlroots},
      {"GNOME or KDE", {.wayland = true, .compositor = CompositorProbe::kNoScreencopy},
       DesktopBackend::kWaylandUnsupported},
      // A dead WAYLAND_DISPLAY: DISPLAY (XWayland or a plain server) may still serve.
      {"compositor unreachable", {.wayland = true, .compositor = CompositorProbe::kUnreachable},
       DesktopBackend::kX11},
      // Its calls then say it did not answer, rather than a wrong backend's text.
      {"compositor stopped", {.wayland = true, .compositor = CompositorProbe::kSilent},
       DesktopBackend::kWlroots},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseDesktopBackend(c.session), c.expected) << c.name;
  }
  EXPECT_EQ(DesktopBackendName(DesktopBackend::kWlroots), "wlroots");
}

}  // namespace
}  // namespace tarvix
