#include "platform/apple_keyboard.h"

#include <cmath>
#include <iterator>
#include <limits>
#include <optional>

#include "base/utf8.h"

namespace tarvix {
namespace {

// Indexed by NamedKey.
constexpr uint16_t kKeyCodes[] = {
    36,  48,  53,  51,  117, 49,  126, 125, 123, 124,  // Return .. Right
    115, 119, 116, 121, 56,  59,  58,  55,  57,        // Home .. Caps lock
    122, 120, 99,  118, 96,  97,  98,  100, 101, 109, 103, 111,  // F1 .. F12
    105, 107, 113, 106, 64,  79,  80,  90,                       // F13 .. F20
    kNoKeyCode, kNoKeyCode, kNoKeyCode, kNoKeyCode,              // F21 .. F24
    // Insert is the Help key; Apple keyboards put print screen, pause and
    // scroll lock on F13, F15 and F14, and num lock on the keypad's Clear.
    114, 105, 110, 113, 71,  107,
    82,  83,  84,  85,  86,  87,  88,  89,  91,  92,             // keypad 0 .. 9
    76,  69,  78,  67,  75,  65,                                 // keypad enter .. decimal
};
static_assert(std::size(kKeyCodes) == kNamedKeyCount);

constexpr size_t kPieceLength = 20;
constexpr char16_t kZeroWidthSpace = 0x200B;

int32_t SaturatedInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(value);
}

// Adds the steps of one piece.
void PlanPiece(std::u32string_view piece, std::vector<TextStep>* steps) {
  while (!piece.empty() && (piece[0] == '\t' || piece[0] == '\r' || piece[0] == '\n')) {
    if (piece[0] == '\t') {
      steps->push_back({TextStep::Kind::kTabKey, u""});
    } else {
      steps->push_back(
          {TextStep::Kind::kText, std::u16string{kZeroWidthSpace, static_cast<char16_t>(piece[0])}});
      steps->push_back({TextStep::Kind::kPause, u""});
    }
    piece.remove_prefix(1);
  }
  if (piece.empty()) return;
  std::u16string rest;
  for (const char32_t c : piece) rest += Utf16Of(c);
  steps->push_back({TextStep::Kind::kText, std::move(rest)});
}

}  // namespace

uint16_t AppleKeyCode(NamedKey key) { return kKeyCodes[static_cast<size_t>(key)]; }

std::u16string Utf16Of(char32_t c) {
  if (c < 0x10000) return std::u16string(1, static_cast<char16_t>(c));
  c -= 0x10000;
  return {static_cast<char16_t>(0xD800 + (c >> 10)), static_cast<char16_t>(0xDC00 + (c & 0x3FF))};
}

CharacterStroke FindCharacterStroke(char32_t character, const LayoutTranslation& translate) {
  const std::u16string wanted = Utf16Of(character);
  std::optional<CharacterStroke> found;
  for (uint16_t code = 0; code < 128; ++code) {
    if (translate(code, false) == wanted) {
      found = CharacterStroke{code, false, u""};
    } else if (translate(code, true) == wanted) {
      found = CharacterStroke{code, true, u""};
    }
  }
  if (found) return *found;
  return CharacterStroke{0, false, wanted};
}

std::vector<TextStep> PlanTextEntry(std::string_view utf8) {
  std::vector<TextStep> steps;
  std::u32string piece;
  for (size_t i = 0; i < utf8.size();) {
    size_t length = 0;
    piece += DecodeScalarAt(utf8, i, &length);
    i += length;
    if (piece.size() == kPieceLength || i == utf8.size()) {
      PlanPiece(piece, &steps);
      piece.clear();
    }
  }
  if (!utf8.empty()) steps.push_back({TextStep::Kind::kPause, u""});
  return steps;
}

PointerPosition TopLeftPosition(double location_x, double location_y, double display_height) {
  return {SaturatedInt32(location_x), SaturatedInt32(display_height - location_y)};
}

PointerDelta MoveDelta(PointerPosition from, int32_t x, int32_t y) {
  return {int64_t{x} - from.x, int64_t{y} - from.y};
}

PointerMove PointerMoveFor(uint64_t pressed_buttons) {
  const bool left = (pressed_buttons & 1) != 0;
  const bool right = (pressed_buttons & 2) != 0;
  const MouseButton button = right && !left ? MouseButton::kRight : MouseButton::kLeft;
  if (left) return {PointerMoveKind::kLeftDragged, button};
  if (right) return {PointerMoveKind::kRightDragged, button};
  return {PointerMoveKind::kMoved, button};
}

}  // namespace tarvix
