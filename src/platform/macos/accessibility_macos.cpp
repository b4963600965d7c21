// macOS: the platform's texts and press rule for the shared element walk.
// No AX reader yet, so "ui_tree" answers with the window list.
#include "platform/accessibility.h"

namespace tarvix {
namespace {

constexpr std::string_view kPressActions[] = {"AXPress"};

}  // namespace

const AccessibilityPlatform& ThisAccessibilityPlatform() {
  static const AccessibilityPlatform platform{
      .source = "ax-macos",
      .note = "macOS AX element tree of the focused window (depth/element capped).",
      .fallback_note = "macOS AX element tree empty/unavailable (grant Accessibility in System "
                       "Settings > Privacy & Security, or no focused window) \u2014 returning "
                       "window list instead.",
      .press_actions = kPressActions,
      .press_actions_ignore_ascii_case = false,
  };
  return platform;
}

std::unique_ptr<AccessibleApplication> OpenAccessibleApplication(int32_t, std::string_view) {
  return nullptr;
}

}  // namespace tarvix
