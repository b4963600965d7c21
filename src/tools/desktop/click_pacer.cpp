#include "tools/desktop/click_pacer.h"

#include <algorithm>
#include <cstdlib>
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

// Toolkits compare each axis on its own (GTK) or the sum of both (Qt's
// Manhattan length, never more than either axis): near along both axes
// covers both.
bool Near(std::optional<PointerPoint> earlier, std::optional<PointerPoint> now,
          int32_t distance) {
  if (!earlier || !now) return true;
  const auto apart = [](int32_t a, int32_t b) {
    return std::abs(static_cast<int64_t>(a) - static_cast<int64_t>(b));
  };
  return apart(earlier->x, now->x) <= distance && apart(earlier->y, now->y) <= distance;
}

}  // namespace

PacerClock& SteadyPacerClock() {
  static SteadyClock* const clock = new SteadyClock;  // never destroyed: used until _Exit
  return *clock;
}

void ClickPacer::BeginRequest() {
  const PacerClock::TimePoint now = clock_.Now();
  for (Memory& memory : request_) memory = Memory{0, now, false, std::nullopt};
}

int64_t ClickPacer::BeforeClick(MouseButton button, const ClickTiming& timing,
                                std::optional<PointerPoint> at) {
  const auto index = static_cast<size_t>(button);
  Memory& memory = request_[index];
  const History& history = history_[index];
  constexpr PacerClock::TimePoint kNever{};
  if (timing.counted_by_receiver && !memory.clicked) {
    const int32_t distance = timing.double_click_distance;
    PacerClock::TimePoint apart = kNever;
    if (history.last != kNever && Near(history.last_at, at, distance)) {
      apart = history.last + timing.double_click_interval;
    }
    if (history.before_last != kNever && Near(history.before_last_at, at, distance)) {
      apart = std::max(apart, history.before_last + 2 * timing.double_click_interval);
    }
    if (apart != kNever) {
      apart += kRoundingMargin;
      if (clock_.Now() < apart) clock_.SleepUntil(apart);
    }
  }
  memory.at = at;
  const PacerClock::TimePoint now = clock_.Now();
  memory.count = now - memory.instant < timing.double_click_interval ? memory.count + 1 : 1;
  memory.instant = now;
  return memory.count;
}

void ClickPacer::AfterClick(MouseButton button) {
  const auto index = static_cast<size_t>(button);
  request_[index].clicked = true;
  const History& earlier = history_[index];
  history_[index] = History{clock_.Now(), earlier.last, request_[index].at, earlier.last_at};
}

}  // namespace tarvix
