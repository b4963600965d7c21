// The "ui_tree" tool: the accessibility element tree of the front
// application's focused window, or, when no tree can be read, the window
// summary list with a note saying why.
#ifndef TARVIX_TOOLS_DESKTOP_UI_TREE_H_
#define TARVIX_TOOLS_DESKTOP_UI_TREE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "json/json.h"
#include "tools/desktop/window_list.h"

namespace tarvix {

// Reads the element tree result of process `pid`'s focused window; nullopt
// when no tree can be read.
using ElementTreeReader = std::function<std::optional<Json>(int32_t pid)>;

struct UiTreeSources {
  WindowQuery windows;
  // Empty when the platform has no element tree reader.
  ElementTreeReader element_tree;
  std::string_view fallback_note;
};

// The tool as the method table calls it (params ignored; any mode).
ToolResult UiTree(const Json& params, bool allow_exec);
// The tool's logic over given sources: the tree when the front application
// has one, else {note, windows}, else the window list's error.
ToolResult UiTreeFrom(const UiTreeSources& sources);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_UI_TREE_H_
