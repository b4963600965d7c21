// The platform's accessibility element tree (AT-SPI on Linux, AX on macOS).
//
// No platform reads an element tree yet; "ui_tree" then answers with the
// window list and this platform's note, which names the switch that makes
// a tree readable.
#ifndef TARVIX_PLATFORM_ELEMENT_TREE_H_
#define TARVIX_PLATFORM_ELEMENT_TREE_H_

#include <string_view>

namespace tarvix {

// The note sent with the window list when no element tree was read.
std::string_view ElementTreeFallbackNote();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_ELEMENT_TREE_H_
