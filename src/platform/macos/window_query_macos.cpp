// Window query on macOS: the window server's list of on-screen windows.
#include <ApplicationServices/ApplicationServices.h>

#include <algorithm>

#include "platform/macos/cf_value.h"
#include "platform/window_query.h"

namespace tarvix {
namespace {

// A rectangle number: as a float, else as an integer, else 0.
double RectangleNumber(CFDictionaryRef bounds, std::string_view key) {
  const CFTypeRef value = CfDictionaryEntry(bounds, key);
  if (const std::optional<double> number = CfFloat64(value)) return *number;
  if (const std::optional<int64_t> number = CfInt64(value)) return static_cast<double>(*number);
  return 0;
}

WindowRecord ReadWindow(CFDictionaryRef window) {
  WindowRecord record;
  record.owner_name = CfStringText(CfDictionaryEntry(window, "kCGWindowOwnerName")).value_or("");
  record.title = CfStringText(CfDictionaryEntry(window, "kCGWindowName")).value_or("");
  record.owner_pid = CfInt64(CfDictionaryEntry(window, "kCGWindowOwnerPID"));
  record.layer = CfInt64(CfDictionaryEntry(window, "kCGWindowLayer"));
  if (const std::optional<int64_t> number = CfInt64(CfDictionaryEntry(window, "kCGWindowNumber"));
      number && *number > 0) {
    record.id = static_cast<uint64_t>(*number);
  }
  const CFTypeRef bounds = CfDictionaryEntry(window, "kCGWindowBounds");
  if (IsCfType(bounds, CFDictionaryGetTypeID())) {
    const auto rect = static_cast<CFDictionaryRef>(bounds);
    record.x = RectangleNumber(rect, "X");
    record.y = RectangleNumber(rect, "Y");
    record.width = RectangleNumber(rect, "Width");
    record.height = RectangleNumber(rect, "Height");
  }
  return record;
}

// The window server's list for `options`, front to back.
Result<std::vector<WindowRecord>> ListWindows(CGWindowListOption options) {
  const CfOwned<CFArrayRef> windows(
      CGWindowListCopyWindowInfo(options | kCGWindowListExcludeDesktopElements, kCGNullWindowID));
  if (!windows) return Error("CGWindowListCopyWindowInfo returned null");
  std::vector<WindowRecord> records;
  const CFIndex count = CFArrayGetCount(windows.get());
  for (CFIndex i = 0; i < count; ++i) {
    const CFTypeRef window = CFArrayGetValueAtIndex(windows.get(), i);
    // Anything but a dictionary reads as a record with every entry absent.
    records.push_back(IsCfType(window, CFDictionaryGetTypeID())
                          ? ReadWindow(static_cast<CFDictionaryRef>(window))
                          : WindowRecord{});
  }
  return records;
}

// The frontmost ordinary window has the focus.
void MarkFocused(std::vector<WindowRecord>& records) {
  for (WindowRecord& record : records) {
    if (record.layer.value_or(0) == 0 && !record.minimized) {
      record.focused = true;
      return;
    }
  }
}

}  // namespace

Result<std::vector<WindowRecord>> QueryWindows() {
  Result<std::vector<WindowRecord>> records = ListWindows(kCGWindowListOptionOnScreenOnly);
  if (records) MarkFocused(*records);
  return records;
}

// Every window, on screen or not: those missing from the on-screen list
// are minimized (or on another Space, which reads the same to an agent).
// Off-screen windows without a title or off layer 0 are the applications'
// helper windows, never shown: left out.
Result<std::vector<WindowRecord>> QueryAllWindows() {
  Result<std::vector<WindowRecord>> shown = ListWindows(kCGWindowListOptionOnScreenOnly);
  if (!shown) return shown;
  Result<std::vector<WindowRecord>> all = ListWindows(kCGWindowListOptionAll);
  if (!all) return all;
  std::vector<WindowRecord> records;
  for (WindowRecord& record : *all) {
    const bool on_screen = std::any_of(shown->begin(), shown->end(), [&](const WindowRecord& s) {
      return s.id && s.id == record.id;
    });
    if (!on_screen) {
      if (record.title.empty() || record.layer.value_or(0) != 0) continue;
      record.minimized = true;
    }
    records.push_back(std::move(record));
  }
  MarkFocused(records);
  return records;
}

}  // namespace tarvix
