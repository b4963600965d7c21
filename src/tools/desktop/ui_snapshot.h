// The "ui_snapshot" tool: accessibility elements of the focused window, a
// window, an application or the whole desktop, filtered and capped, each
// with a reference ("s<n>e<i>") that "ui_action" and "ui_set_value" act on.
#ifndef TARVIX_TOOLS_DESKTOP_UI_SNAPSHOT_H_
#define TARVIX_TOOLS_DESKTOP_UI_SNAPSHOT_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "json/json.h"
#include "platform/accessibility.h"
#include "tools/desktop/snapshot_store.h"
#include "tools/desktop/window_list.h"

namespace tarvix {

// Opens the accessible application of `pid` (every one for nullopt) with
// a budget for all of its reads.
using ApplicationsOpener = std::function<std::unique_ptr<AccessibleApplication>(
    std::optional<int32_t> pid, std::chrono::milliseconds budget)>;

struct UiSnapshotSources {
  WindowQuery windows;
  ApplicationsOpener open;
  const AccessibilityPlatform* platform;
  SnapshotStore* store;
};

// The caps a caller may ask for.
inline constexpr size_t kMaxSnapshotElements = 5000;
inline constexpr uint32_t kMaxSnapshotDepth = 64;
inline constexpr int64_t kMaxSnapshotDeadlineMs = 10000;

ToolResult UiSnapshot(const Json& params);
ToolResult UiSnapshotFrom(const Json& params, const UiSnapshotSources& sources);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_UI_SNAPSHOT_H_
