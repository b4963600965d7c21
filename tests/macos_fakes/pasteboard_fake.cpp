// The general pasteboard behind the clipboard's C++ face (standing in for
// pasteboard_macos.mm), as NSPasteboard is documented to behave.
#include "cf_objects.h"
#include "macos_fakes.h"
#include "platform/macos/pasteboard.h"

namespace macfake {

// NSPasteboardTypeString's value.
constexpr char kPlainText[] = "public.utf8-plain-text";

Pasteboard& GeneralPasteboard() {
  static Pasteboard board;
  return board;
}

void ResetPasteboard() { GeneralPasteboard() = Pasteboard{}; }

}  // namespace macfake

namespace tarvix {

// -types lists what the owner declared; -dataForType: answers nil for a
// type not on the pasteboard.
PasteboardContent ReadGeneralPasteboard(size_t max_bytes) {
  const macfake::Pasteboard& board = macfake::GeneralPasteboard();
  PasteboardContent out;
  out.types = board.types;
  if (board.text) {
    out.text_size = board.text->size();
    out.text = board.text->substr(0, max_bytes);
  }
  return out;
}

// -clearContents removes every type and its data; -setData:forType:
// declares the type and answers whether the data was written.
bool WriteGeneralPasteboard(std::string_view text) {
  macfake::Pasteboard& board = macfake::GeneralPasteboard();
  board.types.clear();
  board.text.reset();
  if (board.refuse_writes) return false;
  board.types.emplace_back(macfake::kPlainText);
  board.text = std::string(text);
  return true;
}

}  // namespace tarvix
