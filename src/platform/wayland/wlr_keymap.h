// Keymaps for the daemon's virtual keyboard on Wayland, as xkb_keymap text
// (XKB_V1) to upload; pure logic, tested without a compositor.
//
// A virtual keyboard types keycodes of a keymap its client uploads, so the
// daemon writes its own keymaps instead of borrowing keycodes as on X11:
//   - a text keymap for typing: one single-level key per keysym the text
//     needs, so every character (outside the BMP, combining marks, RTL
//     scripts) is one key press with no modifier;
//   - a chord keymap for named keys and chords: the modifiers, the named
//     keys and the US letters, digits and punctuation at their PC
//     keycodes (shortcuts that look at keycodes find the usual ones), plus
//     single-level keys for any other keysym a chord names. The user's own
//     layout cannot be read through the virtual keyboard protocol, so this
//     keymap stands in for it between texts.
// Every keymap ends with a padding key one keycode above its highest used
// key: GTK 3 ignores shortcuts on the highest keycode of a keymap.
#ifndef TARVIX_PLATFORM_WAYLAND_WLR_KEYMAP_H_
#define TARVIX_PLATFORM_WAYLAND_WLR_KEYMAP_H_

#include <xkbcommon/xkbcommon.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarvix {

// Real modifier masks as the virtual keyboard's `modifiers` request takes
// them (the fixed indices of xkb's real modifiers).
inline constexpr uint32_t kModShift = 1u << 0;
inline constexpr uint32_t kModLock = 1u << 1;
inline constexpr uint32_t kModControl = 1u << 2;
inline constexpr uint32_t kModAlt = 1u << 3;      // Mod1
inline constexpr uint32_t kModNumLock = 1u << 4;  // Mod2
inline constexpr uint32_t kModSuper = 1u << 6;    // Mod4

// How one keysym is typed on a keymap.
struct KeymapStroke {
  uint32_t keycode = 0;  // xkb keycode: the protocol's key + 8
  // The real modifiers the keysym needs held (Shift for a second level).
  uint32_t modifiers = 0;
  // What holding the key itself adds to the modifier state (a modifier
  // key), and what pressing it toggles among the locked ones (Caps Lock,
  // Num Lock).
  uint32_t sets = 0;
  uint32_t toggles = 0;
  bool operator==(const KeymapStroke&) const = default;
};

struct VirtualKeymap {
  std::string text;  // xkb_keymap text, NUL-free
  std::unordered_map<xkb_keysym_t, KeymapStroke> strokes;
  uint32_t padding_keycode = 0;

  std::optional<KeymapStroke> Find(xkb_keysym_t keysym) const;
};

// The most distinct keysyms one text keymap holds: keycodes 9 to 254, the
// padding key at 255 (X clients through XWayland read 8-bit keycodes).
inline constexpr size_t kMaxTextKeysyms = 246;

// One single-level key per distinct keysym of `keysyms` (NoSymbol
// skipped), in order of first appearance on keycodes 9, 10, ..., and the
// padding key above the last; only the first kMaxTextKeysyms distinct
// keysyms get keys.
VirtualKeymap TextKeymap(const std::vector<xkb_keysym_t>& keysyms);

// The chord keymap (see above) with a single-level key for each keysym of
// `extra` it does not type already, on keycodes above the PC keys (at
// most 52 such keys); then the padding key.
VirtualKeymap ChordKeymap(const std::vector<xkb_keysym_t>& extra);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_WAYLAND_WLR_KEYMAP_H_
