#include "platform/x11/x_lent_keycodes.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <thread>

#include "platform/x11/x_sync.h"

namespace tarvix {
namespace {

// Time clients get, after the server has delivered the events, to read
// them and refresh their copy of the keyboard map. A desktop client's
// event loop answers within a frame or two.
constexpr std::chrono::milliseconds kClientCatchUp(50);
constexpr std::chrono::milliseconds kServerTimeout(5000);

void Map(xcb_connection_t* connection, xkb_keycode_t keycode, xcb_keysym_t first,
         xcb_keysym_t second) {
  const xcb_keysym_t levels[] = {first, second};
  xcb_change_keyboard_mapping(connection, 1, static_cast<xcb_keycode_t>(keycode), 2, levels);
}

}  // namespace

LentKeycodes::LentKeycodes(xcb_connection_t* connection, std::vector<xkb_keycode_t> spare)
    : connection_(connection) {
  loans_.reserve(spare.size());
  for (const xkb_keycode_t keycode : spare) {
    loans_.push_back(Loan{keycode, XKB_KEY_NoSymbol, XKB_KEY_NoSymbol});
  }
}

LentKeycodes::~LentKeycodes() { (void)GiveBack(); }

bool LentKeycodes::LetClientsCatchUp() {
  if (!XSyncWithin(connection_, kServerTimeout)) return false;  // no one left to wait for
  std::this_thread::sleep_for(kClientCatchUp);
  return true;
}

std::optional<LentKeycodes::Lent> LentKeycodes::Lend(xkb_keysym_t keysym) {
  if (loans_.empty()) return std::nullopt;
  xkb_keysym_t first = xkb_keysym_to_lower(keysym);
  xkb_keysym_t second = xkb_keysym_to_upper(keysym);
  // (A keysym whose case pair does not map back to it, like ß, stands
  // alone.)
  if (first == second || (keysym != first && keysym != second)) first = second = keysym;
  for (const Loan& loan : loans_) {
    if (loan.first == first && loan.second == second) {
      return Lent{loan.keycode, keysym != first};
    }
  }
  Loan& loan = loans_[next_];
  next_ = (next_ + 1) % loans_.size();
  // Every spare keycode is in use: the oldest one is taken back, once
  // what was typed with it has been read.
  if (loan.first != XKB_KEY_NoSymbol && !LetClientsCatchUp()) return std::nullopt;
  Map(connection_, loan.keycode, first, second);
  loan.first = first;
  loan.second = second;
  return Lent{loan.keycode, keysym != first};
}

bool LentKeycodes::GiveBack() {
  bool lent = false;
  for (const Loan& loan : loans_) lent = lent || loan.first != XKB_KEY_NoSymbol;
  if (!lent) return true;
  bool ok = LetClientsCatchUp();
  for (Loan& loan : loans_) {
    if (loan.first == XKB_KEY_NoSymbol) continue;
    Map(connection_, loan.keycode, XKB_KEY_NoSymbol, XKB_KEY_NoSymbol);
    loan.first = loan.second = XKB_KEY_NoSymbol;
  }
  return XSyncWithin(connection_, kServerTimeout) && ok;
}

}  // namespace tarvix
