#include "platform/x11/x_text.h"

#include "base/utf8.h"

namespace tarvix {
namespace {

void AppendLatin1(unsigned char c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else {
    out->push_back(static_cast<char>(0xC0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (char c : latin1) AppendLatin1(static_cast<unsigned char>(c), &out);
  return out;
}

std::string CompoundTextToUtf8(std::string_view text) {
  // The initial state designates ASCII to the left half (GL) and the right
  // half of Latin-1 to the right half (GR).
  bool gl_latin = true;
  bool gr_latin = true;
  bool utf8_segment = false;
  std::string out, utf8;
  auto flush_utf8 = [&] {
    out += LossyUtf8(utf8);
    utf8.clear();
  };
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0x1B) {  // ESC, intermediates 0x20..0x2F, final 0x30..0x7E
      size_t end = i + 1;
      while (end < text.size() && text[end] >= 0x20 && text[end] <= 0x2F) ++end;
      if (end >= text.size() || text[end] < 0x30 || text[end] > 0x7E) break;
      const std::string_view sequence = text.substr(i + 1, end - i);
      i = end + 1;
      if (sequence == "%G") {
        utf8_segment = true;
      } else if (sequence == "%@") {
        flush_utf8();
        utf8_segment = false;
      } else if (sequence.size() == 3 && sequence.substr(0, 2) == "%/") {
        // An extended segment: two length bytes (high bit set), then data
        // in a named encoding, which is skipped.
        if (i + 2 > text.size()) break;
        const size_t length = (static_cast<unsigned char>(text[i]) & 0x7F) * 128 +
                              (static_cast<unsigned char>(text[i + 1]) & 0x7F);
        i += 2 + length;
      } else if (sequence[0] == '(') {
        gl_latin = sequence == "(B";  // ASCII; anything else (JIS Roman, ...) is skipped
      } else if (sequence[0] == '-' || sequence[0] == ')' || sequence[0] == '$') {
        if (sequence[0] == '$' && sequence.size() > 1 && sequence[1] == '(') {
          gl_latin = false;  // a multi-byte set in GL
        } else {
          gr_latin = sequence == "-A";  // the right half of Latin-1
        }
      }
      continue;
    }
    ++i;
    if (utf8_segment) {
      utf8.push_back(static_cast<char>(c));
    } else if (c == 0x9B) {  // CSI (direction): parameters, then a final byte
      while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x40) ++i;
      ++i;
    } else if (c < 0x80) {
      if (gl_latin || c < 0x21 || c == 0x7F) AppendLatin1(c, &out);
    } else if (c >= 0xA0 && gr_latin) {
      AppendLatin1(c, &out);
    }
  }
  flush_utf8();
  return out;
}

}  // namespace tarvix
