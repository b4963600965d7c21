#include "tools/desktop/ui_tree.h"

#include "tools/desktop/element_walk.h"

namespace tarvix {

ToolResult UiTreeFrom(const UiTreeSources& sources) {
  if (const std::optional<WindowRecord> front = FrontWindow(sources.windows)) {
    if (std::unique_ptr<AccessibleApplication> application =
            sources.open_application(static_cast<int32_t>(*front->owner_pid), front->title)) {
      if (std::optional<Json> tree = WalkElementTree(*application, *sources.platform)) {
        return std::move(*tree);
      }
    }
  }
  ToolResult windows = WindowSummaryList(sources.windows);
  if (!windows) return windows;
  return Json{{"note", sources.platform->fallback_note}, {"windows", std::move(windows).value()}};
}

ToolResult UiTree(const Json&) {
  return UiTreeFrom({.windows = QueryWindows,
                     .open_application = OpenAccessibleApplication,
                     .platform = &ThisAccessibilityPlatform()});
}

}  // namespace tarvix
