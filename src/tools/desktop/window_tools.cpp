#include "tools/desktop/window_tools.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

#include "json/params.h"

namespace tarvix {
namespace {

Json Bounds(const WindowRecord& window) {
  return Json{{"h", TruncateCoordinate(window.height)},
              {"w", TruncateCoordinate(window.width)},
              {"x", TruncateCoordinate(window.x)},
              {"y", TruncateCoordinate(window.y)}};
}

Json Entry(const WindowRecord& window, const std::vector<DisplayInfo>& displays) {
  Json entry = WindowSummary(window);
  entry["id"] = window.id ? Json(*window.id) : Json(nullptr);
  entry["pid"] = window.owner_pid ? Json(*window.owner_pid) : Json(nullptr);
  entry["focused"] = window.focused;
  entry["minimized"] = window.minimized;
  const double cx = window.x + window.width / 2, cy = window.y + window.height / 2;
  entry["display"] = nullptr;
  for (const DisplayInfo& display : displays) {
    if (cx >= static_cast<double>(display.x) && cx < static_cast<double>(display.x + display.width) &&
        cy >= static_cast<double>(display.y) && cy < static_cast<double>(display.y + display.height)) {
      entry["display"] = display.id;
      break;
    }
  }
  return entry;
}

// An integer member within [low, high]; `missing` when absent and required.
Result<std::optional<int64_t>> Bounded(const Json& params, std::string_view key, int64_t low,
                                       int64_t high, bool required) {
  if (FindParam(params, key) == nullptr) {
    if (required) return Error(MissingParam(key));
    return std::optional<int64_t>();
  }
  const std::optional<int64_t> value = SignedParam(params, key);
  if (!value || *value < low || *value > high) {
    return Error("invalid param: " + std::string(key) + " must be an integer from " +
                 std::to_string(low) + " to " + std::to_string(high));
  }
  return value;
}

Result<WindowActionRequest> ReadAction(const Json& params) {
  constexpr std::pair<std::string_view, WindowAction> kActions[] = {
      {"activate", WindowAction::kActivate}, {"raise", WindowAction::kRaise},
      {"minimize", WindowAction::kMinimize}, {"maximize", WindowAction::kMaximize},
      {"restore", WindowAction::kRestore},   {"close", WindowAction::kClose},
      {"move", WindowAction::kMove},         {"resize", WindowAction::kResize},
  };
  WindowActionRequest request;
  if (FindParam(params, "window") == nullptr) return Error(MissingParam("window"));
  const std::optional<uint64_t> window = UnsignedParam(params, "window");
  if (!window) return Error("invalid param: window must be a window id from list_windows");
  request.window = *window;
  const std::string* action = StringParam(params, "action");
  if (action == nullptr) return Error(MissingParam("action"));
  const auto* found = std::find_if(std::begin(kActions), std::end(kActions),
                                   [&](const auto& entry) { return entry.first == *action; });
  if (found == std::end(kActions)) {
    return Error("invalid param: action must be one of activate, raise, minimize, maximize, "
                 "restore, close, move, resize");
  }
  request.action = found->second;
  const bool move = request.action == WindowAction::kMove;
  const bool resize = request.action == WindowAction::kResize;
  // X11 positions and sizes are 16-bit.
  for (const auto& [key, low, high, needed, out] :
       {std::tuple{"x", -32768, 32767, move, &request.x}, {"y", -32768, 32767, move, &request.y},
        {"w", 1, 32767, resize, &request.w}, {"h", 1, 32767, resize, &request.h}}) {
    if (!needed) continue;
    Result<std::optional<int64_t>> value = Bounded(params, key, low, high, true);
    if (!value) return Error(std::move(value).error());
    *out = **value;
  }
  return request;
}

}  // namespace

ToolResult ListWindows(const Json&, const WindowServices& services) {
  Result<std::vector<WindowRecord>> windows = services.windows();
  if (!windows) return Error(std::move(windows).error());
  Result<std::vector<DisplayInfo>> displays = services.displays();
  const std::vector<DisplayInfo> none;
  Json list = Json::array();
  for (const WindowRecord& window : *windows) {
    if (window.owner_name.empty() && window.title.empty()) continue;
    list.push_back(Entry(window, displays ? *displays : none));
  }
  return Json{{"windows", std::move(list)}};
}

ToolResult WindowActionTool(const Json& params, const WindowServices& services) {
  Result<WindowActionRequest> request = ReadAction(params);
  if (!request) return Error(std::move(request).error());
  Result<bool> verified = services.control(*request);
  if (!verified) return Error(std::move(verified).error());
  // The frame after the action, as list_windows reports it; null once the
  // window is gone.
  Json bounds = nullptr;
  if (Result<std::vector<WindowRecord>> windows = services.windows()) {
    for (const WindowRecord& window : *windows) {
      if (window.id == request->window) bounds = Bounds(window);
    }
  }
  return Json{{"bounds", std::move(bounds)}, {"done", true}, {"verified", *verified}};
}

ToolResult ListWindows(const Json& params) {
  static const WindowServices services;
  return ListWindows(params, services);
}

ToolResult WindowActionTool(const Json& params) {
  static const WindowServices services;
  return WindowActionTool(params, services);
}

}  // namespace tarvix
