#include "tools/desktop/click_pacer.h"

#include <algorithm>
#include <thread>

namespace tarvix {
namespace {

class SteadyClock : public PacerClock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  void SleepUntil(TimePoint deadline) override { std::this_thread::sleep_until(deadline); }
};

// Receivers compare press times in whole milliseconds taken when the
// server handles the press; one more millisecond keeps a press that lands
// exactly on the interval from counting as a double click after rounding.
constexpr std::chrono::milliseconds kRoundingMargin(1);

}  // namespace

PacerClock& SteadyPacerClock() {
  static SteadyClock* const clock = new SteadyClock;  // never destroyed: used until _Exit
  return *clock;
}

void ClickPacer::BeginRequest() {
  const PacerClock::TimePoint now = clock_.Now();
  for (Memory& memory : request_) memory = Memory{0, now, false};
}

int64_t ClickPacer::BeforeClick(MouseButton button, const ClickTiming& timing) {
  const auto index = static_cast<size_t>(button);
  Memory& memory = request_[index];
  const History& history = history_[index];
  if (timing.counted_by_receiver && !memory.clicked && history.last != PacerClock::TimePoint{}) {
    PacerClock::TimePoint apart = history.last + timing.double_click_interval;
    if (history.before_last != PacerClock::TimePoint{}) {
      apart = std::max(apart, history.before_last + 2 * timing.double_click_interval);
    }
    apart += kRoundingMargin;
    if (clock_.Now() < apart) clock_.SleepUntil(apart);
  }
  const PacerClock::TimePoint now = clock_.Now();
  memory.count = now - memory.instant < timing.double_click_interval ? memory.count + 1 : 1;
  memory.instant = now;
  return memory.count;
}

void ClickPacer::AfterClick(MouseButton button) {
  const auto index = static_cast<size_t>(button);
  request_[index].clicked = true;
  history_[index] = History{clock_.Now(), history_[index].last};
}

}  // namespace tarvix
