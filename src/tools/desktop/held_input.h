// What the input loop holds between requests: a button left down by a
// pointer "down" (with the modifier keys pressed for it), on the backend
// that pressed it, kept open until the button goes up: by "up", by a later
// request that fails, after kIdleRelease without a request, or when the
// daemon stops. While something is held every input-loop request works on
// that backend (the input lock is the backend's, so a second one could
// not open).
#ifndef TARVIX_TOOLS_DESKTOP_HELD_INPUT_H_
#define TARVIX_TOOLS_DESKTOP_HELD_INPUT_H_

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/result.h"
#include "json/json.h"
#include "platform/input_backend.h"
#include "tools/desktop/click_pacer.h"

namespace tarvix {

using InputBackendOpener = std::function<Result<std::unique_ptr<InputBackend>>()>;

// Owned by the input loop and used only on its thread. `clock` must
// outlive it.
class HeldInput {
 public:
  static constexpr std::chrono::seconds kIdleRelease{30};

  explicit HeldInput(PacerClock& clock = SteadyPacerClock()) : clock_(clock) {}
  ~HeldInput() { ReleaseAll(); }
  HeldInput(const HeldInput&) = delete;
  HeldInput& operator=(const HeldInput&) = delete;

  // The backend for one request: a view of the held one (closing the view
  // leaves it open), else a fresh one from `open`.
  Result<std::unique_ptr<InputBackend>> Open(const InputBackendOpener& open);
  // Keeps `button` (and `keys`, pressed for it) down past the request.
  // `backend` is the one Open gave this request; it stays open.
  void Keep(std::unique_ptr<InputBackend> backend, MouseButton button, std::vector<Key> keys);
  bool Holds(MouseButton button) const;
  // Releases a held button, then its keys in reverse; nothing when the
  // button is not held here.
  Result<void> Release(MouseButton button);
  // Ends a request with its result: a failure releases everything; the
  // backend closes once nothing is held, else the idle time starts again.
  ToolResult Finish(ToolResult result);
  // When the loop must next call ReleaseIfDue; nullopt while nothing is
  // held.
  std::optional<PacerClock::TimePoint> WakeAt() const;
  // Releases everything once the idle time is over or the daemon stops.
  void ReleaseIfDue();
  // Releases everything and closes the backend.
  void ReleaseAll();

  std::vector<MouseButton> buttons() const;
  std::vector<Key> keys() const;

 private:
  struct Hold {
    MouseButton button;
    std::vector<Key> keys;
  };
  PacerClock& clock_;
  std::unique_ptr<InputBackend> backend_;
  std::vector<Hold> holds_;
  PacerClock::TimePoint release_at_{};
};

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_HELD_INPUT_H_
