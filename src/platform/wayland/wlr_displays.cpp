// Displays on wlroots compositors: the wl_outputs with xdg-output's
// logical rectangles, and the wlroots backend's table of services.
#include <utility>

#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wlr_clipboard.h"
#include "platform/wayland/wlr_damage.h"
#include "platform/wayland/wlr_desktop.h"
#include "platform/wayland/wlr_input.h"

namespace tarvix {

namespace wlr {

CompositorProbe ProbeCompositor() {
  Result<std::unique_ptr<WaylandConnection>> c = WaylandConnection::Open();
  if (!c) {
    return c.error() == kCompositorSilent ? CompositorProbe::kSilent : CompositorProbe::kUnreachable;
  }
  return (*c)->screencopy() != nullptr ? CompositorProbe::kScreencopy
                                       : CompositorProbe::kNoScreencopy;
}

Result<std::vector<DisplayInfo>> ListDisplays() {
  Result<std::unique_ptr<WaylandConnection>> opened = WaylandConnection::Open();
  if (!opened) return Error("unavailable: " + opened.error());
  WaylandConnection& c = **opened;
  if (Result<void> described = c.DescribeOutputs(); !described) {
    return Error("unavailable: " + described.error());
  }
  std::vector<OutputGeometry> outputs;
  for (const auto& output : c.outputs()) outputs.push_back(output->geometry);
  const std::optional<size_t> main = MainOutput(outputs);
  if (!main) return Error("unavailable: the Wayland compositor has no output");
  const PointRect origin = LogicalRect(outputs[*main]);
  std::vector<DisplayInfo> displays;
  for (size_t i = 0; i < outputs.size(); ++i) {
    const PointRect r = LogicalRect(outputs[i]);
    displays.push_back({.id = static_cast<int64_t>(i + 1),
                        .name = outputs[i].name,
                        .x = r.x - origin.x,
                        .y = r.y - origin.y,
                        .width = r.w,
                        .height = r.h,
                        .scale = PixelsPerPoint(outputs[i]),
                        .primary = i == *main});
  }
  return displays;
}

}  // namespace wlr

const DesktopServices& WlrootsDesktopServices() {
  static const DesktopServices services{
      .capture_main_display_png = wlr::CaptureMainDisplayPng,
      .grab_screen_area = wlr::GrabScreenArea,
      .list_displays = wlr::ListDisplays,
      .query_windows = wlr::QueryWindows,
      .query_all_windows = wlr::QueryAllWindows,
      .control_window = wlr::ControlWindow,
      .open_input_backend = wlr::OpenInputBackend,
      .read_clipboard = wlr::ReadClipboard,
      .write_clipboard = wlr::WriteClipboard,
      .watch_screen_damage = wlr::WatchScreenDamage,
  };
  return services;
}

}  // namespace tarvix
