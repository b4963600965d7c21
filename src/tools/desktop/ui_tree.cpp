#include "tools/desktop/ui_tree.h"

#include "tools/desktop/element_walk.h"

namespace tarvix {

std::optional<WindowFrame> FrameOf(const std::vector<WindowRecord>& windows, int64_t pid,
                                   std::string_view title) {
  const WindowRecord* chosen = nullptr;
  for (const WindowRecord& window : windows) {
    if (window.owner_pid != pid) continue;
    if (window.title == title) {
      chosen = &window;
      break;
    }
    if (chosen == nullptr) chosen = &window;
  }
  if (chosen == nullptr) return std::nullopt;
  return WindowFrame{{chosen->x, chosen->y, chosen->width, chosen->height},
                     chosen->window_relative_elements};
}

ToolResult UiTreeFrom(const UiTreeSources& sources) {
  const Result<std::vector<WindowRecord>> windows = sources.windows();
  const WindowQuery listed = [&]() { return windows; };
  if (const std::optional<WindowRecord> front = FrontWindow(listed)) {
    const int64_t pid = *front->owner_pid;
    if (std::unique_ptr<AccessibleApplication> application =
            sources.open_application(static_cast<int32_t>(pid), front->title)) {
      const WindowFrameOf frame_of = [&](std::string_view title) {
        return FrameOf(*windows, pid, title);
      };
      if (std::optional<Json> tree = WalkElementTree(*application, *sources.platform, frame_of)) {
        return std::move(*tree);
      }
    }
  }
  ToolResult summaries = WindowSummaryList(sources.windows);
  if (!summaries) return summaries;
  return Json{{"note", sources.platform->fallback_note},
              {"windows", std::move(summaries).value()}};
}

ToolResult UiTree(const Json&) {
  return UiTreeFrom({.windows = UntilFailure(QueryWindows),
                     .open_application = OpenAccessibleApplication,
                     .platform = &ThisAccessibilityPlatform()});
}

}  // namespace tarvix
