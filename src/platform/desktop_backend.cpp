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
  if (!session.wayland) return DesktopBackend::kX11;
  switch (session.compositor) {
    case CompositorProbe::kNotAsked:
    case CompositorProbe::kUnreachable:
      return DesktopBackend::kX11;
    case CompositorProbe::kSilent:
    case CompositorProbe::kScreencopy:
      return DesktopBackend::kWlroots;
    case CompositorProbe::kNoScreencopy:
      break;
  }
  return DesktopBackend::kWaylandUnsupported;
}

}  // namespace tarvix
