#include "platform/element_tree.h"

namespace tarvix {

std::string_view ElementTreeFallbackNote() {
  return "Linux AT-SPI element tree empty/unavailable (enable the desktop's accessibility bus, or "
         "no focused window) \xE2\x80\x94 returning window list instead.";
}

}  // namespace tarvix
