#include "platform/desktop_backend.h"

namespace tarvix {

std::string_view DesktopBackendName(DesktopBackend backend) {
  switch (backend) {
    case DesktopBackend::kX11:
      return "x11";
    case DesktopBackend::kWlroots:
      return "wlroots";
    case DesktopBackend::kWaylandUnsupported:
      break;
  }
  return "wayland-unsupported";
}

DesktopBackend ChooseDesktopBackend(const DesktopSession& session) {
  if (!session.wayland || !session.screencopy) return DesktopBackend::kX11;
  return *session.screencopy ? DesktopBackend::kWlroots : DesktopBackend::kWaylandUnsupported;
}

}  // namespace tarvix
