// Four characters on one keycode: a keycode given the keyboard map's
// four-level key type (levels chosen by Shift and the level-3 modifier)
// carries four keysyms, so each spare keycode can be lent to four
// characters at once.
#ifndef TARVIX_PLATFORM_X11_X_KEY_LEVELS_H_
#define TARVIX_PLATFORM_X11_X_KEY_LEVELS_H_

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <cstdint>
#include <optional>

namespace tarvix {

// One key type as the server reports it: the modifiers it looks at and the
// level each combination selects (combinations not listed select level 0).
struct KeyTypeEntry {
  uint8_t modifiers;
  uint8_t level;
};
struct KeyTypeShape {
  uint8_t modifiers;
  uint8_t levels;
  bool preserves;
  std::array<std::optional<KeyTypeEntry>, 8> entries;  // the first `count` are set
  size_t count;
};

// True when `shape` selects level 1 with Shift, level 2 with
// `level_three`, level 3 with both, and looks at nothing else (the
// four-level type of the usual keyboard maps).
bool IsFourLevelType(const KeyTypeShape& shape, xkb_mod_mask_t level_three);

struct FourLevels {
  uint8_t type_index;
  xkb_mod_mask_t level_three;  // the real modifier that selects level 2
};

// Finds the four-level type in the core keyboard's map for the real
// modifier `level_three`; nullopt when there is none or the server did
// not answer in time.
std::optional<FourLevels> FindFourLevels(xcb_connection_t* connection,
                                         xkb_mod_mask_t level_three);

// Queues the change that gives `keycode` the four-level type and `keysyms`.
void MapFourLevels(xcb_connection_t* connection, const FourLevels& levels, xcb_keycode_t keycode,
                   const std::array<xcb_keysym_t, 4>& keysyms);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_KEY_LEVELS_H_
