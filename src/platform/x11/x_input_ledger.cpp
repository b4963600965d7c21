#include "platform/x11/x_input_ledger.h"

#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string_view>

#include "platform/x11/x_connection.h"
#include "platform/x11/x_sync.h"

namespace tarvix {
namespace {

constexpr std::chrono::milliseconds kServerTimeout(5000);
constexpr uint32_t kVersion = 0x54564c31;  // "TVL1"
// The same with a list of held pointer buttons after the held keys; only
// written when a button is held, so a keyboard-only record reads as before.
constexpr uint32_t kVersionWithButtons = 0x54564c32;  // "TVL2"
// A record holds at most the 248 keycodes X has, each with a few keysyms:
// far below this many words.
constexpr uint32_t kMaxWords = 16384;

// Sends the requests `send` makes, then waits for them within the
// deadline: a reply that comes before the round trip's is in by then.
template <typename Send>
bool SentAndAnswered(xcb_connection_t* connection, Send send) {
  send();
  return XSyncWithin(connection, kServerTimeout);
}

xcb_atom_t AtomReply(xcb_connection_t* connection, xcb_intern_atom_cookie_t cookie) {
  XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

xcb_intern_atom_cookie_t Intern(xcb_connection_t* connection, std::string_view name) {
  return xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.data());
}

uint32_t FreshMark() {
  std::random_device random;
  return random() | 1;  // never 0, which no record carries
}

}  // namespace

std::vector<uint32_t> EncodeInputRecord(const XInputRecord& record) {
  const bool buttons = !record.buttons.empty();
  std::vector<uint32_t> words{buttons ? kVersionWithButtons : kVersion, record.writer,
                              record.mark, static_cast<uint32_t>(record.held.size())};
  words.insert(words.end(), record.held.begin(), record.held.end());
  if (buttons) {
    words.push_back(static_cast<uint32_t>(record.buttons.size()));
    words.insert(words.end(), record.buttons.begin(), record.buttons.end());
  }
  for (const XInputRecord::Loan& loan : record.loans) {
    words.push_back(loan.keycode);
    words.push_back(static_cast<uint32_t>(loan.previous.size()));
    words.insert(words.end(), loan.previous.begin(), loan.previous.end());
  }
  return words;
}

std::optional<XInputRecord> DecodeInputRecord(const uint32_t* words, size_t count) {
  if (count < 4 || (words[0] != kVersion && words[0] != kVersionWithButtons)) {
    return std::nullopt;
  }
  XInputRecord record;
  record.writer = words[1];
  record.mark = words[2];
  size_t at = 4;
  const auto keycode = [](uint32_t word) -> std::optional<xcb_keycode_t> {
    if (word < 8 || word > 255) return std::nullopt;
    return static_cast<xcb_keycode_t>(word);
  };
  if (words[3] > count - at) return std::nullopt;
  for (const size_t end = at + words[3]; at < end; ++at) {
    const std::optional<xcb_keycode_t> held = keycode(words[at]);
    if (!held) return std::nullopt;
    record.held.push_back(*held);
  }
  if (words[0] == kVersionWithButtons) {
    if (at == count) return std::nullopt;
    const uint32_t buttons = words[at++];
    if (buttons > count - at) return std::nullopt;
    for (const size_t end = at + buttons; at < end; ++at) {
      if (words[at] < 1 || words[at] > 5) return std::nullopt;
      record.buttons.push_back(static_cast<uint8_t>(words[at]));
    }
  }
  while (at < count) {
    if (count - at < 2) return std::nullopt;
    const std::optional<xcb_keycode_t> lent = keycode(words[at]);
    const uint32_t width = words[at + 1];
    at += 2;
    if (!lent || width == 0 || width > 255 || width > count - at) return std::nullopt;
    record.loans.push_back({*lent, std::vector<xcb_keysym_t>(words + at, words + at + width)});
    at += width;
  }
  return record;
}

XInputLedger::XInputLedger(xcb_connection_t* connection, xcb_window_t root)
    : connection_(connection), root_(root) {}

bool XInputLedger::RestoreLeftovers() {
  xcb_intern_atom_cookie_t ledger_cookie{}, mark_cookie{};
  if (!SentAndAnswered(connection_, [&] {
        ledger_cookie = Intern(connection_, "_TARVIX_INPUT_LEDGER");
        mark_cookie = Intern(connection_, "_TARVIX_INPUT_WRITER");
      })) {
    xcb_discard_reply(connection_, ledger_cookie.sequence);
    xcb_discard_reply(connection_, mark_cookie.sequence);
    return false;
  }
  ledger_atom_ = AtomReply(connection_, ledger_cookie);
  mark_atom_ = AtomReply(connection_, mark_cookie);
  if (ledger_atom_ == XCB_ATOM_NONE || mark_atom_ == XCB_ATOM_NONE) return false;

  xcb_get_property_cookie_t read{};
  if (!SentAndAnswered(connection_, [&] {
        read = xcb_get_property(connection_, 0, root_, ledger_atom_, XCB_ATOM_CARDINAL, 0,
                                kMaxWords);
      })) {
    xcb_discard_reply(connection_, read.sequence);
    return false;
  }
  XcbReply<xcb_get_property_reply_t> stored(xcb_get_property_reply(connection_, read, nullptr));
  if (!stored || stored->format != 32 || stored->value_len == 0) return true;
  const std::optional<XInputRecord> record =
      DecodeInputRecord(static_cast<const uint32_t*>(xcb_get_property_value(stored.get())),
                        static_cast<size_t>(xcb_get_property_value_length(stored.get())) / 4);
  if (record) {
    // The writer's window carries the record's mark while its connection
    // lives; a window id reused by another client does not.
    xcb_get_property_cookie_t writer{};
    if (!SentAndAnswered(connection_, [&] {
          writer = xcb_get_property(connection_, 0, record->writer, mark_atom_,
                                    XCB_ATOM_CARDINAL, 0, 1);
        })) {
      xcb_discard_reply(connection_, writer.sequence);
      return false;
    }
    XcbReply<xcb_get_property_reply_t> mark(
        xcb_get_property_reply(connection_, writer, nullptr));
    if (mark && mark->format == 32 && xcb_get_property_value_length(mark.get()) == 4 &&
        *static_cast<const uint32_t*>(xcb_get_property_value(mark.get())) == record->mark) {
      return true;  // a request in progress elsewhere
    }
    for (const uint8_t button : record->buttons) {
      xcb_test_fake_input(connection_, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_NONE,
                          0, 0, 0);
    }
    // Keys up first, while they still mean what they meant when pressed.
    for (const xcb_keycode_t key : record->held) {
      xcb_test_fake_input(connection_, XCB_KEY_RELEASE, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0,
                          0);
    }
    for (const XInputRecord::Loan& loan : record->loans) {
      xcb_change_keyboard_mapping(connection_, 1, loan.keycode,
                                  static_cast<uint8_t>(loan.previous.size()),
                                  loan.previous.data());
    }
  }
  // A record nobody can read is no one's either.
  xcb_delete_property(connection_, root_, ledger_atom_);
  return XSyncWithin(connection_, kServerTimeout);
}

void XInputLedger::RecordLoan(xcb_keycode_t keycode, std::vector<xcb_keysym_t> previous) {
  for (const XInputRecord::Loan& loan : record_.loans) {
    if (loan.keycode == keycode) return;
  }
  record_.loans.push_back({keycode, std::move(previous)});
  Write();
}

void XInputLedger::RecordHeld(xcb_keycode_t keycode) {
  if (std::find(record_.held.begin(), record_.held.end(), keycode) != record_.held.end()) return;
  record_.held.push_back(keycode);
  Write();
}

void XInputLedger::RecordHeldButton(uint8_t button) {
  std::vector<uint8_t>& buttons = record_.buttons;
  if (std::find(buttons.begin(), buttons.end(), button) != buttons.end()) return;
  buttons.push_back(button);
  Write();
}

bool XInputLedger::Clear() {
  if (!written_) return false;
  xcb_delete_property(connection_, root_, ledger_atom_);
  xcb_destroy_window(connection_, record_.writer);
  record_ = XInputRecord{};
  written_ = false;
  return true;
}

void XInputLedger::Write() {
  // Without the names (the server did not answer at open) nothing can be
  // recorded; the request goes on regardless.
  if (ledger_atom_ == XCB_ATOM_NONE || mark_atom_ == XCB_ATOM_NONE) return;
  if (!written_) {
    record_.writer = xcb_generate_id(connection_);
    record_.mark = FreshMark();
    const uint32_t override_redirect = 1;
    xcb_create_window(connection_, 0, record_.writer, root_, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT, &override_redirect);
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, record_.writer, mark_atom_,
                        XCB_ATOM_CARDINAL, 32, 1, &record_.mark);
    written_ = true;
  }
  const std::vector<uint32_t> words = EncodeInputRecord(record_);
  xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, root_, ledger_atom_, XCB_ATOM_CARDINAL,
                      32, static_cast<uint32_t>(words.size()), words.data());
}

}  // namespace tarvix
