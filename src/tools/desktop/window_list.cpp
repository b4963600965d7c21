#include "tools/desktop/window_list.h"

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace tarvix {

int64_t TruncateCoordinate(double value) {
  if (std::isnan(value)) return 0;
  // 2^63 is exactly representable; anything at or above it saturates.
  constexpr double kLimit = 9223372036854775808.0;
  if (value >= kLimit) return std::numeric_limits<int64_t>::max();
  if (value < -kLimit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

std::optional<WindowRecord> FrontWindow(const WindowQuery& query) {
  Result<std::vector<WindowRecord>> windows = query();
  if (!windows) return std::nullopt;
  for (WindowRecord& window : *windows) {
    if (window.layer.value_or(0) != 0 || !window.owner_pid) continue;
    return std::move(window);
  }
  return std::nullopt;
}

std::optional<int32_t> FrontApplication(const WindowQuery& query) {
  const std::optional<WindowRecord> front = FrontWindow(query);
  if (!front) return std::nullopt;
  return static_cast<int32_t>(*front->owner_pid);
}

WindowQuery UntilFailure(WindowQuery query) {
  return [query = std::move(query),
          failure = std::optional<std::string>()]() mutable -> Result<std::vector<WindowRecord>> {
    if (failure) return Error(*failure);
    Result<std::vector<WindowRecord>> windows = query();
    if (!windows) failure = windows.error();
    return windows;
  };
}

Json WindowSummary(const WindowRecord& window) {
  return Json{{"app", window.owner_name},
              {"h", TruncateCoordinate(window.height)},
              {"title", window.title},
              {"w", TruncateCoordinate(window.width)},
              {"x", TruncateCoordinate(window.x)},
              {"y", TruncateCoordinate(window.y)}};
}

ToolResult WindowSummaryList(const WindowQuery& query) {
  Result<std::vector<WindowRecord>> windows = query();
  if (!windows) return Error(std::move(windows).error());
  Json list = Json::array();
  for (const WindowRecord& window : *windows) {
    if (window.owner_name.empty() && window.title.empty()) continue;
    list.push_back(WindowSummary(window));
  }
  return list;
}

}  // namespace tarvix
