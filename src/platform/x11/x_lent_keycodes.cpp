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

void Map(xcb_connection_t* connection, xkb_keycode_t keycode, xcb_keysym_t keysym) {
  xcb_change_keyboard_mapping(connection, 1, static_cast<xcb_keycode_t>(keycode), 1, &keysym);
}

}  // namespace

LentKeycodes::LentKeycodes(xcb_connection_t* connection, std::vector<xkb_keycode_t> spare)
    : connection_(connection) {
  loans_.reserve(spare.size());
  for (const xkb_keycode_t keycode : spare) loans_.push_back(Loan{keycode, XKB_KEY_NoSymbol});
}

LentKeycodes::~LentKeycodes() { (void)GiveBack(); }

bool LentKeycodes::LetClientsCatchUp() {
  const bool synced = XSyncWithin(connection_, kServerTimeout);
  std::this_thread::sleep_for(kClientCatchUp);
  return synced;
}

std::optional<xkb_keycode_t> LentKeycodes::Lend(xkb_keysym_t keysym) {
  if (loans_.empty()) return std::nullopt;
  for (const Loan& loan : loans_) {
    if (loan.keysym == keysym) return loan.keycode;
  }
  Loan& loan = loans_[next_];
  next_ = (next_ + 1) % loans_.size();
  // Every spare keycode is in use: the oldest one is taken back, once
  // what was typed with it has been read.
  if (loan.keysym != XKB_KEY_NoSymbol) (void)LetClientsCatchUp();
  Map(connection_, loan.keycode, keysym);
  loan.keysym = keysym;
  return loan.keycode;
}

bool LentKeycodes::GiveBack() {
  bool lent = false;
  for (const Loan& loan : loans_) lent = lent || loan.keysym != XKB_KEY_NoSymbol;
  if (!lent) return true;
  bool ok = LetClientsCatchUp();
  for (Loan& loan : loans_) {
    if (loan.keysym == XKB_KEY_NoSymbol) continue;
    Map(connection_, loan.keycode, XKB_KEY_NoSymbol);
    loan.keysym = XKB_KEY_NoSymbol;
  }
  return XSyncWithin(connection_, kServerTimeout) && ok;
}

}  // namespace tarvix
