#include "platform/x11/x_key_levels.h"

// The XKB header names a member `explicit`, a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <chrono>
#include <cstring>
#include <vector>

#include "platform/x11/x_connection.h"
#include "platform/x11/x_sync.h"

namespace tarvix {
namespace {

constexpr std::chrono::milliseconds kServerTimeout(5000);
constexpr uint8_t kShift = 1;

}  // namespace

bool IsFourLevelType(const KeyTypeShape& shape, xkb_mod_mask_t level_three) {
  if (level_three == 0 || level_three == kShift || shape.levels != 4 || shape.preserves ||
      shape.modifiers != (kShift | level_three) || shape.count != 3) {
    return false;
  }
  const KeyTypeEntry wanted[] = {{kShift, 1},
                                 {static_cast<uint8_t>(level_three), 2},
                                 {static_cast<uint8_t>(kShift | level_three), 3}};
  for (const KeyTypeEntry& entry : wanted) {
    bool found = false;
    for (size_t i = 0; i < shape.count; ++i) {
      found = found || (shape.entries[i]->modifiers == entry.modifiers &&
                        shape.entries[i]->level == entry.level);
    }
    if (!found) return false;
  }
  return true;
}

std::optional<FourLevels> FindFourLevels(xcb_connection_t* connection,
                                         xkb_mod_mask_t level_three) {
  const xcb_xkb_get_map_cookie_t cookie =
      xcb_xkb_get_map(connection, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_MAP_PART_KEY_TYPES, 0, 0, 0, 0,
                      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  // The round trip bounds the wait; the map's reply comes before it.
  if (!XSyncWithin(connection, kServerTimeout)) {
    xcb_discard_reply(connection, cookie.sequence);
    return std::nullopt;
  }
  XcbReply<xcb_xkb_get_map_reply_t> reply(xcb_xkb_get_map_reply(connection, cookie, nullptr));
  if (!reply) return std::nullopt;
  xcb_xkb_get_map_map_t map{};
  xcb_xkb_get_map_map_unpack(xcb_xkb_get_map_map(reply.get()), reply->nTypes, reply->nKeySyms,
                             reply->nKeyActions, reply->totalActions, reply->totalKeyBehaviors,
                             reply->virtualMods, reply->totalKeyExplicit,
                             reply->totalModMapKeys, reply->totalVModMapKeys, reply->present,
                             &map);
  xcb_xkb_key_type_iterator_t type = xcb_xkb_get_map_map_types_rtrn_iterator(reply.get(), &map);
  for (uint8_t index = 0; type.rem > 0; ++index, xcb_xkb_key_type_next(&type)) {
    const xcb_xkb_kt_map_entry_t* entries = xcb_xkb_key_type_map(type.data);
    const int count = xcb_xkb_key_type_map_length(type.data);
    KeyTypeShape shape{type.data->mods_mask, type.data->numLevels, type.data->hasPreserve != 0,
                       {}, 0};
    if (count < 0 || static_cast<size_t>(count) > shape.entries.size()) continue;
    for (int i = 0; i < count; ++i) {
      if (entries[i].active == 0) continue;
      shape.entries[shape.count++] = KeyTypeEntry{entries[i].mods_mask, entries[i].level};
    }
    if (IsFourLevelType(shape, level_three)) return FourLevels{index, level_three};
  }
  return std::nullopt;
}

void MapFourLevels(xcb_connection_t* connection, const FourLevels& levels, xcb_keycode_t keycode,
                   const std::array<xcb_keysym_t, 4>& keysyms) {
  // The request's key list: one entry of the key's types per group, its
  // group count, its width, its keysym count, then the keysyms.
  uint8_t entry[8 + 4 * 4] = {};
  entry[0] = levels.type_index;
  entry[1] = levels.type_index;
  entry[2] = levels.type_index;
  entry[3] = levels.type_index;
  entry[4] = 1;  // one group
  entry[5] = 4;  // levels
  const uint16_t count = 4;
  std::memcpy(entry + 6, &count, sizeof count);
  std::memcpy(entry + 8, keysyms.data(), sizeof(xcb_keysym_t) * 4);
  const xcb_setup_t* setup = xcb_get_setup(connection);
  xcb_xkb_set_map(connection, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_MAP_PART_KEY_SYMS, 0,
                  setup->min_keycode, setup->max_keycode, 0, 0, keycode, 1, 4, 0, 0, 0, 0, 0, 0,
                  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, entry);
}

}  // namespace tarvix
