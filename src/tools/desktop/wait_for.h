// `wait_for`: waits until the screen settles or changes, or a window or an
// element appears or goes, so an agent need not sleep and look again. A
// time-out is an answer (met false), not an error.
#ifndef TARVIX_TOOLS_DESKTOP_WAIT_FOR_H_
#define TARVIX_TOOLS_DESKTOP_WAIT_FOR_H_

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "json/json.h"
#include "platform/screen_damage.h"
#include "tools/desktop/window_list.h"

namespace tarvix {

inline constexpr int64_t kMaxWaitMs = 60'000;
// Windows and elements are looked for at most this often.
inline constexpr std::chrono::milliseconds kWaitPollInterval{100};

// What an element condition looks for: a case-insensitive substring of the
// name, value or description, and/or an exact role.
struct ElementCondition {
  std::string query;
  std::string role;
};

// The services a wait uses, replaceable for tests.
struct WaitServices {
  std::function<Result<std::unique_ptr<ScreenDamageWatch>>()> watch = WatchScreenDamage;
  WindowQuery windows = QueryWindows;
  // The first element matching the condition, null when none does; the
  // complete message when no tree can be read.
  std::function<ToolResult(const ElementCondition&)> find_element;
  std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
  std::function<void(std::chrono::steady_clock::time_point)> sleep_until =
      [](std::chrono::steady_clock::time_point until) { std::this_thread::sleep_until(until); };
};

// {until, timeout_ms, stable_ms, region, query, role, title} ->
// {"met","elapsed_ms","matched"}.
ToolResult WaitFor(const Json& params, const WaitServices& services);
ToolResult WaitFor(const Json& params);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_WAIT_FOR_H_
