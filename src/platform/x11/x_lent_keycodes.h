// Spare keycodes lent to keysyms that no key of the keyboard map produces
// (é on a US map, €, CJK, emoji), for the length of one input request.
//
// Clients look a key event's keycode up in the keyboard map when they read
// the event, which may be well after the server delivered it. Mapping a
// keycode back (or to another keysym) too early makes the client type the
// wrong character. So within a request a keycode keeps its keysym, further
// keysyms take the next spare keycode round-robin, and a keycode is only
// remapped once the focused client has answered a ping sent after the keys.
// A client that does not answer within the deadline stops the request: no
// keycode it may still read is remapped to another character. A client that
// takes no pings at all gets a fixed wait, which cannot prove anything.
//
// Every loan is recorded in the ledger before the mapping changes, so the
// next daemon can give it back if this one dies.
#ifndef TARVIX_PLATFORM_X11_X_LENT_KEYCODES_H_
#define TARVIX_PLATFORM_X11_X_LENT_KEYCODES_H_

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/x11/x_input_ledger.h"
#include "platform/x11/x_key_levels.h"

namespace tarvix {

// How long the focused client gets to answer a ping before typing fails.
inline constexpr std::chrono::seconds kClientAnswerTimeout(5);

class LentKeycodes {
 public:
  // `spare` are keycodes without keysyms. With `four_levels` each keycode
  // carries four keysyms, else a letter's two cases or one keysym.
  // `connection` and `ledger` must outlive this.
  LentKeycodes(xcb_connection_t* connection, xcb_window_t root, std::vector<xkb_keycode_t> spare,
               XInputLedger* ledger, std::optional<FourLevels> four_levels);
  // Gives every lent keycode its empty mapping back, also after a failure.
  ~LentKeycodes();
  LentKeycodes(const LentKeycodes&) = delete;
  LentKeycodes& operator=(const LentKeycodes&) = delete;

  struct Lent {
    xkb_keycode_t keycode;
    // On four levels: the level (0 to 3) of the keysym, selected by Shift
    // (1) and the level-3 modifier (2). On two: a letter's keycode carries
    // both cases, small first, so that Caps Lock and Shift act on it as on
    // any letter key, and 1 means the other case; other keysyms are on
    // both levels.
    uint8_t level;
  };
  enum class Failure {
    kNoSpareKeycode,
    kServerFailed,
    // The focused client did not answer within kClientAnswerTimeout.
    kClientLate,
    // The input loop is stopping for a shutdown signal.
    kStopped,
    // Every keycode carries keys clients may not have read, and the caller
    // asked not to wait: post what was lent so far first.
    kAllInUse,
  };
  // A keycode that types `keysym`; nullopt with failure() set when there
  // is no spare keycode, or when reusing one needs clients to catch up and
  // they did not (see above) or `may_wait` is false. The mapping changes
  // wait for SendMappings, so that a batch of loans reaches clients as one
  // burst of map changes (each makes them reload their keyboard map).
  std::optional<Lent> Lend(xkb_keysym_t keysym, bool may_wait);
  // Queues the mapping changes of the loans made since the last call;
  // before the keys typed with them. True when there were any.
  bool SendMappings();
  // Waits until clients have read the events typed so far (unless a wait
  // already failed), then gives the keycodes back, whatever the wait's
  // outcome. False with failure() set when the wait or the server failed.
  bool GiveBack();
  Failure failure() const { return failure_; }

 private:
  struct Loan {
    xkb_keycode_t keycode;
    xkb_keysym_t first = XKB_KEY_NoSymbol;  // XKB_KEY_NoSymbol while not lent
    xkb_keysym_t second = XKB_KEY_NoSymbol;
    // Typed with since clients last caught up: must not be remapped yet.
    bool unread = false;
    // On four levels: the keysyms, the first `used` of them lent.
    std::array<xkb_keysym_t, 4> levels{};
    uint8_t used = 0;
    // Lent anew since the last SendMappings.
    bool changed = false;
  };
  bool LetClientsCatchUp();
  std::optional<Lent> LendOnFourLevels(xkb_keysym_t keysym, bool may_wait);
  // A keycode free to lend (recorded in the ledger), waiting for clients
  // when every keycode has unread keys and `may_wait`; null with failure_
  // set when there is none. `fill_levels`: four-level loans first fill
  // the free levels of the keycode being filled.
  Loan* TakeLoan(bool may_wait, bool fill_levels);

  xcb_connection_t* connection_;
  xcb_window_t root_;
  XInputLedger* ledger_;
  std::optional<FourLevels> four_levels_;
  std::vector<Loan> loans_;
  size_t next_ = 0;
  Failure failure_ = Failure::kNoSpareKeycode;
  // A wait failed: clients are not waited for again in this request.
  bool abandoned_ = false;
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_LENT_KEYCODES_H_
