// The input backend: turns abstract pointer and key operations into
// platform events. One backend is opened per input request on the first
// thread and closed (destroyed) when the request is done.
#ifndef TARVIX_TOOLS_DESKTOP_INPUT_BACKEND_H_
#define TARVIX_TOOLS_DESKTOP_INPUT_BACKEND_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tarvix {

enum class MouseButton { kLeft, kMiddle, kRight };
enum class ScrollAxis { kVertical, kHorizontal };

enum class NamedKey {
  kReturn, kTab, kEscape, kBackspace, kForwardDelete, kSpace, kUp, kDown, kLeft, kRight,
  kHome, kEnd, kPageUp, kPageDown, kShift, kControl, kAlt, kMeta, kCapsLock,
  kF1, kF2, kF3, kF4, kF5, kF6, kF7, kF8, kF9, kF10, kF11, kF12,
};

// A named key, or a character key carrying one Unicode scalar value.
struct Key {
  bool is_character = false;
  NamedKey named = NamedKey::kReturn;
  char32_t character = 0;
};

// Operations return nothing or the operation error text
// ("simulating input failed: (<reason>)"). Not thread-safe: a backend
// belongs to the one thread and request that opened it.
class InputBackend {
 public:
  virtual ~InputBackend() = default;
  virtual Result<void> MovePointer(int32_t x, int32_t y) = 0;
  virtual Result<void> ClickButton(MouseButton button) = 0;
  // Positive lengths scroll down (vertical) or right (horizontal).
  virtual Result<void> Scroll(int32_t length, ScrollAxis axis) = 0;
  virtual Result<void> ClickKey(const Key& key) = 0;
  virtual Result<void> EnterText(std::string_view utf8) = 0;
};

// Opens the platform's backend; the error is the open error text
// ("no connection could be established: (<reason>)").
Result<std::unique_ptr<InputBackend>> OpenInputBackend();

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_INPUT_BACKEND_H_
