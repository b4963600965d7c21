// The "ui_tree" tool: the accessibility element tree of the front
// application's focused window, or, when no tree can be read, the window
// summary list with a note saying why.
#ifndef TARVIX_TOOLS_DESKTOP_UI_TREE_H_
#define TARVIX_TOOLS_DESKTOP_UI_TREE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "json/json.h"
#include "platform/accessibility.h"
#include "tools/desktop/element_walk.h"
#include "tools/desktop/window_list.h"

namespace tarvix {

// Opens the accessible application of a process given its pid and the
// title of its frontmost window; null when there is none.
using ApplicationOpener =
    std::function<std::unique_ptr<AccessibleApplication>(int32_t pid, std::string_view title)>;

struct UiTreeSources {
  WindowQuery windows;
  ApplicationOpener open_application;
  const AccessibilityPlatform* platform;
};

// The frame of process `pid`'s window titled `title` in `windows`, else of
// its frontmost window.
std::optional<WindowFrame> FrameOf(const std::vector<WindowRecord>& windows, int64_t pid,
                                     std::string_view title);

// The tool as the method table calls it (params ignored; any mode).
ToolResult UiTree(const Json& params);
// The tool's logic over given sources: the tree when the front application
// has one, else {note, windows}, else the window list's error.
ToolResult UiTreeFrom(const UiTreeSources& sources);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_UI_TREE_H_
