// What the X backend types: keysyms for keys, and a text as a sequence of
// keys.
#ifndef TARVIX_PLATFORM_X11_X_KEYSYMS_H_
#define TARVIX_PLATFORM_X11_X_KEYSYMS_H_

#include <xkbcommon/xkbcommon.h>

#include <string_view>
#include <vector>

#include "platform/input_backend.h"

namespace tarvix {

// The keysym a key types: the named keys' own keysyms (Super_L for Meta),
// a character's from xkbcommon's Unicode table (Latin-1 directly, the
// legacy keysyms where one exists, else 0x01000000 + code point).
// XKB_KEY_NoSymbol for code point 0 and for what no keysym can carry.
xkb_keysym_t KeysymForKey(const Key& key);

// The keys that type `utf8` (valid UTF-8): a tab as the Tab key; a line
// feed, a carriage return, and a carriage return followed by a line feed
// each as one Return; NUL dropped; every other scalar as its character key.
std::vector<Key> KeysForText(std::string_view utf8);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_KEYSYMS_H_
