#include "tools/desktop/click_pacer.h"

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
  for (size_t i = 0; i < request_.size(); ++i) {
    // Fold the previous request's clicks into the cross-request memory.
    if (this_request_[i] != PacerClock::TimePoint{}) earlier_requests_[i] = this_request_[i];
    this_request_[i] = {};
    request_[i] = Memory{0, now};
  }
}

int64_t ClickPacer::BeforeClick(MouseButton button, const ClickTiming& timing) {
  const auto index = static_cast<size_t>(button);
  if (timing.counted_by_receiver && this_request_[index] == PacerClock::TimePoint{} &&
      earlier_requests_[index] != PacerClock::TimePoint{}) {
    const PacerClock::TimePoint apart =
        earlier_requests_[index] + timing.double_click_interval + kRoundingMargin;
    if (clock_.Now() < apart) clock_.SleepUntil(apart);
  }
  Memory& memory = request_[index];
  const PacerClock::TimePoint now = clock_.Now();
  memory.count = now - memory.instant < timing.double_click_interval ? memory.count + 1 : 1;
  memory.instant = now;
  return memory.count;
}

void ClickPacer::AfterClick(MouseButton button) {
  this_request_[static_cast<size_t>(button)] = clock_.Now();
}

}  // namespace tarvix
