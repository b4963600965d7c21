// Spare keycodes lent to keysyms that no key of the keyboard map produces
// (é on a US map, €, CJK, emoji), for the length of one input request.
//
// Clients look a key event's keycode up in the keyboard map when they read
// the event, which may be well after the server delivered it. Mapping a
// keycode back (or to another keysym) too early makes the client type the
// wrong character. So within a request a keycode keeps its keysym, further
// keysyms take the next spare keycode round-robin, and a keycode is only
// remapped, or given back at the end, once the focused client has answered
// a ping sent after the keys (or, when it takes no pings, after a fixed
// wait).
#ifndef TARVIX_PLATFORM_X11_X_LENT_KEYCODES_H_
#define TARVIX_PLATFORM_X11_X_LENT_KEYCODES_H_

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <optional>
#include <vector>

namespace tarvix {

class LentKeycodes {
 public:
  // `spare` are keycodes without keysyms. `connection` must outlive this.
  LentKeycodes(xcb_connection_t* connection, xcb_window_t root, std::vector<xkb_keycode_t> spare);
  // Gives every lent keycode its empty mapping back, also after a failure.
  ~LentKeycodes();
  LentKeycodes(const LentKeycodes&) = delete;
  LentKeycodes& operator=(const LentKeycodes&) = delete;

  struct Lent {
    xkb_keycode_t keycode;
    // A letter's keycode carries both cases, small first, so that Caps
    // Lock and Shift act on it as on any letter key; the other case is on
    // the second level. Other keysyms are on both levels.
    bool second_level;
  };
  // A keycode that types `keysym`; nullopt when the keyboard map has no
  // spare keycode or the server stopped answering while waiting (see
  // above) to reuse one. Queues the mapping change.
  std::optional<Lent> Lend(xkb_keysym_t keysym);
  // Waits until clients have read the events typed so far, then gives the
  // keycodes back. False when the server did not confirm.
  bool GiveBack();

 private:
  struct Loan {
    xkb_keycode_t keycode;
    xkb_keysym_t first;  // XKB_KEY_NoSymbol while not lent
    xkb_keysym_t second;
    // Typed with since clients last caught up: must not be remapped yet.
    bool unread;
  };
  bool LetClientsCatchUp();

  xcb_connection_t* connection_;
  xcb_window_t root_;
  std::vector<Loan> loans_;
  size_t next_ = 0;
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_LENT_KEYCODES_H_
