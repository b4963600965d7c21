// What an input request has changed on the keyboard and pointer (keycodes
// lent to other keysyms, keys and buttons pressed), recorded on the root window before each change is
// made, so that whoever comes next can undo it when the request's daemon
// died before it could (SIGKILL, a crash, a lost connection).
//
// The record is the root window's _TARVIX_INPUT_LEDGER property. It names
// its writer: a window the writing connection made and marked, which the
// server destroys with that connection. A record whose writer is gone is
// left over; one whose writer lives belongs to a request in progress
// (another daemon on the same display) and is not touched.
#ifndef TARVIX_PLATFORM_X11_X_INPUT_LEDGER_H_
#define TARVIX_PLATFORM_X11_X_INPUT_LEDGER_H_

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace tarvix {

// Property contents, for tests and for the restore below.
struct XInputRecord {
  xcb_window_t writer = XCB_WINDOW_NONE;
  uint32_t mark = 0;
  std::vector<xcb_keycode_t> held;
  struct Loan {
    xcb_keycode_t keycode;
    std::vector<xcb_keysym_t> previous;
    bool operator==(const Loan&) const = default;
  };
  std::vector<Loan> loans;
  std::vector<uint8_t> buttons;  // pointer buttons (1 to 5) held
  bool operator==(const XInputRecord&) const = default;
};
std::vector<uint32_t> EncodeInputRecord(const XInputRecord& record);
// nullopt for anything malformed (foreign, truncated, an unknown version).
std::optional<XInputRecord> DecodeInputRecord(const uint32_t* words, size_t count);

// Used by one backend on its thread; `connection` must outlive it.
class XInputLedger {
 public:
  XInputLedger(xcb_connection_t* connection, xcb_window_t root);
  XInputLedger(const XInputLedger&) = delete;
  XInputLedger& operator=(const XInputLedger&) = delete;

  // Undoes a left-over record: releases its keys and buttons, maps its keycodes back,
  // deletes it. False when the server did not answer in time.
  bool RestoreLeftovers();

  // Call before the keycode's mapping first changes.
  void RecordLoan(xcb_keycode_t keycode, std::vector<xcb_keysym_t> previous);
  // Call before pressing a key; a key once recorded stays recorded for
  // the request (releasing a key that is up changes nothing).
  void RecordHeld(xcb_keycode_t keycode);
  // The same for a pointer button.
  void RecordHeldButton(uint8_t button);
  // Everything is given back and released: the record goes. True when
  // that queued a request (to be waited for before disconnecting).
  bool Clear();

 private:
  void Write();

  xcb_connection_t* connection_;
  xcb_window_t root_;
  xcb_atom_t ledger_atom_ = XCB_ATOM_NONE;
  xcb_atom_t mark_atom_ = XCB_ATOM_NONE;
  XInputRecord record_;
  bool written_ = false;
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_X_INPUT_LEDGER_H_
