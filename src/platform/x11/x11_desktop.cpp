#include "platform/x11/x11_desktop.h"

namespace tarvix {

const DesktopServices& X11DesktopServices() {
  static const DesktopServices services{
      .capture_main_display_png = x11::CaptureMainDisplayPng,
      .grab_screen_area = x11::GrabScreenArea,
      .list_displays = x11::ListDisplays,
      .query_windows = x11::QueryWindows,
      .query_all_windows = x11::QueryAllWindows,
      .control_window = x11::ControlWindow,
      .open_input_backend = x11::OpenInputBackend,
      .read_clipboard = x11::ReadClipboard,
      .write_clipboard = x11::WriteClipboard,
      .locate_pointer = x11::LocatePointer,
      .watch_screen_damage = x11::WatchScreenDamage,
  };
  return services;
}

}  // namespace tarvix
