// Hosts without an accessibility service: "ui_tree" always answers with
// the window list.
#include "platform/accessibility.h"

namespace tarvix {

const AccessibilityPlatform& ThisAccessibilityPlatform() {
  static const AccessibilityPlatform platform{
      .source = "none",
      .note = "",
      .fallback_note = "No accessibility element tree on this platform \xE2\x80\x94 returning "
                       "window list instead.",
      .press_actions = {},
  };
  return platform;
}

std::unique_ptr<AccessibleApplication> OpenAccessibleApplication(int32_t, std::string_view) {
  return nullptr;
}

}  // namespace tarvix
