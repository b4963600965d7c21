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
                           std::vector<xkb_keycode_t> spare, XInputLedger* ledger,
                           std::optional<FourLevels> four_levels)
    : connection_(connection), root_(root), ledger_(ledger), four_levels_(four_levels) {
  loans_.reserve(spare.size());
  for (const xkb_keycode_t keycode : spare) loans_.push_back(Loan{keycode});
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

LentKeycodes::Loan* LentKeycodes::TakeLoan(bool may_wait, bool fill_levels) {
  // On four levels, a free level of a keycode being filled: adding a level
  // leaves the others as they were, so keys typed with them still read
  // right. Otherwise the next keycode in turn that nothing unread was
  // typed with (starting again from its first level).
  const auto take = [&]() -> Loan* {
    if (fill_levels) {
      for (Loan& loan : loans_) {
        if (loan.used > 0 && loan.used < 4) return &loan;
      }
    }
    for (size_t i = 0; i < loans_.size(); ++i) {
      Loan& loan = loans_[(next_ + i) % loans_.size()];
      if (!loan.unread) {
        next_ = (next_ + i + 1) % loans_.size();
        loan.used = 0;
        return &loan;
      }
    }
    return nullptr;
  };
  Loan* loan = take();
  if (loan == nullptr) {
    if (!may_wait) {
      failure_ = Failure::kAllInUse;
      return nullptr;
    }
    if (!LetClientsCatchUp()) return nullptr;
    loan = take();
  }
  if (ledger_ != nullptr) {
    ledger_->RecordLoan(static_cast<xcb_keycode_t>(loan->keycode),
                        {XKB_KEY_NoSymbol, XKB_KEY_NoSymbol});
  }
  return loan;
}

std::optional<LentKeycodes::Lent> LentKeycodes::Lend(xkb_keysym_t keysym, bool may_wait) {
  if (loans_.empty()) {
    failure_ = Failure::kNoSpareKeycode;
    return std::nullopt;
  }
  xkb_keysym_t first = xkb_keysym_to_lower(keysym);
  xkb_keysym_t second = xkb_keysym_to_upper(keysym);
  // (A keysym whose case pair does not map back to it, like ß, stands
  // alone.)
  if (first == second || (keysym != first && keysym != second)) first = second = keysym;
  if (four_levels_) return LendOnFourLevels(keysym, may_wait);
  for (Loan& loan : loans_) {
    if (loan.first == first && loan.second == second) {
      loan.unread = true;
      return Lent{loan.keycode, static_cast<uint8_t>(keysym != first)};
    }
  }
  Loan* loan = TakeLoan(may_wait, /*fill_levels=*/false);
  if (loan == nullptr) return std::nullopt;
  *loan = Loan{loan->keycode, first, second, true};
  loan->changed = true;
  return Lent{loan->keycode, static_cast<uint8_t>(keysym != first)};
}

std::optional<LentKeycodes::Lent> LentKeycodes::LendOnFourLevels(xkb_keysym_t keysym,
                                                                bool may_wait) {
  for (Loan& loan : loans_) {
    for (uint8_t level = 0; level < loan.used; ++level) {
      if (loan.levels[level] == keysym) {
        loan.unread = true;
        return Lent{loan.keycode, level};
      }
    }
  }
  Loan* loan = TakeLoan(may_wait, /*fill_levels=*/true);
  if (loan == nullptr) return std::nullopt;
  if (loan->used == 0) loan->levels.fill(XKB_KEY_NoSymbol);
  const uint8_t level = loan->used++;
  loan->levels[level] = keysym;
  loan->first = loan->levels[0];  // marks the keycode lent
  loan->unread = true;
  loan->changed = true;
  return Lent{loan->keycode, level};
}

bool LentKeycodes::SendMappings() {
  bool sent = false;
  for (Loan& loan : loans_) {
    if (!loan.changed) continue;
    loan.changed = false;
    sent = true;
    if (four_levels_) {
      MapFourLevels(connection_, *four_levels_, static_cast<xcb_keycode_t>(loan.keycode),
                    {loan.levels[0], loan.levels[1], loan.levels[2], loan.levels[3]});
    } else {
      Map(connection_, loan.keycode, loan.first, loan.second);
    }
  }
  return sent;
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
    loan = Loan{loan.keycode};
  }
  if (XSyncWithin(connection_, kServerTimeout)) return ok;
  if (ok) failure_ = Failure::kServerFailed;
  return false;
}

}  // namespace tarvix
