#include "base/utf8.h"

#include <gtest/gtest.h>
#include <unicode/ustring.h>

#include <random>
#include <string>
#include <utility>

namespace tarvix {
namespace {

#define R "\xEF\xBF\xBD"  // U+FFFD

using Case = std::pair<std::string, std::string>;  // bytes, lossy text

class LossyUtf8Test : public ::testing::TestWithParam<Case> {};

TEST_P(LossyUtf8Test, OneReplacementPerMaximalSubpart) {
  const auto& [bytes, text] = GetParam();
  EXPECT_EQ(LossyUtf8(std::string_view(bytes)), text);
  EXPECT_EQ(LossyUtf8(std::string(bytes)), text);
  EXPECT_EQ(IsValidUtf8(bytes), bytes == text);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, LossyUtf8Test,
    ::testing::Values(
        Case{"", ""}, Case{"plain ascii", "plain ascii"},
        Case{"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        Case{"\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF",
             "\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF"},
        // The Unicode Standard's own example (table 3-8).
        Case{"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64", "a" R R R "b" R "c" R R "d"},
        Case{"f\xFFo", "f" R "o"}, Case{"\xED\xA0\x80", R R R},  // surrogate
        Case{"\xC0\xAF", R R},                                   // overlong "/"
        Case{"\xE0\x80\xAF", R R R},                             // overlong, three bytes
        Case{"\xF0\x80\x80\xAF", R R R R},                       // overlong, four bytes
        Case{"\xF4\x90\x80\x80", R R R R},                       // above U+10FFFF
        Case{"\xF5\xF8\xFE", R R R}, Case{"\x80\xBF", R R},      // lone continuation bytes
        Case{"a\xE2\x82", "a" R},                                // truncated at the end
        Case{"a\xF0\x9F\x98", "a" R},
        Case{"\xF0\x9F\x98"
             "b",
             R "b"},
        Case{"0123456789abcdef\xC3", "0123456789abcdef" R},  // after the 8-byte ASCII scan
        Case{"0123456\xC3\xA9"
             "9abcdef\xFF!",
             "0123456\xC3\xA9"
             "9abcdef" R "!"}));

// The same decoding through ICU's converter, which implements the same
// recommended practice independently.
std::string IcuLossy(const std::string& bytes) {
  std::u16string utf16(bytes.size() + 1, u'\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(utf16.data(), static_cast<int32_t>(utf16.size()), &length, bytes.data(),
                       static_cast<int32_t>(bytes.size()), 0xFFFD, nullptr, &status);
  std::string out(static_cast<size_t>(length) * 3 + 1, '\0');
  int32_t out_length = 0;
  u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &out_length, utf16.data(), length,
              &status);
  EXPECT_TRUE(U_SUCCESS(status));
  out.resize(static_cast<size_t>(out_length));
  return out;
}

TEST(LossyUtf8RandomTest, AgreesWithIcu) {
  // Bytes chosen around every boundary of the lead and continuation ranges.
  const unsigned char alphabet[] = {'a',  0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                    0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED,
                                    0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
  std::mt19937 random(20240611);
  std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 1);
  std::uniform_int_distribution<size_t> length(0, 24);
  for (int round = 0; round < 20000; ++round) {
    std::string bytes(length(random), '\0');
    for (char& c : bytes) c = static_cast<char>(alphabet[pick(random)]);
    ASSERT_EQ(LossyUtf8(std::string_view(bytes)), IcuLossy(bytes))
        << ::testing::PrintToString(bytes);
  }
}

#undef R

}  // namespace
}  // namespace tarvix
