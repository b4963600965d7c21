#include "platform/apple_keyboard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

namespace tarvix {
namespace {

using Kind = TextStep::Kind;

TEST(AppleKeyCodeTest, EveryNamedKeyHasItsVirtualKeyCode) {
  const std::pair<NamedKey, uint16_t> table[] = {
      {NamedKey::kReturn, 36},   {NamedKey::kTab, 48},        {NamedKey::kEscape, 53},
      {NamedKey::kBackspace, 51}, {NamedKey::kForwardDelete, 117}, {NamedKey::kSpace, 49},
      {NamedKey::kUp, 126},      {NamedKey::kDown, 125},      {NamedKey::kLeft, 123},
      {NamedKey::kRight, 124},   {NamedKey::kHome, 115},      {NamedKey::kEnd, 119},
      {NamedKey::kPageUp, 116},  {NamedKey::kPageDown, 121},  {NamedKey::kShift, 56},
      {NamedKey::kControl, 59},  {NamedKey::kAlt, 58},        {NamedKey::kMeta, 55},
      {NamedKey::kCapsLock, 57}, {NamedKey::kF1, 122},        {NamedKey::kF2, 120},
      {NamedKey::kF3, 99},       {NamedKey::kF4, 118},        {NamedKey::kF5, 96},
      {NamedKey::kF6, 97},       {NamedKey::kF7, 98},         {NamedKey::kF8, 100},
      {NamedKey::kF9, 101},      {NamedKey::kF10, 109},       {NamedKey::kF11, 103},
      {NamedKey::kF12, 111},     {NamedKey::kF13, 105},       {NamedKey::kF14, 107},
      {NamedKey::kF15, 113},     {NamedKey::kF16, 106},       {NamedKey::kF17, 64},
      {NamedKey::kF18, 79},      {NamedKey::kF19, 80},        {NamedKey::kF20, 90},
      {NamedKey::kF21, kNoKeyCode}, {NamedKey::kF22, kNoKeyCode}, {NamedKey::kF23, kNoKeyCode},
      {NamedKey::kF24, kNoKeyCode}, {NamedKey::kInsert, 114}, {NamedKey::kPrintScreen, 105},
      {NamedKey::kMenu, 110},    {NamedKey::kPause, 113},     {NamedKey::kNumLock, 71},
      {NamedKey::kScrollLock, 107}, {NamedKey::kKeypad0, 82}, {NamedKey::kKeypad1, 83},
      {NamedKey::kKeypad2, 84},  {NamedKey::kKeypad3, 85},    {NamedKey::kKeypad4, 86},
      {NamedKey::kKeypad5, 87},  {NamedKey::kKeypad6, 88},    {NamedKey::kKeypad7, 89},
      {NamedKey::kKeypad8, 91},  {NamedKey::kKeypad9, 92},    {NamedKey::kKeypadEnter, 76},
      {NamedKey::kKeypadPlus, 69}, {NamedKey::kKeypadMinus, 78},
      {NamedKey::kKeypadMultiply, 67}, {NamedKey::kKeypadDivide, 75},
      {NamedKey::kKeypadDecimal, 65},
  };
  ASSERT_EQ(std::size(table), kNamedKeyCount);
  for (const auto& [key, code] : table) {
    EXPECT_EQ(AppleKeyCode(key), code) << static_cast<int>(key);
  }
}

// A layout given as (code, shift) -> text; everything else types nothing.
// Records the highest code it was asked about.
struct FakeLayout {
  std::map<std::pair<uint16_t, bool>, std::u16string> keys;
  uint16_t highest_asked = 0;

  LayoutTranslation Translation() {
    return [this](uint16_t code, bool shift) {
      highest_asked = std::max(highest_asked, code);
      const auto it = keys.find({code, shift});
      return it == keys.end() ? std::u16string() : it->second;
    };
  }
};

TEST(FindCharacterStrokeTest, SearchesEveryCodeAndTheLastMatchWins) {
  FakeLayout layout;
  layout.keys = {
      {{0, false}, u"a"},   {{0, true}, u"A"},    // the "a" key
      {{49, false}, u" "},  {{49, true}, u" "},   // space types a space shifted too
      {{7, false}, u"x"},   {{90, false}, u"x"},  // two keys type "x" unshifted
      {{18, false}, u"1"},  {{18, true}, u"!"},   // "!" only shifted ...
      {{3, false}, u"!"},                         // ... after an unshifted "!" on a lower code
      {{127, true}, u"\u00e9"},                   // the last code of all, shifted
  };
  const struct {
    char32_t character;
    CharacterStroke stroke;
  } cases[] = {
      {U'a', {0, false, u""}},
      // The shifted state's character arrives only with the shift flag.
      {U'A', {0, true, u""}},
      {U' ', {49, false, u""}},  // unshifted before shifted on one code
      {U'x', {90, false, u""}},
      {U'!', {18, true, u""}},
      {U'\u00e9', {127, true, u""}},
      // Nothing types it: code 0, carrying the character itself.
      {U'\u00df', {0, false, u"\u00df"}},
      {U'\U0001F600', {0, false, u"\U0001F600"}},
  };
  for (const auto& c : cases) {
    layout.highest_asked = 0;
    EXPECT_EQ(FindCharacterStroke(c.character, layout.Translation()), c.stroke)
        << static_cast<uint32_t>(c.character);
    EXPECT_EQ(layout.highest_asked, 127);
  }
}

TEST(FindCharacterStrokeTest, ATranslationOfSeveralUnitsMatchesOnlyWhole) {
  FakeLayout layout;
  layout.keys = {{{4, false}, u"ab"}, {{5, false}, u"\U0001F600"}};
  EXPECT_EQ(FindCharacterStroke(U'a', layout.Translation()), (CharacterStroke{0, false, u"a"}));
  EXPECT_EQ(FindCharacterStroke(U'\U0001F600', layout.Translation()),
            (CharacterStroke{5, false, u""}));
}

TEST(PlanTextEntryTest, PiecesOfTwentyScalarValuesThenOnePause) {
  const std::string twenty = "abcdefghijklmnopqrst";
  const struct {
    std::string text;
    std::vector<TextStep> steps;
  } cases[] = {
      {"", {}},
      {"hi", {{Kind::kText, u"hi"}, {Kind::kPause, u""}}},
      {twenty + twenty + "uvwxy",
       {{Kind::kText, u"abcdefghijklmnopqrst"},
        {Kind::kText, u"abcdefghijklmnopqrst"},
        {Kind::kText, u"uvwxy"},
        {Kind::kPause, u""}}},
      // Scalar values, not bytes or UTF-16 units, are counted.
      {"\xC3\xA9\xF0\x9F\x98\x80" + std::string(19, 'z'),
       {{Kind::kText, u"\u00e9\U0001F600zzzzzzzzzzzzzzzzzz"},
        {Kind::kText, u"z"},
        {Kind::kPause, u""}}},
  };
  for (const auto& c : cases) EXPECT_EQ(PlanTextEntry(c.text), c.steps) << c.text;
}

TEST(PlanTextEntryTest, TabsAndLineBreaksAtTheStartOfAPieceGoFirst) {
  const std::string twenty = "abcdefghijklmnopqrst";
  const struct {
    std::string text;
    std::vector<TextStep> steps;
  } cases[] = {
      {"\tname", {{Kind::kTabKey, u""}, {Kind::kText, u"name"}, {Kind::kPause, u""}}},
      {"\r\nok",
       {{Kind::kText, u"\u200b\r"},
        {Kind::kPause, u""},
        {Kind::kText, u"\u200b\n"},
        {Kind::kPause, u""},
        {Kind::kText, u"ok"},
        {Kind::kPause, u""}}},
      // Inside a piece they travel with the text.
      {"a\tb\n", {{Kind::kText, u"a\tb\n"}, {Kind::kPause, u""}}},
      // A piece that is all tab posts no empty text event.
      {"\t", {{Kind::kTabKey, u""}, {Kind::kPause, u""}}},
      {twenty + "\t\tz",
       {{Kind::kText, u"abcdefghijklmnopqrst"},
        {Kind::kTabKey, u""},
        {Kind::kTabKey, u""},
        {Kind::kText, u"z"},
        {Kind::kPause, u""}}},
  };
  for (const auto& c : cases) EXPECT_EQ(PlanTextEntry(c.text), c.steps) << c.text;
}

TEST(TopLeftPositionTest, FlipsYAndSaturatesToInt32) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  const struct {
    double x, y, height;
    PointerPosition position;
  } cases[] = {
      {10.7, 100.2, 900, {10, 799}},
      {-3.9, 0, 1080, {-3, 1080}},
      {kNan, kNan, 900, {0, 0}},
      {1e12, -1e12, 900, {kMax, kMax}},
      {-1e12, 1e12, 900, {kMin, kMin}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TopLeftPosition(c.x, c.y, c.height), c.position) << c.x << "," << c.y;
  }
}

TEST(MoveDeltaTest, IsTargetMinusCurrentWithoutOverflow) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  const struct {
    PointerPosition from;
    int32_t x, y;
    PointerDelta delta;
  } cases[] = {
      {{100, 200}, 130, 150, {30, -50}},
      {{0, 0}, 0, 0, {0, 0}},
      {{kMin, kMax}, kMax, kMin, {int64_t{kMax} - kMin, int64_t{kMin} - kMax}},
  };
  for (const auto& c : cases) EXPECT_EQ(MoveDelta(c.from, c.x, c.y), c.delta) << c.x << "," << c.y;
}

TEST(PointerMoveForTest, HeldButtonsMakeADrag) {
  const struct {
    uint64_t pressed;
    PointerMove move;
  } cases[] = {
      {0, {PointerMoveKind::kMoved, MouseButton::kLeft}},
      {1, {PointerMoveKind::kLeftDragged, MouseButton::kLeft}},
      {2, {PointerMoveKind::kRightDragged, MouseButton::kRight}},
      {3, {PointerMoveKind::kLeftDragged, MouseButton::kLeft}},
      {4, {PointerMoveKind::kMoved, MouseButton::kLeft}},
      {6, {PointerMoveKind::kRightDragged, MouseButton::kRight}},
  };
  for (const auto& c : cases) EXPECT_EQ(PointerMoveFor(c.pressed), c.move) << c.pressed;
}

}  // namespace
}  // namespace tarvix
