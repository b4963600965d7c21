#include "platform/x11/x_lent_keycodes.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <thread>

#include "platform/input_stop.h"
#include "platform/x11/x_client_ping.h"
#include "platform/x11/x_sync.h"

namespace tarvix {
namespace {

// Time clients get, after the server has delivered the events, to read
// them and refresh their copy of the keyboard map, when the focused client
// takes no pings (which prove it has read them). A desktop client's event
// loop gets there within a frame or two.
constexpr std::chrono::milliseconds kClientCatchUp(100);
constexpr std::chrono::milliseconds kServerTimeout(5000);

void Map(xcb_connection_t* connection, xkb_keycode_t keycode, xcb_keysym_t first,
         xcb_keysym_t second) {
  const xcb_keysym_t levels[] = {first, second};
  xcb_change_keyboard_mapping(connection, 1, static_cast<xcb_keycode_t>(keycode), 2, levels);
}

}  // namespace

LentKeycodes::LentKeycodes(xcb_connection_t* connection, xcb_window_t root,
                           std::vector<xkb_keycode_t> spare, XInputLedger* ledger)
    : connection_(connection), root_(root), ledger_(ledger) {
  loans_.reserve(spare.size());
  for (const xkb_keycode_t keycode : spare) {
    loans_.push_back(Loan{keycode, XKB_KEY_NoSymbol, XKB_KEY_NoSymbol, false});
  }
}

LentKeycodes::~LentKeycodes() { (void)GiveBack(); }

bool LentKeycodes::LetClientsCatchUp() {
  const auto fail = [&](Failure failure) {
    failure_ = failure;
    abandoned_ = true;
    return false;
  };
  if (abandoned_) return false;
  if (!XSyncWithin(connection_, kServerTimeout)) return fail(Failure::kServerFailed);
  switch (PingFocusedClient(connection_, root_, kClientAnswerTimeout)) {
    case PingAnswer::kAnswered:
      break;
    case PingAnswer::kTakesNoPings:
      std::this_thread::sleep_for(kClientCatchUp);
      break;
    case PingAnswer::kLate:
      return fail(Failure::kClientLate);
    case PingAnswer::kAbandoned:
      return fail(InputStopRequested() ? Failure::kStopped : Failure::kServerFailed);
  }
  for (Loan& loan : loans_) loan.unread = false;
  return true;
}

std::optional<LentKeycodes::Lent> LentKeycodes::Lend(xkb_keysym_t keysym) {
  if (loans_.empty()) {
    failure_ = Failure::kNoSpareKeycode;
    return std::nullopt;
  }
  xkb_keysym_t first = xkb_keysym_to_lower(keysym);
  xkb_keysym_t second = xkb_keysym_to_upper(keysym);
  // (A keysym whose case pair does not map back to it, like ß, stands
  // alone.)
  if (first == second || (keysym != first && keysym != second)) first = second = keysym;
  for (Loan& loan : loans_) {
    if (loan.first == first && loan.second == second) {
      loan.unread = true;
      return Lent{loan.keycode, keysym != first};
    }
  }
  // The next keycode in turn that nothing unread was typed with.
  const auto take = [&]() -> Loan* {
    for (size_t i = 0; i < loans_.size(); ++i) {
      Loan& loan = loans_[(next_ + i) % loans_.size()];
      if (!loan.unread) {
        next_ = (next_ + i + 1) % loans_.size();
        return &loan;
      }
    }
    return nullptr;
  };
  Loan* loan = take();
  if (loan == nullptr) {
    if (!LetClientsCatchUp()) return std::nullopt;
    loan = take();
  }
  if (ledger_ != nullptr) {
    ledger_->RecordLoan(static_cast<xcb_keycode_t>(loan->keycode),
                        {XKB_KEY_NoSymbol, XKB_KEY_NoSymbol});
  }
  Map(connection_, loan->keycode, first, second);
  *loan = Loan{loan->keycode, first, second, true};
  return Lent{loan->keycode, keysym != first};
}

bool LentKeycodes::GiveBack() {
  bool lent = false;
  for (const Loan& loan : loans_) lent = lent || loan.first != XKB_KEY_NoSymbol;
  if (!lent) return true;
  // The keyboard goes back to how it was found even when the wait failed:
  // a client that never read its keys would misread them either way.
  const bool ok = LetClientsCatchUp();
  for (Loan& loan : loans_) {
    if (loan.first == XKB_KEY_NoSymbol) continue;
    Map(connection_, loan.keycode, XKB_KEY_NoSymbol, XKB_KEY_NoSymbol);
    loan = Loan{loan.keycode, XKB_KEY_NoSymbol, XKB_KEY_NoSymbol, false};
  }
  if (XSyncWithin(connection_, kServerTimeout)) return ok;
  if (ok) failure_ = Failure::kServerFailed;
  return false;
}

}  // namespace tarvix
