// An input backend that records every operation as a line of text; one
// kind of operation can be made to fail. Keeps the contract of the real
// backends for held input: releasing what is up records nothing, and
// closing releases what is still down.
#ifndef TARVIX_TESTS_FAKES_RECORDING_INPUT_BACKEND_H_
#define TARVIX_TESTS_FAKES_RECORDING_INPUT_BACKEND_H_

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/input_backend.h"
#include "tools/desktop/key_names.h"

namespace tarvix {

class RecordingBackend : public InputBackend {
 public:
  // `fail_on`: move, click, scroll, key, text, press, release, keydown or
  // keyup. `fail_after` lets that many of them succeed first.
  RecordingBackend(std::vector<std::string>* log, std::string fail_on, int fail_after = 0)
      : log_(log), fail_on_(std::move(fail_on)), fail_after_(fail_after) {}
  ~RecordingBackend() override {
    while (!keys_.empty()) (void)ReleaseKey(KeyNamed(keys_.back()));
    for (const MouseButton button : {MouseButton::kLeft, MouseButton::kMiddle, MouseButton::kRight}) {
      (void)ReleaseButton(button);
    }
    log_->push_back("close");
  }

  ClickTiming click_timing() override { return ClickTiming{}; }
  std::optional<PointerPoint> QueryPointer() override { return at_; }
  Result<void> MovePointer(int32_t x, int32_t y) override {
    at_ = PointerPoint{x, y};
    return Record("move " + std::to_string(x) + "," + std::to_string(y), "move");
  }
  Result<void> ClickButton(MouseButton button, int64_t count) override {
    return Record(std::string("click ") + Name(button) +
                      (count == 1 ? "" : " x" + std::to_string(count)),
                  "click");
  }
  Result<void> Scroll(int32_t length, ScrollAxis axis) override {
    return Record(std::string(axis == ScrollAxis::kVertical ? "vscroll " : "hscroll ") +
                      std::to_string(length),
                  "scroll");
  }
  Result<void> ClickKey(const Key& key) override {
    return Record(key.is_character ? "char " + std::to_string(static_cast<uint32_t>(key.character))
                                   : "key " + std::to_string(static_cast<int>(key.named)),
                  "key");
  }
  Result<void> EnterText(std::string_view text) override {
    return Record("text " + std::string(text), "text");
  }
  Result<void> PressButton(MouseButton button) override {
    buttons_[static_cast<size_t>(button)] = true;  // even when failing: may be half down
    return Record(std::string("press ") + Name(button), "press");
  }
  Result<void> ReleaseButton(MouseButton button) override {
    if (!buttons_[static_cast<size_t>(button)]) return {};
    buttons_[static_cast<size_t>(button)] = false;
    return Record(std::string("release ") + Name(button), "release");
  }
  Result<void> PressKey(const Key& key) override {
    keys_.push_back(ReportedKeyName(key));
    return Record("down " + ReportedKeyName(key), "keydown");
  }
  Result<void> ReleaseKey(const Key& key) override {
    const auto held = std::find(keys_.rbegin(), keys_.rend(), ReportedKeyName(key));
    if (held == keys_.rend()) return {};
    keys_.erase(std::next(held).base());
    return Record("up " + ReportedKeyName(key), "keyup");
  }

 private:
  static Key KeyNamed(const std::string& name) { return *ResolveChordKeyName(name); }
  static const char* Name(MouseButton button) {
    static const char* const kNames[] = {"left", "middle", "right"};
    return kNames[static_cast<size_t>(button)];
  }
  Result<void> Record(std::string entry, const std::string& kind) {
    log_->push_back(std::move(entry));
    if (kind == fail_on_ && fail_after_-- <= 0) {
      return Error("simulating input failed: (failed creating event)");
    }
    return {};
  }
  std::vector<std::string>* log_;
  std::string fail_on_;
  int fail_after_;
  std::optional<PointerPoint> at_ = PointerPoint{0, 0};
  std::vector<std::string> keys_;  // held, in press order, by reported name
  bool buttons_[kMouseButtonCount] = {};
};

}  // namespace tarvix

#endif  // TARVIX_TESTS_FAKES_RECORDING_INPUT_BACKEND_H_
