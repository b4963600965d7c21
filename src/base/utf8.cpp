#include "base/utf8.h"

#include <cstdint>
#include <cstring>

namespace tarvix {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

// Length of the well-formed prefix of the sequence starting at `p`
// (which must not be ASCII): the full sequence length when it is complete
// and valid, otherwise the length of its maximal subpart (at least 1) with
// `*complete` set to false.
size_t ScanSequence(const unsigned char* p, const unsigned char* end, bool* complete) {
  const unsigned char lead = p[0];
  size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
  } else if (lead == 0xE0) {
    need = 3; lo = 0xA0;
  } else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) {
    need = 3;
  } else if (lead == 0xED) {
    need = 3; hi = 0x9F;
  } else if (lead == 0xF0) {
    need = 4; lo = 0x90;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    need = 4;
  } else if (lead == 0xF4) {
    need = 4; hi = 0x8F;
  } else {
    *complete = false;
    return 1;
  }
  size_t have = 1;
  while (have < need) {
    if (p + have >= end) { *complete = false; return have; }
    const unsigned char c = p[have];
    const unsigned char min = have == 1 ? lo : 0x80;
    const unsigned char max = have == 1 ? hi : 0xBF;
    if (c < min || c > max) { *complete = false; return have; }
    ++have;
  }
  *complete = true;
  return need;
}

// ASCII runs dominate real text: skip them eight bytes at a time.
const unsigned char* SkipAscii(const unsigned char* p, const unsigned char* end) {
  while (end - p >= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    if (word & 0x8080808080808080ULL) break;
    p += 8;
  }
  while (p < end && *p < 0x80) ++p;
  return p;
}

// Offset of the first ill-formed byte, or size when there is none.
size_t FirstInvalid(std::string_view bytes) {
  const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = begin + bytes.size();
  const unsigned char* p = begin;
  while (p < end) {
    p = SkipAscii(p, end);
    if (p >= end) break;
    if (*p < 0x80) { ++p; continue; }
    bool complete = false;
    const size_t n = ScanSequence(p, end, &complete);
    if (!complete) return static_cast<size_t>(p - begin);
    p += n;
  }
  return bytes.size();
}

void AppendLossy(std::string_view bytes, std::string* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    const size_t valid = FirstInvalid(
        std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p)));
    out->append(reinterpret_cast<const char*>(p), valid);
    p += valid;
    if (p >= end) break;
    bool complete = false;
    const size_t bad = ScanSequence(p, end, &complete);
    out->append(kReplacement, 3);
    p += bad;
  }
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) { return FirstInvalid(bytes) == bytes.size(); }

bool IsAscii(std::string_view bytes) {
  const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
  return SkipAscii(begin, begin + bytes.size()) == begin + bytes.size();
}

char32_t DecodeScalarAt(std::string_view text, size_t i, size_t* len) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char lead = byte(0);
  *len = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (*len == 1) return lead;
  char32_t c = lead & (0xFFu >> (*len + 1));
  for (size_t k = 1; k < *len; ++k) c = (c << 6) | (byte(k) & 0x3Fu);
  return c;
}

namespace {

// The lossy form of `bytes`, whose first ill-formed byte is at `first`.
std::string LossyFrom(std::string_view bytes, size_t first) {
  std::string out;
  out.reserve(bytes.size() + 16);
  out.append(bytes.data(), first);
  AppendLossy(bytes.substr(first), &out);
  return out;
}

}  // namespace

std::string LossyUtf8(std::string_view bytes) {
  const size_t first = FirstInvalid(bytes);
  if (first == bytes.size()) return std::string(bytes);
  return LossyFrom(bytes, first);
}

std::string LossyUtf8(std::string&& bytes) {
  const size_t first = FirstInvalid(bytes);
  if (first == bytes.size()) return std::move(bytes);
  return LossyFrom(bytes, first);
}

}  // namespace tarvix
