#include "base/decimal_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

// The host's std::to_chars and std::from_chars (libstdc++) are the oracle
// for the portable versions the macOS build uses.
TEST(DecimalText, ShortestMatchesToChars) {
  const double cases[] = {0.5, 100, 1e20, 1e21, 1e22, 1e23, -1.5e-7, 0.1, 0.3, 1.0 / 3, 2.0 / 3,
                          123456789, 1234567890123456789.0, 0.001, 0.0001, 1e-5, 12.5, -42,
                          5e-324, std::numeric_limits<double>::max(),
                          std::numeric_limits<double>::min(), 9007199254740993.0, 1e15, 1e16,
                          1e17, 123.456, 0.000123, 1e-300, 65535, 0.25, 1.7976931348623157e308,
                          0.0, -0.0};
  for (const double number : cases) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    EXPECT_EQ(ShortestDecimal(number), std::string(buffer, result.ptr)) << number;
  }
}

TEST(DecimalText, ParseMatchesFromChars) {
  const char* cases[] = {"1", "-0.5", ".5", "2.", "1e3", "1E-3", "1e+3", "-", ".", "", "+1",
                         " 1", "1 ", "1e", "1e+", "0x10", "inf", "-inf", "nan", "infinity",
                         "1e999", "-1e999", "1e-400", "00012", "1.2.3", "1..2", "e5", "-.5e2",
                         "123456789012345678901234567890", "4.9e-324", "1,5", "12a"};
  for (const std::string text : cases) {
    double oracle = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), oracle);
    const bool whole = error == std::errc() && stop == text.data() + text.size() &&
                       std::isfinite(oracle);
    const std::optional<double> parsed = ParseFiniteDecimal(text);
    ASSERT_EQ(parsed.has_value(), whole) << text;
    if (whole) {
      EXPECT_EQ(*parsed, oracle) << text;
    }
  }
}

}  // namespace
}  // namespace tarvix
