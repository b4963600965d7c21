// Window query on macOS: the window server's list of on-screen windows.
#include <ApplicationServices/ApplicationServices.h>

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
  if (const std::optional<int64_t> number = CfInt64(CfDictionaryEntry(window, "kCGWindowNumber"))) {
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

}  // namespace

Result<std::vector<WindowRecord>> QueryWindows() {
  const CfOwned<CFArrayRef> windows(CGWindowListCopyWindowInfo(
      kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements, kCGNullWindowID));
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

}  // namespace tarvix
