#include "platform/wayland/wlr_keymap.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <cstdio>

namespace tarvix {
namespace {

constexpr uint32_t kEvdevOffset = 8;
constexpr uint32_t kFirstKeycode = 9;
constexpr uint32_t kLastKeycode = 255;

// One key of the chord keymap at its PC keycode (linux/input-event-codes.h),
// with its shifted keysym where it has one.
struct PcKey {
  uint32_t evdev;
  xkb_keysym_t base;
  xkb_keysym_t shifted = XKB_KEY_NoSymbol;
};

// clang-format off
constexpr PcKey kPcKeys[] = {
    {1, XKB_KEY_Escape},
    {2, XKB_KEY_1, XKB_KEY_exclam}, {3, XKB_KEY_2, XKB_KEY_at}, {4, XKB_KEY_3, XKB_KEY_numbersign},
    {5, XKB_KEY_4, XKB_KEY_dollar}, {6, XKB_KEY_5, XKB_KEY_percent},
    {7, XKB_KEY_6, XKB_KEY_asciicircum}, {8, XKB_KEY_7, XKB_KEY_ampersand},
    {9, XKB_KEY_8, XKB_KEY_asterisk}, {10, XKB_KEY_9, XKB_KEY_parenleft},
    {11, XKB_KEY_0, XKB_KEY_parenright}, {12, XKB_KEY_minus, XKB_KEY_underscore},
    {13, XKB_KEY_equal, XKB_KEY_plus}, {14, XKB_KEY_BackSpace}, {15, XKB_KEY_Tab},
    {16, XKB_KEY_q, XKB_KEY_Q}, {17, XKB_KEY_w, XKB_KEY_W}, {18, XKB_KEY_e, XKB_KEY_E},
    {19, XKB_KEY_r, XKB_KEY_R}, {20, XKB_KEY_t, XKB_KEY_T}, {21, XKB_KEY_y, XKB_KEY_Y},
    {22, XKB_KEY_u, XKB_KEY_U}, {23, XKB_KEY_i, XKB_KEY_I}, {24, XKB_KEY_o, XKB_KEY_O},
    {25, XKB_KEY_p, XKB_KEY_P}, {26, XKB_KEY_bracketleft, XKB_KEY_braceleft},
    {27, XKB_KEY_bracketright, XKB_KEY_braceright}, {28, XKB_KEY_Return},
    {29, XKB_KEY_Control_L},
    {30, XKB_KEY_a, XKB_KEY_A}, {31, XKB_KEY_s, XKB_KEY_S}, {32, XKB_KEY_d, XKB_KEY_D},
    {33, XKB_KEY_f, XKB_KEY_F}, {34, XKB_KEY_g, XKB_KEY_G}, {35, XKB_KEY_h, XKB_KEY_H},
    {36, XKB_KEY_j, XKB_KEY_J}, {37, XKB_KEY_k, XKB_KEY_K}, {38, XKB_KEY_l, XKB_KEY_L},
    {39, XKB_KEY_semicolon, XKB_KEY_colon}, {40, XKB_KEY_apostrophe, XKB_KEY_quotedbl},
    {41, XKB_KEY_grave, XKB_KEY_asciitilde}, {42, XKB_KEY_Shift_L},
    {43, XKB_KEY_backslash, XKB_KEY_bar},
    {44, XKB_KEY_z, XKB_KEY_Z}, {45, XKB_KEY_x, XKB_KEY_X}, {46, XKB_KEY_c, XKB_KEY_C},
    {47, XKB_KEY_v, XKB_KEY_V}, {48, XKB_KEY_b, XKB_KEY_B}, {49, XKB_KEY_n, XKB_KEY_N},
    {50, XKB_KEY_m, XKB_KEY_M}, {51, XKB_KEY_comma, XKB_KEY_less},
    {52, XKB_KEY_period, XKB_KEY_greater}, {53, XKB_KEY_slash, XKB_KEY_question},
    {55, XKB_KEY_KP_Multiply}, {56, XKB_KEY_Alt_L}, {57, XKB_KEY_space},
    {58, XKB_KEY_Caps_Lock},
    {59, XKB_KEY_F1}, {60, XKB_KEY_F2}, {61, XKB_KEY_F3}, {62, XKB_KEY_F4}, {63, XKB_KEY_F5},
    {64, XKB_KEY_F6}, {65, XKB_KEY_F7}, {66, XKB_KEY_F8}, {67, XKB_KEY_F9}, {68, XKB_KEY_F10},
    {69, XKB_KEY_Num_Lock}, {70, XKB_KEY_Scroll_Lock},
    {71, XKB_KEY_KP_7}, {72, XKB_KEY_KP_8}, {73, XKB_KEY_KP_9}, {74, XKB_KEY_KP_Subtract},
    {75, XKB_KEY_KP_4}, {76, XKB_KEY_KP_5}, {77, XKB_KEY_KP_6}, {78, XKB_KEY_KP_Add},
    {79, XKB_KEY_KP_1}, {80, XKB_KEY_KP_2}, {81, XKB_KEY_KP_3}, {82, XKB_KEY_KP_0},
    {83, XKB_KEY_KP_Decimal}, {87, XKB_KEY_F11}, {88, XKB_KEY_F12},
    {96, XKB_KEY_KP_Enter}, {98, XKB_KEY_KP_Divide}, {99, XKB_KEY_Print},
    {102, XKB_KEY_Home}, {103, XKB_KEY_Up}, {104, XKB_KEY_Prior}, {105, XKB_KEY_Left},
    {106, XKB_KEY_Right}, {107, XKB_KEY_End}, {108, XKB_KEY_Down}, {109, XKB_KEY_Next},
    {110, XKB_KEY_Insert}, {111, XKB_KEY_Delete}, {119, XKB_KEY_Pause},
    {125, XKB_KEY_Super_L}, {127, XKB_KEY_Menu},
    {183, XKB_KEY_F13}, {184, XKB_KEY_F14}, {185, XKB_KEY_F15}, {186, XKB_KEY_F16},
    {187, XKB_KEY_F17}, {188, XKB_KEY_F18}, {189, XKB_KEY_F19}, {190, XKB_KEY_F20},
    {191, XKB_KEY_F21}, {192, XKB_KEY_F22}, {193, XKB_KEY_F23}, {194, XKB_KEY_F24},
};
// clang-format on
constexpr uint32_t kFirstExtraKeycode = 194 + kEvdevOffset + 1;

// The modifier keys of the chord keymap: what holding each sets, what
// pressing it toggles, and the modifier_map line it belongs to.
struct ModifierKey {
  xkb_keysym_t keysym;
  uint32_t sets;
  uint32_t toggles;
  const char* real;
};
constexpr ModifierKey kModifierKeys[] = {
    {XKB_KEY_Shift_L, kModShift, 0, "Shift"},
    {XKB_KEY_Caps_Lock, 0, kModLock, "Lock"},
    {XKB_KEY_Control_L, kModControl, 0, "Control"},
    {XKB_KEY_Alt_L, kModAlt, 0, "Mod1"},
    {XKB_KEY_Num_Lock, 0, kModNumLock, "Mod2"},
    {XKB_KEY_Super_L, kModSuper, 0, "Mod4"},
};

// The types and compatibility rules both keymaps share: the modifier keys
// act as on a PC keyboard, so a client that reads them from the keymap
// (XWayland) agrees with the modifier state sent alongside. The indicators
// are not for show: XWayland 22.1 crashes on the first modifier change of
// a keymap that declares none.
constexpr char kTypesAndCompat[] = R"k(xkb_types "tarvix" {
virtual_modifiers NumLock,Alt,Super;
type "ONE_LEVEL" { modifiers = none; level_name[Level1] = "Any"; };
type "TWO_LEVEL" { modifiers = Shift; map[Shift] = Level2; level_name[Level1] = "Base"; level_name[Level2] = "Shift"; };
type "ALPHABETIC" { modifiers = Shift+Lock; map[Shift] = Level2; map[Lock] = Level2; level_name[Level1] = "Base"; level_name[Level2] = "Caps"; };
};
xkb_compatibility "tarvix" {
virtual_modifiers NumLock,Alt,Super;
interpret Shift_L { action = SetMods(modifiers=Shift); };
interpret Control_L { action = SetMods(modifiers=Control); };
interpret Caps_Lock { action = LockMods(modifiers=Lock); };
interpret Alt_L { virtualModifier = Alt; action = SetMods(modifiers=modMapMods); };
interpret Super_L { virtualModifier = Super; action = SetMods(modifiers=modMapMods); };
interpret Num_Lock { virtualModifier = NumLock; action = LockMods(modifiers=NumLock); };
indicator "Caps Lock" { modifiers = Lock; };
indicator "Num Lock" { modifiers = NumLock; };
};
)k";

std::string KeysymName(xkb_keysym_t keysym) {
  char name[64];
  if (xkb_keysym_get_name(keysym, name, sizeof name) <= 0) {
    std::snprintf(name, sizeof name, "0x%08x", keysym);
  }
  return name;
}

// Collects keys and writes the keymap text.
class KeymapWriter {
 public:
  void Add(uint32_t keycode, xkb_keysym_t base, xkb_keysym_t shifted = XKB_KEY_NoSymbol) {
    const bool letter = shifted != XKB_KEY_NoSymbol && xkb_keysym_to_upper(base) == shifted &&
                        base != shifted;
    const char* type = shifted == XKB_KEY_NoSymbol ? "ONE_LEVEL"
                       : letter                   ? "ALPHABETIC"
                                                  : "TWO_LEVEL";
    symbols_ += "key <K" + std::to_string(keycode) + "> { type = \"" + type +
                "\", symbols[Group1] = [ " + KeysymName(base);
    if (shifted != XKB_KEY_NoSymbol) symbols_ += ", " + KeysymName(shifted);
    symbols_ += " ] };\n";
    keycodes_.push_back(keycode);
    max_keycode_ = std::max(max_keycode_, keycode);
    keymap_.strokes.try_emplace(base, KeymapStroke{keycode});
    if (shifted != XKB_KEY_NoSymbol) {
      keymap_.strokes.try_emplace(shifted, KeymapStroke{keycode, kModShift});
    }
  }

  void AddModifierMap(const char* real, uint32_t keycode) {
    modifier_maps_ += std::string("modifier_map ") + real + " { <K" + std::to_string(keycode) +
                      "> };\n";
  }

  VirtualKeymap Finish() && {
    keymap_.padding_keycode = max_keycode_ + 1;
    Add(keymap_.padding_keycode, XKB_KEY_VoidSymbol);
    keymap_.strokes.erase(XKB_KEY_VoidSymbol);
    std::string keycodes;
    for (const uint32_t code : keycodes_) {
      keycodes += "<K" + std::to_string(code) + "> = " + std::to_string(code) + ";\n";
    }
    keymap_.text = "xkb_keymap {\nxkb_keycodes \"tarvix\" {\nminimum = 8;\nmaximum = " +
                   std::to_string(keymap_.padding_keycode) + ";\n" + keycodes + "};\n" +
                   kTypesAndCompat + "xkb_symbols \"tarvix\" {\n" + symbols_ + modifier_maps_ +
                   "};\n};\n";
    return std::move(keymap_);
  }

  bool Has(xkb_keysym_t keysym) const { return keymap_.strokes.contains(keysym); }
  KeymapStroke& Stroke(xkb_keysym_t keysym) { return keymap_.strokes.at(keysym); }

 private:
  VirtualKeymap keymap_;
  std::string symbols_;
  std::string modifier_maps_;
  std::vector<uint32_t> keycodes_;
  uint32_t max_keycode_ = kFirstKeycode - 1;
};

}  // namespace

std::optional<KeymapStroke> VirtualKeymap::Find(xkb_keysym_t keysym) const {
  const auto found = strokes.find(keysym);
  if (found == strokes.end()) return std::nullopt;
  return found->second;
}

VirtualKeymap TextKeymap(const std::vector<xkb_keysym_t>& keysyms) {
  KeymapWriter writer;
  uint32_t next = kFirstKeycode;
  for (const xkb_keysym_t keysym : keysyms) {
    if (keysym == XKB_KEY_NoSymbol || writer.Has(keysym)) continue;
    if (next >= kLastKeycode) break;
    writer.Add(next++, keysym);
  }
  return std::move(writer).Finish();
}

VirtualKeymap ChordKeymap(const std::vector<xkb_keysym_t>& extra) {
  KeymapWriter writer;
  for (const PcKey& key : kPcKeys) {
    writer.Add(key.evdev + kEvdevOffset, key.base, key.shifted);
  }
  for (const ModifierKey& modifier : kModifierKeys) {
    KeymapStroke& stroke = writer.Stroke(modifier.keysym);
    stroke.sets = modifier.sets;
    stroke.toggles = modifier.toggles;
    writer.AddModifierMap(modifier.real, stroke.keycode);
  }
  uint32_t next = kFirstExtraKeycode;
  for (const xkb_keysym_t keysym : extra) {
    if (keysym == XKB_KEY_NoSymbol || writer.Has(keysym)) continue;
    if (next >= kLastKeycode) break;
    writer.Add(next++, keysym);
  }
  return std::move(writer).Finish();
}

}  // namespace tarvix
