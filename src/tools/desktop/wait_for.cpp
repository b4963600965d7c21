#include "tools/desktop/wait_for.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "base/lower_case.h"
#include "json/params.h"
#include "tools/desktop/ui_tree.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;

enum class Until { kSettle, kChange, kElement, kElementGone, kWindow, kWindowGone };

struct WaitRequest {
  Until until = Until::kSettle;
  std::chrono::milliseconds timeout{5000};
  std::chrono::milliseconds stable{300};
  std::optional<PointRect> region;
  ElementCondition element;
  std::string title;  // lower-cased
};

Result<std::chrono::milliseconds> Millis(const Json& params, std::string_view key,
                                         int64_t fallback) {
  if (FindParam(params, key) == nullptr) return std::chrono::milliseconds(fallback);
  const std::optional<uint64_t> value = UnsignedParam(params, key);
  if (!value || *value > static_cast<uint64_t>(kMaxWaitMs)) {
    return Error("invalid param: " + std::string(key) + " must be an integer from 0 to 60000");
  }
  return std::chrono::milliseconds(static_cast<int64_t>(*value));
}

Result<WaitRequest> ReadRequest(const Json& params) {
  constexpr std::pair<std::string_view, Until> kNames[] = {
      {"settle", Until::kSettle},   {"change", Until::kChange},
      {"element", Until::kElement}, {"element_gone", Until::kElementGone},
      {"window", Until::kWindow},   {"window_gone", Until::kWindowGone},
  };
  WaitRequest request;
  const std::string* until = StringParam(params, "until");
  if (until == nullptr) return Error(MissingParam("until"));
  const auto* name = std::find_if(std::begin(kNames), std::end(kNames),
                                  [&](const auto& entry) { return entry.first == *until; });
  if (name == std::end(kNames)) {
    return Error("invalid param: until must be one of settle, change, element, element_gone, "
                 "window, window_gone");
  }
  request.until = name->second;
  Result<std::chrono::milliseconds> timeout = Millis(params, "timeout_ms", 5000);
  if (!timeout) return Error(std::move(timeout).error());
  request.timeout = *timeout;
  Result<std::chrono::milliseconds> stable = Millis(params, "stable_ms", 300);
  if (!stable) return Error(std::move(stable).error());
  request.stable = *stable;
  if (const Json* region = FindParam(params, "region"); region != nullptr) {
    const std::optional<int64_t> x = SignedParam(*region, "x"), y = SignedParam(*region, "y");
    const std::optional<uint64_t> w = UnsignedParam(*region, "w"),
                                  h = UnsignedParam(*region, "h");
    constexpr uint64_t kMaxSide = uint64_t{1} << 31;
    if (!x || !y || !w || !h || *w == 0 || *h == 0 || *w > kMaxSide || *h > kMaxSide ||
        *x < -static_cast<int64_t>(kMaxSide) || *x > static_cast<int64_t>(kMaxSide) ||
        *y < -static_cast<int64_t>(kMaxSide) || *y > static_cast<int64_t>(kMaxSide)) {
      return Error("invalid param: region must be {x, y, w, h} with w and h above 0");
    }
    request.region = PointRect{*x, *y, static_cast<int64_t>(*w), static_cast<int64_t>(*h)};
  }
  if (request.until == Until::kWindow || request.until == Until::kWindowGone) {
    const std::string* title = StringParam(params, "title");
    if (title == nullptr || title->empty()) return Error(MissingParam("title"));
    request.title = LowerCaseFull(*title);
  }
  if (request.until == Until::kElement || request.until == Until::kElementGone) {
    if (const std::string* query = StringParam(params, "query")) request.element.query = *query;
    if (const std::string* role = StringParam(params, "role")) request.element.role = *role;
    if (request.element.query.empty() && request.element.role.empty()) {
      return Error(MissingParam("query or role"));
    }
  }
  return request;
}

Json Answer(bool met, Clock::duration elapsed, Json matched) {
  return Json{{"elapsed_ms", std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()},
              {"matched", std::move(matched)},
              {"met", met}};
}

bool Touches(const std::vector<PointRect>& changes, const std::optional<PointRect>& region) {
  if (!region) return !changes.empty();
  return std::any_of(changes.begin(), changes.end(),
                     [&](const PointRect& change) { return change.Intersects(*region); });
}

// settle: no change in the region for `stable`; change: any change in it.
ToolResult WaitForScreen(const WaitRequest& request, const WaitServices& services) {
  Result<std::unique_ptr<ScreenDamageWatch>> opened = services.watch();
  if (!opened) return Error(std::move(opened).error());
  ScreenDamageWatch& watch = **opened;
  const Clock::time_point start = services.now();
  const Clock::time_point deadline = start + request.timeout;
  Clock::time_point quiet_since = start;
  while (true) {
    const Clock::time_point settled_at = quiet_since + request.stable;
    const Clock::time_point until =
        request.until == Until::kSettle ? std::min(settled_at, deadline) : deadline;
    Result<std::vector<PointRect>> changes = watch.Next(until);
    if (!changes) return Error(std::move(changes).error());
    const Clock::time_point now = services.now();
    if (Touches(*changes, request.region)) {
      if (request.until == Until::kChange) return Answer(true, now - start, nullptr);
      quiet_since = now;
    } else if (request.until == Until::kSettle && now >= settled_at) {
      return Answer(true, now - start, nullptr);
    }
    if (now >= deadline) return Answer(false, now - start, nullptr);
  }
}

// The first window whose title holds the lower-cased `title`.
Result<std::optional<WindowRecord>> FindWindow(const WindowQuery& query, const std::string& title) {
  Result<std::vector<WindowRecord>> windows = query();
  if (!windows) return Error(std::move(windows).error());
  for (WindowRecord& window : *windows) {
    if (LowerCaseFull(window.title).find(title) != std::string::npos) {
      return std::optional<WindowRecord>(std::move(window));
    }
  }
  return std::optional<WindowRecord>();
}

// window, window_gone, element, element_gone: looks every poll interval.
ToolResult WaitByLooking(const WaitRequest& request, const WaitServices& services) {
  const Clock::time_point start = services.now();
  const Clock::time_point deadline = start + request.timeout;
  const bool gone = request.until == Until::kWindowGone || request.until == Until::kElementGone;
  while (true) {
    const Clock::time_point looked_at = services.now();
    Json matched = nullptr;
    if (request.until == Until::kWindow || request.until == Until::kWindowGone) {
      Result<std::optional<WindowRecord>> window = FindWindow(services.windows, request.title);
      if (!window) return Error(std::move(window).error());
      if (*window) matched = WindowSummary(**window);
    } else {
      if (!services.find_element) return Error("unavailable: no element tree on this platform");
      ToolResult element = services.find_element(request.element);
      if (!element) return Error(std::move(element).error());
      matched = std::move(element).value();
    }
    const bool found = !matched.is_null();
    const Clock::time_point now = services.now();
    if (found != gone) return Answer(true, now - start, gone ? Json(nullptr) : std::move(matched));
    if (now >= deadline) return Answer(false, now - start, nullptr);
    services.sleep_until(std::min(looked_at + kWaitPollInterval, deadline));
  }
}

bool Holds(const Json& element, std::string_view key, const std::string& lowered) {
  const Json* text = FindParam(element, key);
  return text != nullptr && text->is_string() &&
         LowerCaseFull(text->get_ref<const std::string&>()).find(lowered) != std::string::npos;
}

// The first element of the focused window's tree that matches; null when
// none does or there is no tree (the window list came back instead).
ToolResult FindInFocusedTree(const ElementCondition& condition) {
  ToolResult tree = UiTree(Json::object());
  if (!tree) return tree;
  const Json* elements = FindParam(*tree, "elements");
  if (elements == nullptr || !elements->is_array()) return Json(nullptr);
  const std::string query = LowerCaseFull(condition.query);
  for (const Json& element : *elements) {
    if (!condition.role.empty() && element.value("role", "") != condition.role) continue;
    if (!query.empty() && !Holds(element, "name", query) && !Holds(element, "value", query) &&
        !Holds(element, "description", query)) {
      continue;
    }
    return element;
  }
  return Json(nullptr);
}

}  // namespace

ToolResult WaitFor(const Json& params, const WaitServices& services) {
  Result<WaitRequest> request = ReadRequest(params);
  if (!request) return Error(std::move(request).error());
  if (request->until == Until::kSettle || request->until == Until::kChange) {
    return WaitForScreen(*request, services);
  }
  return WaitByLooking(*request, services);
}

ToolResult WaitFor(const Json& params) {
  static const WaitServices services{.find_element = FindInFocusedTree};
  return WaitFor(params, services);
}

}  // namespace tarvix
