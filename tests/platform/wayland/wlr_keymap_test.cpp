#include "platform/wayland/wlr_keymap.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <memory>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

using KeymapPtr = std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)>;

// The keymap text as a compositor and its clients compile it.
KeymapPtr Compile(const VirtualKeymap& keymap) {
  std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
      xkb_context_new(static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES |
                                                      XKB_CONTEXT_NO_ENVIRONMENT_NAMES)),
      xkb_context_unref);
  return KeymapPtr(xkb_keymap_new_from_string(context.get(), keymap.text.c_str(),
                                              XKB_KEYMAP_FORMAT_TEXT_V1,
                                              XKB_KEYMAP_COMPILE_NO_FLAGS),
                   xkb_keymap_unref);
}

// What the key of `stroke` types with its modifiers held, as a client's
// xkb state reads it from the key and the modifiers request.
xkb_keysym_t Typed(xkb_keymap* keymap, const KeymapStroke& stroke) {
  std::unique_ptr<xkb_state, decltype(&xkb_state_unref)> state(xkb_state_new(keymap),
                                                               xkb_state_unref);
  xkb_state_update_mask(state.get(), stroke.modifiers, 0, 0, 0, 0, 0);
  return xkb_state_key_get_one_sym(state.get(), stroke.keycode);
}

TEST(WlrKeymapTest, EveryKeysymTypesOnTheCompiledKeymap) {
  const std::vector<xkb_keysym_t> text = {
      'H', 0xe4 /* ä */, XKB_KEY_Return, 0x1000301 /* combining acute */, 0x10065e5 /* 日 */,
      0x101f600 /* emoji */, XKB_KEY_hebrew_aleph, 'H', XKB_KEY_NoSymbol, 'a'};
  const std::vector<xkb_keysym_t> chord_extra = {XKB_KEY_eacute, 'a', XKB_KEY_F5, 0x101f600};
  const struct {
    const char* name;
    VirtualKeymap keymap;
    // Keycodes are deterministic: first appearance order for text, PC
    // keycodes (evdev + 8) for the chord keymap, its extras above F24.
    std::vector<std::pair<xkb_keysym_t, KeymapStroke>> expected;
    uint32_t padding;
  } cases[] = {
      {"text",
       TextKeymap(text),
       {{'H', {9}}, {0xe4, {10}}, {XKB_KEY_Return, {11}}, {0x1000301, {12}}, {0x10065e5, {13}},
        {0x101f600, {14}}, {XKB_KEY_hebrew_aleph, {15}}, {'a', {16}}},
       17},  // and no other key
      {"chord",
       ChordKeymap(chord_extra),
       {{'a', {38}},
        {'A', {38, kModShift}},
        {'?', {61, kModShift}},
        {XKB_KEY_F5, {71}},
        {XKB_KEY_F24, {202}},
        {XKB_KEY_KP_Enter, {104}},
        {XKB_KEY_Shift_L, {50, 0, kModShift}},
        {XKB_KEY_Control_L, {37, 0, kModControl}},
        {XKB_KEY_Alt_L, {64, 0, kModAlt}},
        {XKB_KEY_Super_L, {133, 0, kModSuper}},
        {XKB_KEY_Caps_Lock, {66, 0, 0, kModLock}},
        {XKB_KEY_eacute, {203}},
        {0x101f600, {204}}},
       205},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const KeymapPtr compiled = Compile(c.keymap);
    ASSERT_NE(compiled, nullptr) << c.keymap.text;
    EXPECT_EQ(c.keymap.padding_keycode, c.padding);
    EXPECT_EQ(xkb_keymap_max_keycode(compiled.get()), c.padding);
    EXPECT_EQ(c.keymap.Find(XKB_KEY_VoidSymbol), std::nullopt);
    // XWayland crashes on the first modifier change of a keymap without
    // indicators.
    EXPECT_NE(xkb_keymap_led_get_index(compiled.get(), XKB_LED_NAME_CAPS), XKB_LED_INVALID);
    EXPECT_NE(xkb_keymap_led_get_index(compiled.get(), XKB_LED_NAME_NUM), XKB_LED_INVALID);
    if (c.padding == 17) {
      EXPECT_EQ(c.keymap.strokes.size(), c.expected.size());
    }
    for (const auto& [keysym, stroke] : c.expected) {
      EXPECT_EQ(c.keymap.Find(keysym), stroke) << std::hex << keysym;
      EXPECT_EQ(Typed(compiled.get(), stroke), keysym) << std::hex << keysym;
    }
  }
}

TEST(WlrKeymapTest, ChordModifiersAreTheRealModifiersClientsRead) {
  const VirtualKeymap keymap = ChordKeymap({});
  const KeymapPtr compiled = Compile(keymap);
  ASSERT_NE(compiled, nullptr);
  const struct {
    const char* name;
    uint32_t mask;
  } mods[] = {{XKB_MOD_NAME_SHIFT, kModShift}, {XKB_MOD_NAME_CAPS, kModLock},
              {XKB_MOD_NAME_CTRL, kModControl}, {XKB_MOD_NAME_ALT, kModAlt},
              {XKB_MOD_NAME_NUM, kModNumLock}, {XKB_MOD_NAME_LOGO, kModSuper}};
  for (const auto& mod : mods) {
    EXPECT_EQ(1u << xkb_keymap_mod_get_index(compiled.get(), mod.name), mod.mask) << mod.name;
  }
  // Caps Lock capitalises letters only.
  std::unique_ptr<xkb_state, decltype(&xkb_state_unref)> state(xkb_state_new(compiled.get()),
                                                               xkb_state_unref);
  xkb_state_update_mask(state.get(), 0, 0, kModLock, 0, 0, 0);
  EXPECT_EQ(xkb_state_key_get_one_sym(state.get(), keymap.Find('a')->keycode), XKB_KEY_A);
  EXPECT_EQ(xkb_state_key_get_one_sym(state.get(), keymap.Find('1')->keycode), XKB_KEY_1);
}

TEST(WlrKeymapTest, TextKeymapStopsAtTheLastKeycode) {
  std::vector<xkb_keysym_t> many;
  for (xkb_keysym_t i = 0; i < 300; ++i) many.push_back(0x1004e00 + i);
  const VirtualKeymap keymap = TextKeymap(many);
  EXPECT_EQ(keymap.strokes.size(), kMaxTextKeysyms);
  EXPECT_EQ(keymap.padding_keycode, 255u);
  EXPECT_EQ(keymap.Find(many[kMaxTextKeysyms - 1])->keycode, 254u);
  EXPECT_EQ(keymap.Find(many[kMaxTextKeysyms]), std::nullopt);
  EXPECT_NE(Compile(keymap), nullptr);
}

}  // namespace
}  // namespace tarvix
