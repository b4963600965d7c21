#include "platform/x11/x_keymap.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <algorithm>
#include <bit>

#include "platform/x11/x_connection.h"

namespace tarvix {
namespace {

constexpr xkb_mod_mask_t kShift = 1u << 0;
constexpr xkb_mod_mask_t kLock = 1u << 1;
// Modifier masks a key type can ask for; more would be unusual.
constexpr size_t kMaxMasksPerLevel = 16;

// Core X events carry 8-bit keycodes; a keymap compiled from rules names
// higher ones too, which no X client can be sent.
xkb_keycode_t MaxXKeycode(xkb_keymap* keymap) {
  return std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), 255);
}

struct StateFree {
  void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

bool ProducesAt(xkb_keymap* keymap, xkb_keycode_t keycode, xkb_layout_index_t layout,
                xkb_level_index_t level, xkb_keysym_t keysym) {
  const xkb_keysym_t* syms = nullptr;
  const int count = xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, level, &syms);
  for (int i = 0; i < count; ++i) {
    if (syms[i] == keysym) return true;
  }
  return false;
}

}  // namespace

std::optional<KeyStroke> FindKeyStroke(xkb_keymap* keymap, xkb_layout_index_t layout,
                                       xkb_mod_mask_t locked, xkb_mod_mask_t pressable,
                                       xkb_keysym_t keysym) {
  std::unique_ptr<xkb_state, StateFree> state(xkb_state_new(keymap));
  if (!state) return std::nullopt;
  pressable &= ~kLock;  // toggling Caps Lock would outlive the keystroke
  std::optional<KeyStroke> best;
  const xkb_keycode_t max = MaxXKeycode(keymap);
  for (xkb_keycode_t keycode = xkb_keymap_min_keycode(keymap); keycode <= max; ++keycode) {
    if (layout >= xkb_keymap_num_layouts_for_key(keymap, keycode)) continue;
    const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, keycode, layout);
    for (xkb_level_index_t level = 0; level < levels; ++level) {
      if (!ProducesAt(keymap, keycode, layout, level, keysym)) continue;
      xkb_mod_mask_t masks[kMaxMasksPerLevel];
      const size_t count = xkb_keymap_key_get_mods_for_level(keymap, keycode, layout, level,
                                                             masks, kMaxMasksPerLevel);
      for (size_t i = 0; i < count; ++i) {
        // A locked Caps Lock flips the level of letters; holding or not
        // holding Shift flips it back, so try both.
        for (const xkb_mod_mask_t held : {masks[i] & ~kLock, (masks[i] & ~kLock) ^ kShift}) {
          if ((held & ~pressable) != 0) continue;
          if (best && std::popcount(held) >= std::popcount(best->modifiers)) continue;
          // Check the result the way a client will see it: the locked
          // modifiers stay, and Lock's capitalisation applies.
          xkb_state_update_mask(state.get(), held, 0, locked, 0, 0, layout);
          if (xkb_state_key_get_one_sym(state.get(), keycode) == keysym) {
            best = KeyStroke{keycode, held};
          }
        }
      }
    }
  }
  return best;
}

std::vector<xkb_keycode_t> SpareKeycodes(xkb_keymap* keymap,
                                         const std::array<xcb_keycode_t, 8>& modifier_keys) {
  std::vector<xkb_keycode_t> spare;
  const xkb_keycode_t max = MaxXKeycode(keymap);
  for (xkb_keycode_t keycode = xkb_keymap_min_keycode(keymap); keycode <= max; ++keycode) {
    bool empty = true;
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap, keycode);
    for (xkb_layout_index_t layout = 0; layout < layouts && empty; ++layout) {
      const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, keycode, layout);
      for (xkb_level_index_t level = 0; level < levels && empty; ++level) {
        const xkb_keysym_t* syms = nullptr;
        empty = xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, level, &syms) == 0;
      }
    }
    for (const xcb_keycode_t modifier : modifier_keys) empty = empty && modifier != keycode;
    if (empty) spare.push_back(keycode);
  }
  return spare;
}

Result<std::unique_ptr<XKeymap>> XKeymap::Load(xcb_connection_t* connection) {
  if (!xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                   XKB_X11_MIN_MINOR_XKB_VERSION,
                                   XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr,
                                   nullptr, nullptr)) {
    return Error("the X server lacks the XKB extension");
  }
  const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
  if (device < 0) return Error("no core keyboard");
  std::unique_ptr<XKeymap> map(new XKeymap);
  map->context_ = xkb_context_new(static_cast<xkb_context_flags>(
      XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
  if (map->context_ == nullptr) return Error("no keymap context");
  map->keymap_ = xkb_x11_keymap_new_from_device(map->context_, connection, device,
                                                XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (map->keymap_ == nullptr) return Error("cannot read the keyboard map");
  std::unique_ptr<xkb_state, StateFree> state(
      xkb_x11_state_new_from_device(map->keymap_, connection, device));
  if (!state) return Error("cannot read the keyboard state");
  map->layout_ = xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE);
  map->locked_ = xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_LOCKED);

  XcbReply<xcb_get_modifier_mapping_reply_t> modifiers(xcb_get_modifier_mapping_reply(
      connection, xcb_get_modifier_mapping(connection), nullptr));
  if (!modifiers) return Error("cannot read the modifier map");
  const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(modifiers.get());
  const int per_modifier = modifiers->keycodes_per_modifier;
  for (int index = 0; index < 8; ++index) {
    for (int i = per_modifier - 1; i >= 0; --i) {
      const xcb_keycode_t key = keys[index * per_modifier + i];
      if (key != 0) map->modifier_keys_[index] = key;
    }
  }
  // The modifier that a key producing ISO_Level3_Shift sets selects the
  // third level; that key (not, say, Mode_switch on the same modifier,
  // which changes the group) is the one to press for it.
  for (int index = 3; index < 8 && map->level_three_ == 0; ++index) {
    for (int i = 0; i < per_modifier; ++i) {
      const xcb_keycode_t key = keys[index * per_modifier + i];
      if (key != 0 && ProducesAt(map->keymap_, key, map->layout_, 0, XKB_KEY_ISO_Level3_Shift)) {
        map->modifier_keys_[index] = key;
        map->level_three_ = 1u << index;
        break;
      }
    }
  }
  return map;
}

XKeymap::~XKeymap() {
  xkb_keymap_unref(keymap_);
  xkb_context_unref(context_);
}

std::optional<KeyStroke> XKeymap::Find(xkb_keysym_t keysym) const {
  xkb_mod_mask_t pressable = 0;
  for (int index = 0; index < 8; ++index) {
    if (modifier_keys_[index] != 0) pressable |= 1u << index;
  }
  return FindKeyStroke(keymap_, layout_, locked_, pressable, keysym);
}

}  // namespace tarvix
