#include "platform/x11/x_keysyms.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <iterator>

#include "base/utf8.h"

namespace tarvix {
namespace {

// Indexed by NamedKey.
constexpr xkb_keysym_t kNamedKeysyms[] = {
    XKB_KEY_Return, XKB_KEY_Tab,    XKB_KEY_Escape,    XKB_KEY_BackSpace, XKB_KEY_Delete,
    XKB_KEY_space,  XKB_KEY_Up,     XKB_KEY_Down,      XKB_KEY_Left,      XKB_KEY_Right,
    XKB_KEY_Home,   XKB_KEY_End,    XKB_KEY_Prior,     XKB_KEY_Next,      XKB_KEY_Shift_L,
    XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_Super_L, XKB_KEY_Caps_Lock,
    XKB_KEY_F1, XKB_KEY_F2, XKB_KEY_F3, XKB_KEY_F4,  XKB_KEY_F5,  XKB_KEY_F6,
    XKB_KEY_F7, XKB_KEY_F8, XKB_KEY_F9, XKB_KEY_F10, XKB_KEY_F11, XKB_KEY_F12,
    XKB_KEY_F13, XKB_KEY_F14, XKB_KEY_F15, XKB_KEY_F16, XKB_KEY_F17, XKB_KEY_F18,
    XKB_KEY_F19, XKB_KEY_F20, XKB_KEY_F21, XKB_KEY_F22, XKB_KEY_F23, XKB_KEY_F24,
    XKB_KEY_Insert, XKB_KEY_Print, XKB_KEY_Menu, XKB_KEY_Pause, XKB_KEY_Num_Lock,
    XKB_KEY_Scroll_Lock,
    XKB_KEY_KP_0, XKB_KEY_KP_1, XKB_KEY_KP_2, XKB_KEY_KP_3, XKB_KEY_KP_4, XKB_KEY_KP_5,
    XKB_KEY_KP_6, XKB_KEY_KP_7, XKB_KEY_KP_8, XKB_KEY_KP_9, XKB_KEY_KP_Enter, XKB_KEY_KP_Add,
    XKB_KEY_KP_Subtract, XKB_KEY_KP_Multiply, XKB_KEY_KP_Divide, XKB_KEY_KP_Decimal,
};
static_assert(std::size(kNamedKeysyms) == kNamedKeyCount);

Key Named(NamedKey named) { return Key{false, named, 0}; }

}  // namespace

xkb_keysym_t KeysymForKey(const Key& key) {
  if (!key.is_character) return kNamedKeysyms[static_cast<size_t>(key.named)];
  if (key.character == 0) return XKB_KEY_NoSymbol;
  return xkb_utf32_to_keysym(key.character);
}

std::vector<Key> KeysForText(std::string_view utf8) {
  std::vector<Key> keys;
  keys.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    size_t length = 0;
    const char32_t c = DecodeScalarAt(utf8, i, &length);
    i += length;
    if (c == U'\r' && i < utf8.size() && utf8[i] == '\n') ++i;
    if (c == U'\r' || c == U'\n') {
      keys.push_back(Named(NamedKey::kReturn));
    } else if (c == U'\t') {
      keys.push_back(Named(NamedKey::kTab));
    } else if (c != 0) {
      keys.push_back(Key{true, NamedKey::kReturn, c});
    }
  }
  return keys;
}

}  // namespace tarvix
