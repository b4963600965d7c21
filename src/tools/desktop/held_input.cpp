#include "tools/desktop/held_input.h"

#include <algorithm>
#include <utility>

#include "platform/input_stop.h"

namespace tarvix {
namespace {

// How often a loop holding input looks for a stop: a shutdown waits for
// the input lock, which the held backend keeps.
constexpr std::chrono::milliseconds kStopCheck(50);

// A request's view of the held backend: closing it closes nothing.
class BorrowedBackend : public InputBackend {
 public:
  explicit BorrowedBackend(InputBackend& held) : held_(held) {}
  ClickTiming click_timing() override { return held_.click_timing(); }
  std::optional<PointerPoint> QueryPointer() override { return held_.QueryPointer(); }
  Result<void> MovePointer(int32_t x, int32_t y) override { return held_.MovePointer(x, y); }
  Result<void> ClickButton(MouseButton button, int64_t count) override {
    return held_.ClickButton(button, count);
  }
  Result<void> Scroll(int32_t length, ScrollAxis axis) override {
    return held_.Scroll(length, axis);
  }
  Result<void> ClickKey(const Key& key) override { return held_.ClickKey(key); }
  Result<void> EnterText(std::string_view utf8) override { return held_.EnterText(utf8); }
  Result<void> PressButton(MouseButton button) override { return held_.PressButton(button); }
  Result<void> ReleaseButton(MouseButton button) override {
    return held_.ReleaseButton(button);
  }
  Result<void> PressKey(const Key& key) override { return held_.PressKey(key); }
  Result<void> ReleaseKey(const Key& key) override { return held_.ReleaseKey(key); }

 private:
  InputBackend& held_;
};

}  // namespace

Result<std::unique_ptr<InputBackend>> HeldInput::Open(const InputBackendOpener& open) {
  if (backend_) return std::unique_ptr<InputBackend>(new BorrowedBackend(*backend_));
  return open();
}

void HeldInput::Keep(std::unique_ptr<InputBackend> backend, MouseButton button,
                     std::vector<Key> keys) {
  if (!backend_) backend_ = std::move(backend);
  for (Hold& hold : holds_) {
    if (hold.button != button) continue;
    // Pressed again: the later keys go up with it too.
    hold.keys.insert(hold.keys.end(), keys.begin(), keys.end());
    return;
  }
  holds_.push_back(Hold{button, std::move(keys)});
}

bool HeldInput::Holds(MouseButton button) const {
  return std::any_of(holds_.begin(), holds_.end(),
                     [&](const Hold& hold) { return hold.button == button; });
}

Result<void> HeldInput::Release(MouseButton button) {
  const auto hold = std::find_if(holds_.begin(), holds_.end(),
                                 [&](const Hold& h) { return h.button == button; });
  if (hold == holds_.end()) return {};
  const Hold released = std::move(*hold);
  holds_.erase(hold);
  // Every step is tried even after one failed: nothing may stay down.
  Result<void> done = backend_->ReleaseButton(button);
  for (auto key = released.keys.rbegin(); key != released.keys.rend(); ++key) {
    Result<void> up = backend_->ReleaseKey(*key);
    if (done && !up) done = std::move(up);
  }
  return done;
}

ToolResult HeldInput::Finish(ToolResult result) {
  if (!result) ReleaseAll();
  if (holds_.empty()) backend_.reset();
  release_at_ = clock_.Now() + kIdleRelease;
  return result;
}

std::optional<PacerClock::TimePoint> HeldInput::WakeAt() const {
  if (holds_.empty()) return std::nullopt;
  return std::min(release_at_, clock_.Now() + kStopCheck);
}

void HeldInput::ReleaseIfDue() {
  if (holds_.empty()) return;
  if (InputStopRequested() || clock_.Now() >= release_at_) ReleaseAll();
}

void HeldInput::ReleaseAll() {
  while (!holds_.empty()) (void)Release(holds_.back().button);
  backend_.reset();  // whatever the backend still holds goes up as it closes
}

std::vector<MouseButton> HeldInput::buttons() const {
  std::vector<MouseButton> buttons;
  for (const Hold& hold : holds_) buttons.push_back(hold.button);
  return buttons;
}

std::vector<Key> HeldInput::keys() const {
  std::vector<Key> keys;
  for (const Hold& hold : holds_) keys.insert(keys.end(), hold.keys.begin(), hold.keys.end());
  return keys;
}

}  // namespace tarvix
