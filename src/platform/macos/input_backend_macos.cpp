// The input backend on macOS: Quartz events from a combined-session event
// source, posted at the HID event tap and stamped with the daemon's marker.
// The keyboard logic (key codes, layout search, text pieces) lives in
// platform/apple_keyboard; this file only makes the calls.
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <optional>
#include <thread>
#include <vector>

#include "platform/input_backend.h"
#include "platform/macos/cf_value.h"
#include "platform/macos/ns_event.h"
#include "platform/apple_keyboard.h"

namespace tarvix {

const char kInputUnavailableHint[] =
    " (macOS: grant Tarvix 'Accessibility' in System Settings > Privacy & Security)";

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kKeyPause(20);
constexpr milliseconds kTextPause(2);
constexpr int64_t kEventMarker = 100;
// macOS's own default, for an interval the system reports as unusable.
constexpr milliseconds kDefaultDoubleClickInterval(500);
// UCKeyTranslate's modifier state is the Carbon modifier mask shifted
// right by 8 bits.
constexpr UInt32 kShiftState = (shiftKey >> 8) & 0xFF;

std::string Failure(std::string_view reason) {
  return "simulating input failed: (" + std::string(reason) + ")";
}

// The current keyboard layout, read once per backend.
class KeyboardLayout {
 public:
  KeyboardLayout() {
    source_ = CfOwned<TISInputSourceRef>(TISCopyCurrentKeyboardInputSource());
    layout_ = LayoutData(source_.get());
    if (layout_ == nullptr) {
      source_ = CfOwned<TISInputSourceRef>(TISCopyCurrentKeyboardLayoutInputSource());
      layout_ = LayoutData(source_.get());
    }
  }

  // What `code` types, without or with Shift; empty without a layout.
  std::u16string Translate(uint16_t code, bool shift) const {
    if (layout_ == nullptr) return {};
    UInt32 dead_key_state = 0;
    UniChar chars[8];
    UniCharCount length = 0;
    const OSStatus status =
        UCKeyTranslate(reinterpret_cast<const UCKeyboardLayout*>(CFDataGetBytePtr(layout_)), code,
                       kUCKeyActionDown, shift ? kShiftState : 0, LMGetKbdType(),
                       kUCKeyTranslateNoDeadKeysMask, &dead_key_state, std::size(chars), &length,
                       chars);
    if (status != noErr) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(chars), length);
  }

 private:
  static CFDataRef LayoutData(TISInputSourceRef source) {
    if (source == nullptr) return nullptr;
    // Owned by the source.
    return static_cast<CFDataRef>(
        TISGetInputSourceProperty(source, kTISPropertyUnicodeKeyLayoutData));
  }

  CfOwned<TISInputSourceRef> source_;
  CFDataRef layout_ = nullptr;
};

class QuartzInputBackend : public InputBackend {
 public:
  QuartzInputBackend(CGEventSourceRef source, std::chrono::nanoseconds double_click_interval)
      : source_(source),
        display_(CGMainDisplayID()),
        double_click_interval_(double_click_interval) {}

  ~QuartzInputBackend() override {
    while (!held_keys_.empty()) {
      const Key key = held_keys_.back().key;
      (void)ReleaseKey(key);
    }
    for (const MouseButton button : {MouseButton::kLeft, MouseButton::kMiddle, MouseButton::kRight}) {
      (void)ReleaseButton(button);
    }
  }

  ClickTiming click_timing() override { return ClickTiming{double_click_interval_, false}; }

  std::optional<PointerPoint> QueryPointer() override {
    const PointerPosition at = CurrentPosition();
    return PointerPoint{at.x, at.y};
  }

  Result<void> MovePointer(int32_t x, int32_t y) override {
    const PointerMove move = PointerMoveFor(NsEventPressedMouseButtons());
    const PointerPosition from = CurrentPosition();
    static constexpr CGEventType kTypes[] = {kCGEventMouseMoved, kCGEventLeftMouseDragged,
                                             kCGEventRightMouseDragged};
    CfOwned<CGEventRef> event(CGEventCreateMouseEvent(
        source_.get(), kTypes[static_cast<size_t>(move.kind)], CGPointMake(x, y),
        move.button == MouseButton::kRight ? kCGMouseButtonRight : kCGMouseButtonLeft));
    if (!event) return Error(Failure("failed creating event to move the mouse"));
    const PointerDelta delta = MoveDelta(from, x, y);
    CGEventSetIntegerValueField(event.get(), kCGMouseEventDeltaX, delta.x);
    CGEventSetIntegerValueField(event.get(), kCGMouseEventDeltaY, delta.y);
    if (held_flags_ != 0) CGEventSetFlags(event.get(), held_flags_);
    Post(event.get());
    return {};
  }

  Result<void> ClickButton(MouseButton button, int64_t click_count) override {
    for (const bool down : {true, false}) {
      if (!PostButton(button, down, click_count)) {
        return Error(Failure("failed creating event to enter mouse button"));
      }
    }
    return {};
  }

  Result<void> PressButton(MouseButton button) override {
    const auto index = static_cast<size_t>(button);
    if (buttons_down_[index]) return {};
    if (!PostButton(button, true, 1)) {
      return Error(Failure("failed creating event to press mouse button"));
    }
    buttons_down_[index] = true;
    return {};
  }

  Result<void> ReleaseButton(MouseButton button) override {
    const auto index = static_cast<size_t>(button);
    if (!buttons_down_[index]) return {};
    buttons_down_[index] = false;
    if (!PostButton(button, false, 1)) {
      return Error(Failure("failed creating event to release mouse button"));
    }
    return {};
  }

  Result<void> PressKey(const Key& key) override {
    const std::optional<CharacterStroke> stroke = StrokeFor(key);
    if (!stroke) return Error(Failure("the key does not exist on macOS"));
    const CGEventFlags flag = ModifierFlag(key);
    held_keys_.push_back(HeldKey{key, *stroke, flag});
    RecountFlags();
    if (!PostKey(*stroke, true)) return Error(Failure("failed creating event to press the key"));
    return {};
  }

  Result<void> ReleaseKey(const Key& key) override {
    const auto held = std::find_if(held_keys_.rbegin(), held_keys_.rend(), [&](const HeldKey& h) {
      return h.key.is_character == key.is_character && h.key.named == key.named &&
             h.key.character == key.character;
    });
    if (held == held_keys_.rend()) return {};
    const CharacterStroke stroke = held->stroke;
    held_keys_.erase(std::next(held).base());
    // The key's own event still carries the flags of what stays held.
    RecountFlags();
    for (const HeldKey& other : held_keys_) {
      if (other.stroke.code == stroke.code && other.stroke.text == stroke.text) return {};
    }
    if (!PostKey(stroke, false)) return Error(Failure("failed creating event to release the key"));
    return {};
  }

  Result<void> Scroll(int32_t length, ScrollAxis axis) override {
    const int32_t wheel = static_cast<int32_t>(-static_cast<int64_t>(length));
    const bool vertical = axis == ScrollAxis::kVertical;
    CfOwned<CGEventRef> event(CGEventCreateScrollWheelEvent2(
        source_.get(), kCGScrollEventUnitLine, vertical ? 1 : 2, vertical ? wheel : 0,
        vertical ? 0 : wheel, 0));
    if (!event) return Error(Failure("failed creating event to scroll"));
    Post(event.get());
    return {};
  }

  Result<void> ClickKey(const Key& key) override {
    if (key.is_character && key.character == 0) return {};
    const CharacterStroke stroke = *StrokeFor(key);  // the "key" action names keys Apple has
    std::this_thread::sleep_for(kKeyPause);
    if (!PostKey(stroke, true)) return Error(Failure("failed creating event to press the key"));
    std::this_thread::sleep_for(kKeyPause);
    if (!PostKey(stroke, false)) return Error(Failure("failed creating event to release the key"));
    return {};
  }

  Result<void> EnterText(std::string_view utf8) override {
    for (const TextStep& step : PlanTextEntry(utf8)) {
      switch (step.kind) {
        case TextStep::Kind::kTabKey:
          if (Result<void> tab = ClickKey(Key{false, NamedKey::kTab, 0}); !tab) return tab;
          break;
        case TextStep::Kind::kText: {
          CfOwned<CGEventRef> event(CGEventCreateKeyboardEvent(source_.get(), 0, true));
          if (!event) return Error(Failure("failed creating event to enter the text"));
          SetText(event.get(), step.text);
          Post(event.get());
          break;
        }
        case TextStep::Kind::kPause:
          std::this_thread::sleep_for(kTextPause);
          break;
      }
    }
    return {};
  }

 private:
  struct HeldKey {
    Key key;
    CharacterStroke stroke;
    CGEventFlags flag;  // the modifier flag a modifier key sets, else 0
  };

  // The key events of `key`; nullopt for a key Apple keyboards lack.
  std::optional<CharacterStroke> StrokeFor(const Key& key) {
    CharacterStroke stroke;
    if (key.is_character) {
      if (!layout_) layout_.emplace();
      stroke = FindCharacterStroke(key.character, [this](uint16_t code, bool shift) {
        return layout_->Translate(code, shift);
      });
    } else {
      stroke.code = AppleKeyCode(key.named);
      if (stroke.code == kNoKeyCode) return std::nullopt;
    }
    return stroke;
  }

  static CGEventFlags ModifierFlag(const Key& key) {
    if (key.is_character) return 0;
    switch (key.named) {
      case NamedKey::kShift:
        return kCGEventFlagMaskShift;
      case NamedKey::kControl:
        return kCGEventFlagMaskControl;
      case NamedKey::kAlt:
        return kCGEventFlagMaskAlternate;
      case NamedKey::kMeta:
        return kCGEventFlagMaskCommand;
      default:
        return 0;
    }
  }

  // Quartz takes modifiers from each event's flags, not from earlier
  // modifier key events: every event carries those of the held keys.
  void RecountFlags() {
    held_flags_ = 0;
    for (const HeldKey& held : held_keys_) held_flags_ |= held.flag;
  }

  bool PostButton(MouseButton button, bool down, int64_t click_count) const {
    struct Strokes {
      CGEventType down, up;
      CGMouseButton button;
    };
    static constexpr Strokes kStrokes[] = {
        {kCGEventLeftMouseDown, kCGEventLeftMouseUp, kCGMouseButtonLeft},
        {kCGEventOtherMouseDown, kCGEventOtherMouseUp, kCGMouseButtonCenter},
        {kCGEventRightMouseDown, kCGEventRightMouseUp, kCGMouseButtonRight},
    };
    const Strokes& strokes = kStrokes[static_cast<size_t>(button)];
    const PointerPosition at = CurrentPosition();
    CfOwned<CGEventRef> event(CGEventCreateMouseEvent(
        source_.get(), down ? strokes.down : strokes.up, CGPointMake(at.x, at.y), strokes.button));
    if (!event) return false;
    CGEventSetIntegerValueField(event.get(), kCGMouseEventClickState, click_count);
    if (held_flags_ != 0) CGEventSetFlags(event.get(), held_flags_);
    Post(event.get());
    return true;
  }

  PointerPosition CurrentPosition() const {
    const CocoaPoint location = NsEventMouseLocation();
    return TopLeftPosition(location.x, location.y,
                           static_cast<double>(CGDisplayPixelsHigh(display_)));
  }

  void Post(CGEventRef event) const {
    CGEventSetIntegerValueField(event, kCGEventSourceUserData, kEventMarker);
    CGEventPost(kCGHIDEventTap, event);
  }

  static void SetText(CGEventRef event, const std::u16string& text) {
    CGEventKeyboardSetUnicodeString(event, text.size(),
                                    reinterpret_cast<const UniChar*>(text.data()));
  }

  bool PostKey(const CharacterStroke& stroke, bool down) const {
    CfOwned<CGEventRef> event(CGEventCreateKeyboardEvent(source_.get(), stroke.code, down));
    if (!event) return false;
    const CGEventFlags flags = held_flags_ | (stroke.shift ? kCGEventFlagMaskShift : 0);
    if (flags != 0) CGEventSetFlags(event.get(), flags);
    if (!stroke.text.empty()) SetText(event.get(), stroke.text);
    Post(event.get());
    return true;
  }

  // Declared first so it is released last, after the layout.
  CfOwned<CGEventSourceRef> source_;
  const CGDirectDisplayID display_;
  const std::chrono::nanoseconds double_click_interval_;
  std::optional<KeyboardLayout> layout_;
  std::vector<HeldKey> held_keys_;  // in press order
  CGEventFlags held_flags_ = 0;
  std::array<bool, kMouseButtonCount> buttons_down_{};
};

std::chrono::nanoseconds DoubleClickInterval() {
  const double seconds = NsEventDoubleClickInterval();
  // Up to a minute: anything longer (or negative, or not a number) is not
  // an interval a user set.
  if (!std::isfinite(seconds) || seconds < 0 || seconds > 60) return kDefaultDoubleClickInterval;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(seconds));
}

}  // namespace

// Closing releases what the backend still holds, then the event source.
Result<std::unique_ptr<InputBackend>> OpenInputBackend() {
  const std::chrono::nanoseconds interval = DoubleClickInterval();
  CGEventSourceRef source = CGEventSourceCreate(kCGEventSourceStateCombinedSessionState);
  if (source == nullptr) {
    return Error("no connection could be established: (failed creating event source)");
  }
  return std::unique_ptr<InputBackend>(new QuartzInputBackend(source, interval));
}

}  // namespace tarvix
