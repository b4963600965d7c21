#include "base/lower_case.h"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/stringpiece.h>
#include <unicode/utypes.h>

#include <cstdint>
#include <cstring>

#include "base/utf8.h"

namespace tarvix {
namespace {

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool LowerCaseInto(std::string_view piece, std::string* out) {
  icu::StringByteSink<std::string> sink(out);
  UErrorCode status = U_ZERO_ERROR;
  icu::CaseMap::utf8ToLower("", /*options=*/0,
                            icu::StringPiece(piece.data(), static_cast<int32_t>(piece.size())),
                            sink, /*edits=*/nullptr, status);
  return U_SUCCESS(status);
}

}  // namespace

std::string LowerCaseFull(std::string_view utf8) {
  if (IsAscii(utf8)) return AsciiLower(utf8);
  // CaseMap works on UTF-8 directly (no UTF-16 round trip), applies the
  // context-dependent final-sigma rule and passes ill-formed bytes through.
  // The empty locale id selects the root locale: no Turkish or Lithuanian
  // tailoring, whatever the process locale is.
  std::string out;
  out.reserve(utf8.size() + 8);
  // ICU takes at most 2^31 - 1 bytes at once. Longer text is cut before a
  // lead byte; only the final-sigma context can differ at a cut, and sigma
  // never maps into the ASCII the tables are made of.
  constexpr size_t kMaxPiece = 0x7FFFFFFF;
  while (!utf8.empty()) {
    size_t cut = utf8.size();
    if (cut > kMaxPiece) {
      cut = kMaxPiece;
      while (cut > kMaxPiece - 4 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
    }
    // Only an allocation failure gets here; a screen is better served by the
    // ASCII mapping than by no mapping at all.
    if (!LowerCaseInto(utf8.substr(0, cut), &out)) return AsciiLower(utf8);
    utf8.remove_prefix(cut);
  }
  return out;
}

}  // namespace tarvix
