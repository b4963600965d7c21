// The input backend: turns abstract pointer and key operations into
// platform events. One backend is opened per input request on the first
// thread and closed (destroyed) when the request is done.
#ifndef TARVIX_PLATFORM_INPUT_BACKEND_H_
#define TARVIX_PLATFORM_INPUT_BACKEND_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tarvix {

enum class MouseButton { kLeft, kMiddle, kRight };
inline constexpr int kMouseButtonCount = 3;
enum class ScrollAxis { kVertical, kHorizontal };

enum class NamedKey {
  kReturn, kTab, kEscape, kBackspace, kForwardDelete, kSpace, kUp, kDown, kLeft, kRight,
  kHome, kEnd, kPageUp, kPageDown, kShift, kControl, kAlt, kMeta, kCapsLock,
  kF1, kF2, kF3, kF4, kF5, kF6, kF7, kF8, kF9, kF10, kF11, kF12,
  // Keys only chords name.
  kF13, kF14, kF15, kF16, kF17, kF18, kF19, kF20, kF21, kF22, kF23, kF24,
  kInsert, kPrintScreen, kMenu, kPause, kNumLock, kScrollLock,
  kKeypad0, kKeypad1, kKeypad2, kKeypad3, kKeypad4, kKeypad5, kKeypad6, kKeypad7, kKeypad8,
  kKeypad9, kKeypadEnter, kKeypadPlus, kKeypadMinus, kKeypadMultiply, kKeypadDivide,
  kKeypadDecimal,
};
inline constexpr size_t kNamedKeyCount = static_cast<size_t>(NamedKey::kKeypadDecimal) + 1;

// A named key, or a character key carrying one Unicode scalar value.
struct Key {
  bool is_character = false;
  NamedKey named = NamedKey::kReturn;
  char32_t character = 0;
};

// A pointer position in the backend's own coordinates.
struct PointerPoint {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const PointerPoint&) const = default;
};

// How the platform tells a double click from two single clicks.
struct ClickTiming {
  // Presses of one button closer together than this count as one multiple
  // click.
  std::chrono::nanoseconds double_click_interval{std::chrono::milliseconds(400)};
  // True where the receiving application counts clicks itself from the
  // press times (X11), so a click state cannot keep two clicks apart and
  // only time can; false where every event carries its click state (macOS).
  bool counted_by_receiver = false;
  // Where the receiver counts clicks: a press further than this from the
  // earlier one, along either axis, starts a new click however soon.
  int32_t double_click_distance = 5;
};

// Operations return nothing or the operation error text
// ("simulating input failed: (<reason>)"). Not thread-safe: a backend
// belongs to the one thread and request that opened it.
class InputBackend {
 public:
  virtual ~InputBackend() = default;
  // The session's double-click rules, read once per backend when first
  // asked.
  virtual ClickTiming click_timing() = 0;
  // Where the pointer is now; nullopt where the platform cannot tell
  // (click pacing then assumes the worst).
  virtual std::optional<PointerPoint> QueryPointer() { return std::nullopt; }
  virtual Result<void> MovePointer(int32_t x, int32_t y) = 0;
  // Press and release at the pointer. `click_count` (1 for a single click,
  // 2 for the second click of a double click...) is posted as the events'
  // click state where the platform has one.
  virtual Result<void> ClickButton(MouseButton button, int64_t click_count) = 0;
  // Positive lengths scroll down (vertical) or right (horizontal).
  virtual Result<void> Scroll(int32_t length, ScrollAxis axis) = 0;
  virtual Result<void> ClickKey(const Key& key) = 0;
  virtual Result<void> EnterText(std::string_view utf8) = 0;

  // Held buttons and keys (chords, drags). A pressed button or key stays
  // down until released, across requests while the backend stays open;
  // the backend releases whatever is still down when it closes. A key
  // pressed twice (a chord's Shift and the Shift a character needs) goes
  // up with its last release; releasing what is up posts nothing.
  virtual Result<void> PressButton(MouseButton button) = 0;
  virtual Result<void> ReleaseButton(MouseButton button) = 0;
  // A character key comes with the Shift or level-3 modifier its
  // character needs in the live layout (held until its release), on a
  // lent keycode where no key types it.
  virtual Result<void> PressKey(const Key& key) = 0;
  virtual Result<void> ReleaseKey(const Key& key) = 0;
};

// Opens the platform's backend; the error is the open error text
// ("no connection could be established: (<reason>)").
Result<std::unique_ptr<InputBackend>> OpenInputBackend();

// Appended to "input unavailable: <open error>": tells the user what the
// platform needs before input can work, with a leading space.
extern const char kInputUnavailableHint[];
// Ends an open error when the display server was reached but did not
// answer in time: the session is set up right, so no hint follows.
inline constexpr char kInputServerSilent[] = " (the X server did not answer within 2 s)";
// Ends the open error in a Wayland session whose backend has no input
// yet: nothing the user sets would help, so no hint follows either.
inline constexpr char kInputNotOnWayland[] = " is not supported on Wayland yet)";
// Named in every open error of a Wayland backend, whose session needs
// none of the variables the hint names: no hint follows.
inline constexpr char kInputWaylandCompositor[] = "the Wayland compositor";

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_INPUT_BACKEND_H_
