#include "platform/element_tree.h"

namespace tarvix {

std::string_view ElementTreeFallbackNote() {
  return "macOS AX element tree empty/unavailable (grant Accessibility in System Settings > "
         "Privacy & Security, or no focused window) \u2014 returning window list instead.";
}

}  // namespace tarvix
