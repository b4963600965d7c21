// Text found in X window properties, turned into UTF-8.
#ifndef TARVIX_PLATFORM_X11_X_TEXT_H_
#define TARVIX_PLATFORM_X11_X_TEXT_H_

#include <string>
#include <string_view>

namespace tarvix {

// STRING properties (WM_NAME, WM_CLASS) are ISO 8859-1.
std::string Latin1ToUtf8(std::string_view latin1);

// COMPOUND_TEXT (ISO 2022 as X uses it): ASCII and Latin-1 segments are
// converted, UTF-8 segments (ESC % G) are kept; segments in other character
// sets (e.g. JIS, KOI8) are left out, since decoding them would need
// tables the daemon does not carry. Ill-formed escapes end the text.
std::string CompoundTextToUtf8(std::string_view text);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_TEXT_H_
