#include "tools/desktop/click_pacer.h"

#include <cstdint>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

using std::chrono::milliseconds;

// Time moves only when the test advances it or the pacer sleeps.
class FakeClock : public PacerClock {
 public:
  TimePoint Now() override { return now_; }
  void SleepUntil(TimePoint deadline) override {
    slept_ += deadline - now_;
    now_ = deadline;
  }
  void Advance(milliseconds by) { now_ += by; }
  milliseconds TakeSlept() {
    const auto slept = std::chrono::duration_cast<milliseconds>(slept_);
    slept_ = {};
    return slept;
  }

 private:
  TimePoint now_ = TimePoint{} + std::chrono::hours(1);
  std::chrono::nanoseconds slept_{};
};

constexpr ClickTiming kX11{milliseconds(400), true, 5};
constexpr ClickTiming kClickState{milliseconds(400), false, 5};

constexpr PointerPoint kHere{100, 100};

// One click: the gap before it (from the previous step), its button, and
// what the pacer must do: the wait it imposes and the count it gives; then
// where it lands.
struct Step {
  bool new_request;
  milliseconds gap;
  MouseButton button;
  milliseconds waited;
  int64_t count;
  std::optional<PointerPoint> at = kHere;
};

void RunSteps(const ClickTiming& timing, const std::vector<Step>& steps) {
  FakeClock clock;
  ClickPacer pacer(clock);
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    clock.Advance(step.gap);
    if (step.new_request) pacer.BeginRequest();
    EXPECT_EQ(pacer.BeforeClick(step.button, timing, step.at), step.count) << "step " << i;
    pacer.AfterClick(step.button);
    EXPECT_EQ(clock.TakeSlept(), step.waited) << "step " << i;
  }
}

constexpr MouseButton kLeft = MouseButton::kLeft;
constexpr MouseButton kRight = MouseButton::kRight;
constexpr milliseconds kNone(0);

TEST(ClickPacerTest, CountsWithinARequestAndStartsAgainInTheNext) {
  RunSteps(kClickState, {
      {true, kNone, kLeft, kNone, 1},
      {false, milliseconds(1), kLeft, kNone, 2},
      {false, milliseconds(399), kLeft, kNone, 3},
      {false, milliseconds(400), kLeft, kNone, 1},   // the interval has passed
      {false, milliseconds(1), kRight, kNone, 1},    // each button counts alone
      {true, milliseconds(1), kLeft, kNone, 1},      // no waiting with click states
  });
}

TEST(ClickPacerTest, KeepsSeparateRequestsApartWhereClientsCountByTime) {
  RunSteps(kX11, {
      {true, kNone, kLeft, kNone, 1},                 // the very first click never waits
      {true, milliseconds(100), kLeft, milliseconds(301), 1},
      {true, milliseconds(500), kLeft, kNone, 1},     // long enough ago
      {true, milliseconds(10), kRight, kNone, 1},     // another button is no double click
      // A double click, then a click: a triple click in GTK's eyes until
      // twice the interval after the double click's first press.
      {true, milliseconds(1000), kLeft, kNone, 1},
      {false, milliseconds(2), kLeft, kNone, 2},
      {true, milliseconds(50), kLeft, milliseconds(749), 1},
      {false, kNone, kLeft, kNone, 2},                // within a request: back to back
  });
}

// Receivers join presses only within the double-click distance (either
// axis): a click elsewhere goes at once, one nearby still waits, also when
// the spot is unknown.
TEST(ClickPacerTest, WaitsOnlyForClicksNearTheRememberedOnes) {
  RunSteps(kX11, {
      {true, kNone, kLeft, kNone, 1, PointerPoint{100, 100}},
      {true, milliseconds(10), kLeft, kNone, 1, PointerPoint{106, 100}},    // 6 px right
      {true, milliseconds(10), kLeft, kNone, 1, PointerPoint{106, 94}},     // 6 px up
      {true, milliseconds(10), kLeft, kNone, 1, PointerPoint{200, 300}},
      {true, milliseconds(10), kLeft, kNone, 1, PointerPoint{300, 300}},
      {true, milliseconds(10), kLeft, kNone, 1, PointerPoint{400, 300}},
      {true, milliseconds(10), kLeft, milliseconds(391), 1, PointerPoint{405, 295}},  // 5 px
      {true, milliseconds(10), kLeft, milliseconds(391), 1, std::nullopt},
      {true, milliseconds(10), kLeft, milliseconds(391), 1, PointerPoint{-2000000000, 5}},
      // A double click far off, then a click near its first press: a
      // triple click until twice the interval after that press.
      {true, milliseconds(1000), kLeft, kNone, 1, PointerPoint{0, 0}},
      {false, milliseconds(2), kLeft, kNone, 2, PointerPoint{50, 50}},
      {true, milliseconds(50), kLeft, milliseconds(749), 1, PointerPoint{3, 3}},
      // Far from both remembered presses and from the extreme corner.
      {true, milliseconds(10), kLeft, kNone, 1, PointerPoint{INT32_MAX, INT32_MIN}},
      {true, milliseconds(10), kLeft, kNone, 1, PointerPoint{INT32_MIN, INT32_MAX}},
  });
}

}  // namespace
}  // namespace tarvix
