// Finding the key that types a keysym in the X server's current keyboard
// map, and the modifiers to hold while pressing it.
#ifndef TARVIX_PLATFORM_X11_X_KEYMAP_H_
#define TARVIX_PLATFORM_X11_X_KEYMAP_H_

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/result.h"

namespace tarvix {

// A keycode and the core modifiers (ShiftMask, Mod5Mask...) to hold down
// while it is pressed.
struct KeyStroke {
  xkb_keycode_t keycode = 0;
  xkb_mod_mask_t modifiers = 0;
  bool operator==(const KeyStroke&) const = default;
};

// The stroke that makes `keymap` produce `keysym` in `layout` while the
// modifiers `locked` stay locked (Caps Lock on, say), holding only
// modifiers from `pressable`: fewest held modifiers first, then the lowest
// keycode. nullopt when no key of the layout produces it.
std::optional<KeyStroke> FindKeyStroke(xkb_keymap* keymap, xkb_layout_index_t layout,
                                       xkb_mod_mask_t locked, xkb_mod_mask_t pressable,
                                       xkb_keysym_t keysym);

// Keycodes in the keymap's range that produce nothing at any level and
// hold no modifier: free to lend to a keysym no key produces.
std::vector<xkb_keycode_t> SpareKeycodes(xkb_keymap* keymap,
                                         const std::array<xcb_keycode_t, 8>& modifier_keys);

// The server's keyboard as one request sees it: keymap, current layout and
// locked modifiers, and one key per core modifier. Read once; the request
// tracks its own later changes (spare keycodes).
class XKeymap {
 public:
  // Fails with a short reason when the XKB extension or the keyboard's
  // map cannot be read.
  static Result<std::unique_ptr<XKeymap>> Load(xcb_connection_t* connection);
  ~XKeymap();
  XKeymap(const XKeymap&) = delete;
  XKeymap& operator=(const XKeymap&) = delete;

  std::optional<KeyStroke> Find(xkb_keysym_t keysym) const;
  // The first key bound to core modifier `index` (0 Shift ... 7 Mod5); 0
  // when none is.
  xcb_keycode_t ModifierKey(int index) const { return modifier_keys_[index]; }
  bool caps_locked() const { return (locked_ & 2u) != 0; }
  // The core modifier (Mod3 to Mod5) that a key producing
  // ISO_Level3_Shift sets, whose ModifierKey is that key; 0 when no key
  // does.
  xkb_mod_mask_t level_three() const { return level_three_; }
  std::vector<xkb_keycode_t> Spare() const { return SpareKeycodes(keymap_, modifier_keys_); }

 private:
  XKeymap() = default;
  xkb_context* context_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
  xkb_layout_index_t layout_ = 0;
  xkb_mod_mask_t locked_ = 0;
  xkb_mod_mask_t level_three_ = 0;
  std::array<xcb_keycode_t, 8> modifier_keys_{};
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_KEYMAP_H_
