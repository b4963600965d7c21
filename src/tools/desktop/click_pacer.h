// Click counting for the input executor, and the one fact the input loop
// keeps between requests: when each mouse button was last clicked (the
// last two clicks).
//
// Within a request, a press of the same button within the double-click
// interval of the previous one counts one higher (the second click of
// "double_click" gets 2). Clicks of separate requests must never form a
// multiple click; where the receiving application counts clicks from press
// times (X11), the only way to keep them apart is time. Toolkits take a
// press within the interval of the last one as a double click, and (GTK) a
// press within twice the interval of the one before the last as a triple
// click, each only when the press lands within the double-click distance
// of that earlier press. So the first click of a button in a request waits
// until the spans since that button's earlier clicks nearby have passed;
// a click elsewhere goes at once.
#ifndef TARVIX_TOOLS_DESKTOP_CLICK_PACER_H_
#define TARVIX_TOOLS_DESKTOP_CLICK_PACER_H_

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

#include "platform/input_backend.h"

namespace tarvix {

// The clock the pacer reads and sleeps on; a fake in tests.
class PacerClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~PacerClock() = default;
  virtual TimePoint Now() = 0;
  virtual void SleepUntil(TimePoint deadline) = 0;
};

// The monotonic system clock; lives for the whole process.
PacerClock& SteadyPacerClock();

// Owned by the input loop and used only on its thread. `clock` must
// outlive the pacer.
class ClickPacer {
 public:
  explicit ClickPacer(PacerClock& clock = SteadyPacerClock()) : clock_(clock) {}

  // Starts a request: every button's count goes back to 0 with the current
  // instant, so the request's first click always counts 1.
  void BeginRequest();
  // Before posting a click of `button` at `at` (nullopt: unknown, taken as
  // near every earlier click): waits when needed (see above) and returns
  // the click's count.
  int64_t BeforeClick(MouseButton button, const ClickTiming& timing,
                      std::optional<PointerPoint> at);
  // After the click has reached the platform (or failed half way, which
  // may still have pressed the button): remembers when, for later requests.
  void AfterClick(MouseButton button);

 private:
  struct Memory {
    int64_t count = 0;
    PacerClock::TimePoint instant{};
    bool clicked = false;  // in this request
    std::optional<PointerPoint> at;  // of the click being made
  };
  // When and where a button's clicks reached the platform; epoch for never.
  struct History {
    PacerClock::TimePoint last{};
    PacerClock::TimePoint before_last{};
    std::optional<PointerPoint> last_at;
    std::optional<PointerPoint> before_last_at;
  };
  PacerClock& clock_;
  std::array<Memory, kMouseButtonCount> request_{};
  std::array<History, kMouseButtonCount> history_{};
};

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_CLICK_PACER_H_
