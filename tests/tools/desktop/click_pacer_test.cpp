#include "tools/desktop/click_pacer.h"

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

constexpr ClickTiming kX11{milliseconds(400), true};
constexpr ClickTiming kClickState{milliseconds(400), false};

// One click: the gap before it (from the previous step), its button, and
// what the pacer must do: the wait it imposes and the count it gives.
struct Step {
  bool new_request;
  milliseconds gap;
  MouseButton button;
  milliseconds waited;
  int64_t count;
};

void RunSteps(const ClickTiming& timing, const std::vector<Step>& steps) {
  FakeClock clock;
  ClickPacer pacer(clock);
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    clock.Advance(step.gap);
    if (step.new_request) pacer.BeginRequest();
    EXPECT_EQ(pacer.BeforeClick(step.button, timing), step.count) << "step " << i;
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

}  // namespace
}  // namespace tarvix
