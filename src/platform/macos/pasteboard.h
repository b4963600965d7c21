// The general pasteboard's calls the clipboard makes, behind a C++ face so
// that only pasteboard_macos.mm is Objective-C++.
#ifndef TARVIX_PLATFORM_MACOS_PASTEBOARD_H_
#define TARVIX_PLATFORM_MACOS_PASTEBOARD_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

struct PasteboardContent {
  // The types the owner offers, in the pasteboard's order.
  std::vector<std::string> types;
  // The first max_bytes bytes of the plain text (UTF-8), empty when there
  // is none.
  std::string text;
  // The plain text's whole size in bytes.
  size_t text_size = 0;
};

// What the general pasteboard holds now. Opens an autorelease pool of its
// own: request workers have none.
PasteboardContent ReadGeneralPasteboard(size_t max_bytes);

// Clears the general pasteboard and puts `text` on it as plain text; false
// when the pasteboard refused it.
bool WriteGeneralPasteboard(std::string_view text);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_MACOS_PASTEBOARD_H_
