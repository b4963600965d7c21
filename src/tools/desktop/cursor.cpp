#include "tools/desktop/cursor.h"

#include <string>

#include "tools/desktop/input_session.h"
#include "tools/desktop/input_steps.h"
#include "tools/desktop/key_names.h"

namespace tarvix {

ToolResult ReportCursor(const HeldInput& held, const PointerLocator& locate) {
  Result<PointerLocation> at = locate();
  if (!at) {
    const std::string& error = at.error();
    if (error.starts_with("no connection could be established")) {
      return Error(InputUnavailable(error));
    }
    return Error(error);
  }
  static constexpr const char* kButtons[] = {"left", "middle", "right"};
  Json buttons = Json::array();
  for (const MouseButton button : held.buttons()) {
    buttons.push_back(kButtons[static_cast<size_t>(button)]);
  }
  Json keys = Json::array();
  for (const Key& key : held.keys()) keys.push_back(ReportedKeyName(key));
  return Json{{"buttons", std::move(buttons)},
              {"display", at->display ? Json(*at->display) : Json(nullptr)},
              {"keys", std::move(keys)},
              {"x", at->x},
              {"y", at->y}};
}

ToolResult CursorTool(const Json& /*params*/, const CallContext& context) {
  HeldInput& held = context.input_session->held;
  return held.Finish(ReportCursor(held, LocatePointer));
}

}  // namespace tarvix
