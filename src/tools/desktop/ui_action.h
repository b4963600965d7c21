// The "ui_action" and "ui_set_value" tools: act on an element a snapshot
// referenced, then read it back to tell whether the action took effect.
#ifndef TARVIX_TOOLS_DESKTOP_UI_ACTION_H_
#define TARVIX_TOOLS_DESKTOP_UI_ACTION_H_

#include <chrono>
#include <functional>
#include <memory>

#include "json/json.h"
#include "platform/accessibility.h"
#include "tools/desktop/snapshot_store.h"

namespace tarvix {

struct UiActionSources {
  const SnapshotStore* store;
  std::function<std::unique_ptr<ElementControl>(const ElementHandle&)> open;
  const AccessibilityPlatform* platform;
  // How long the element is read back for the effect an action implies
  // (a toolkit may apply it on its next main-loop turn).
  std::chrono::milliseconds settle{300};
};

// {ref, action} -> {action, done, effect, states, value}.
ToolResult UiAction(const Json& params);
ToolResult UiActionFrom(const Json& params, const UiActionSources& sources);

// {ref, value} -> {done, effect, value}.
ToolResult UiSetValue(const Json& params);
ToolResult UiSetValueFrom(const Json& params, const UiActionSources& sources);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_UI_ACTION_H_
