#include "tools/desktop/ui_tree.h"

#include "platform/element_tree.h"

namespace tarvix {

ToolResult UiTreeFrom(const UiTreeSources& sources) {
  if (sources.element_tree) {
    if (const std::optional<int32_t> pid = FrontApplication(sources.windows)) {
      if (std::optional<Json> tree = sources.element_tree(*pid)) return std::move(*tree);
    }
  }
  ToolResult windows = WindowSummaryList(sources.windows);
  if (!windows) return windows;
  return Json{{"note", sources.fallback_note}, {"windows", std::move(windows).value()}};
}

ToolResult UiTree(const Json&, bool) {
  return UiTreeFrom({.windows = QueryWindows,
                     .element_tree = nullptr,
                     .fallback_note = ElementTreeFallbackNote()});
}

}  // namespace tarvix
