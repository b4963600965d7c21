// The keyboard logic of the macOS input backend, kept apart from the
// Quartz calls so that it runs and is tested anywhere: virtual key codes of
// the named keys, the search of the keyboard layout for a character, the
// pieces that text entry posts, and the pointer arithmetic.
#ifndef TARVIX_PLATFORM_APPLE_KEYBOARD_H_
#define TARVIX_PLATFORM_APPLE_KEYBOARD_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/input_backend.h"

namespace tarvix {

// The virtual key code (ANSI keyboard) of a named key; kNoKeyCode for
// keys Apple keyboards lack (f21 to f24).
inline constexpr uint16_t kNoKeyCode = 0xFFFF;
uint16_t AppleKeyCode(NamedKey key);

// What the keyboard layout produces for `code` (0 to 127) with no modifier
// (`shift` false) or with Shift held, as UTF-16; empty when nothing.
using LayoutTranslation = std::function<std::u16string(uint16_t code, bool shift)>;

// The key events that type one character.
struct CharacterStroke {
  uint16_t code = 0;
  // Shift flag on the key events: the layout has the character only in
  // its shifted state ("A" on the "a" key).
  bool shift = false;
  // Sent as the events' Unicode string when no key of the layout has the
  // character, so that the character arrives instead of code 0's letter.
  std::u16string text;
  bool operator==(const CharacterStroke&) const = default;
};

// Tries every key code from 0 to 127, without and with Shift: the last code
// with a translation equal to `character` wins, its unshifted state before
// its shifted one. No code has it: code 0 carrying the character as text.
CharacterStroke FindCharacterStroke(char32_t character, const LayoutTranslation& translate);

// One step of text entry.
struct TextStep {
  enum class Kind {
    kTabKey,  // a click of the Tab key
    kText,    // one key-down event carrying `text` as its Unicode string
    kPause,   // the 2 ms pause that ends a text entry
  };
  Kind kind = Kind::kText;
  std::u16string text;
  bool operator==(const TextStep&) const = default;
};

// The steps that enter `utf8` (valid UTF-8): pieces of 20 scalar values;
// a tab, carriage return or line feed at the start of a piece goes first,
// as a Tab key click or as a text entry of its own (zero width space and
// the character, then its pause); the rest of the piece follows as one
// event. A piece that nothing is left of posts no event (an empty Unicode
// string would let code 0's letter through). The final pause comes last;
// empty text gives no steps.
std::vector<TextStep> PlanTextEntry(std::string_view utf8);

// The UTF-16 form of a scalar value.
std::u16string Utf16Of(char32_t character);

// A Cocoa pointer location (origin at the bottom left of the main display)
// as a global display point (origin at the top left, y downwards): each
// value saturated to the signed 32-bit range, NaN giving 0.
struct PointerPosition {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const PointerPosition&) const = default;
};
PointerPosition TopLeftPosition(double location_x, double location_y, double display_height);

// The mouse-delta fields of a move from `from` to (x, y): how far the
// event moves the pointer, target minus current, as a device reports it.
struct PointerDelta {
  int64_t x = 0;
  int64_t y = 0;
  bool operator==(const PointerDelta&) const = default;
};
PointerDelta MoveDelta(PointerPosition from, int32_t x, int32_t y);

// The Quartz mouse event that moves the pointer while `pressed_buttons`
// (bit 0 left, bit 1 right) are held, and the button it names.
enum class PointerMoveKind { kMoved, kLeftDragged, kRightDragged };
struct PointerMove {
  PointerMoveKind kind = PointerMoveKind::kMoved;
  MouseButton button = MouseButton::kLeft;
  bool operator==(const PointerMove&) const = default;
};
PointerMove PointerMoveFor(uint64_t pressed_buttons);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_APPLE_KEYBOARD_H_
