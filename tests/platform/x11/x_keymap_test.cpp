#include "platform/x11/x_keymap.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "platform/x11/x_keysyms.h"

namespace tarvix {
namespace {

constexpr xkb_mod_mask_t kShift = 1u << 0;
constexpr xkb_mod_mask_t kLock = 1u << 1;
constexpr xkb_mod_mask_t kControl = 1u << 2;
constexpr xkb_mod_mask_t kMod5 = 1u << 7;  // the level-3 shift in the evdev rules
constexpr xkb_mod_mask_t kAllButLock = 0xff & ~kLock;

// The evdev keycodes (the X server's own) of a few keys.
constexpr xkb_keycode_t kKey1 = 10, kKeyQ = 24, kKeyE = 26, kKeyA = 38, kShiftL = 50;

struct KeymapDeleter {
  void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct ContextDeleter {
  void operator()(xkb_context* context) const { xkb_context_unref(context); }
};

// Keymaps compiled from the system's XKB data, the same rules an X server
// uses.
class XKeymapTest : public ::testing::Test {
 protected:
  xkb_keymap* Layout(const char* layout) {
    if (!context_) context_.reset(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    const xkb_rule_names names{"evdev", "pc105", layout, "", ""};
    keymaps_.emplace_back(
        xkb_keymap_new_from_names(context_.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    return keymaps_.back().get();
  }
  std::unique_ptr<xkb_context, ContextDeleter> context_;
  std::vector<std::unique_ptr<xkb_keymap, KeymapDeleter>> keymaps_;
};

struct Case {
  const char* layout;
  xkb_mod_mask_t locked;
  xkb_mod_mask_t pressable;
  char32_t character;
  std::optional<KeyStroke> stroke;
};

TEST_F(XKeymapTest, FindsKeyAndLevelModifiers) {
  const Case cases[] = {
      {"us", 0, kAllButLock, U'a', KeyStroke{kKeyA, 0}},
      {"us", 0, kAllButLock, U'A', KeyStroke{kKeyA, kShift}},
      {"us", 0, kAllButLock, U'!', KeyStroke{kKey1, kShift}},
      {"us", 0, kAllButLock, U'1', KeyStroke{kKey1, 0}},  // not the keypad's
      {"us", 0, 0, U'A', std::nullopt},                   // no Shift key to hold
      // Caps Lock on: Shift gives the small letter, none the capital.
      {"us", kLock, kAllButLock, U'a', KeyStroke{kKeyA, kShift}},
      {"us", kLock, kAllButLock, U'A', KeyStroke{kKeyA, 0}},
      {"us", kLock, kAllButLock, U'!', KeyStroke{kKey1, kShift}},
      {"us", 0, kAllButLock, U'\u00e9', std::nullopt},
      {"us", 0, kAllButLock, U'\u20ac', std::nullopt},
      // German: AltGr (level 3) for @ and the euro sign.
      {"de", 0, kAllButLock, U'@', KeyStroke{kKeyQ, kMod5}},
      {"de", 0, kAllButLock, U'\u20ac', KeyStroke{kKeyE, kMod5}},
      {"de", 0, kShift | kControl, U'\u20ac', std::nullopt},
  };
  for (const Case& c : cases) {
    const xkb_keysym_t keysym = KeysymForKey(Key{true, NamedKey::kReturn, c.character});
    EXPECT_EQ(FindKeyStroke(Layout(c.layout), 0, c.locked, c.pressable, keysym), c.stroke)
        << c.layout << " U+" << std::hex << static_cast<uint32_t>(c.character) << " locked "
        << c.locked;
  }
  EXPECT_EQ(FindKeyStroke(Layout("us"), 0, 0, kAllButLock, XKB_KEY_Shift_L),
            (KeyStroke{kShiftL, 0}));
}

TEST_F(XKeymapTest, SpareKeycodesProduceNothingAndHoldNoModifier) {
  xkb_keymap* keymap = Layout("us");
  std::array<xcb_keycode_t, 8> modifiers{};
  const std::vector<xkb_keycode_t> all = SpareKeycodes(keymap, modifiers);
  ASSERT_FALSE(all.empty());
  for (const xkb_keycode_t keycode : all) {
    const xkb_keysym_t* syms = nullptr;
    EXPECT_EQ(xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, 0, &syms), 0) << keycode;
  }
  EXPECT_EQ(std::count(all.begin(), all.end(), kKeyA), 0);
  modifiers[3] = static_cast<xcb_keycode_t>(all.front());  // bound to Mod1 though it types nothing
  const std::vector<xkb_keycode_t> without = SpareKeycodes(keymap, modifiers);
  EXPECT_EQ(without.size() + 1, all.size());
  EXPECT_EQ(std::count(without.begin(), without.end(), all.front()), 0);
}

TEST(XKeysymsTest, KeysymsOfNamedAndCharacterKeys) {
  const std::pair<Key, xkb_keysym_t> cases[] = {
      {Key{false, NamedKey::kReturn, 0}, XKB_KEY_Return},
      {Key{false, NamedKey::kForwardDelete, 0}, XKB_KEY_Delete},
      {Key{false, NamedKey::kPageUp, 0}, XKB_KEY_Prior},
      {Key{false, NamedKey::kMeta, 0}, XKB_KEY_Super_L},
      {Key{false, NamedKey::kF12, 0}, XKB_KEY_F12},
      {Key{false, NamedKey::kF24, 0}, XKB_KEY_F24},
      {Key{false, NamedKey::kPrintScreen, 0}, XKB_KEY_Print},
      {Key{false, NamedKey::kKeypad0, 0}, XKB_KEY_KP_0},
      {Key{false, NamedKey::kKeypadDecimal, 0}, XKB_KEY_KP_Decimal},
      {Key{true, NamedKey::kReturn, U'A'}, XKB_KEY_A},
      {Key{true, NamedKey::kReturn, U'\u00e9'}, XKB_KEY_eacute},    // Latin-1
      {Key{true, NamedKey::kReturn, U'\u20ac'}, XKB_KEY_EuroSign},  // legacy table
      {Key{true, NamedKey::kReturn, U'\u65e5'}, 0x10065e5u},        // Unicode keysym
      {Key{true, NamedKey::kReturn, U'\U0001F600'}, 0x101f600u},
      {Key{true, NamedKey::kReturn, 0}, XKB_KEY_NoSymbol},
  };
  for (const auto& [key, keysym] : cases) {
    EXPECT_EQ(KeysymForKey(key), keysym) << static_cast<uint32_t>(key.character);
  }
}

TEST(XKeysymsTest, TextBecomesKeysWithOneReturnPerLineBreak) {
  const auto described = [](std::string_view text) {
    std::string out;
    for (const Key& key : KeysForText(text)) {
      if (!key.is_character) {
        out += key.named == NamedKey::kTab ? "<tab>" : "<ret>";
      } else {
        out += "[" + std::to_string(static_cast<uint32_t>(key.character)) + "]";
      }
    }
    return out;
  };
  EXPECT_EQ(described(""), "");
  EXPECT_EQ(described("a\tb"), "[97]<tab>[98]");
  EXPECT_EQ(described("a\nb\rc\r\nd\n\re"), "[97]<ret>[98]<ret>[99]<ret>[100]<ret><ret>[101]");
  EXPECT_EQ(described("\r\n\r\n"), "<ret><ret>");
  EXPECT_EQ(described(std::string_view("x\0y", 3)), "[120][121]");
  EXPECT_EQ(described("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), "[233][8364][128512]");
}

}  // namespace
}  // namespace tarvix
