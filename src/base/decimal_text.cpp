#include "base/decimal_text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarvix {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The digits after position `i`; returns the position after them.
size_t SkipDigits(std::string_view text, size_t i) {
  while (i < text.size() && IsDigit(text[i])) ++i;
  return i;
}

}  // namespace

std::string ShortestDecimal(double number) {
  // The fewest significant digits that read back as the same double
  // (the C library rounds correctly both ways; at most 17 are needed).
  char scientific[32];
  int length = 0;
  for (int digits = 1; digits <= 17; ++digits) {
    length = std::snprintf(scientific, sizeof scientific, "%.*e", digits - 1, number);
    if (std::strtod(scientific, nullptr) == number) break;
  }
  const std::string_view text(scientific, static_cast<size_t>(length));
  const bool negative = text.front() == '-';
  const size_t e = text.find('e');
  std::string mantissa;  // the significant digits
  for (size_t i = negative ? 1 : 0; i < e; ++i) {
    if (text[i] != '.') mantissa += text[i];
  }
  const int exponent = std::atoi(scientific + e + 1);

  std::string fixed = negative ? "-" : "";
  const int count = static_cast<int>(mantissa.size());
  if (exponent >= count - 1) {
    // A whole number: its exact digits, as printf's %.0f writes them.
    char whole[400];
    const int written = std::snprintf(whole, sizeof whole, "%.0f", number);
    fixed.assign(whole, static_cast<size_t>(written));
  } else if (exponent >= 0) {
    fixed += mantissa.substr(0, static_cast<size_t>(exponent + 1));
    fixed += '.';
    fixed += mantissa.substr(static_cast<size_t>(exponent + 1));
  } else {
    fixed += "0.";
    fixed.append(static_cast<size_t>(-exponent - 1), '0');
    fixed += mantissa;
  }
  return fixed.size() <= text.size() ? fixed : std::string(text);
}

std::optional<double> ParseFiniteDecimal(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && text[i] == '-') ++i;
  const size_t whole = i;
  i = SkipDigits(text, i);
  bool any_digit = i > whole;
  if (i < text.size() && text[i] == '.') {
    const size_t fraction = ++i;
    i = SkipDigits(text, i);
    any_digit = any_digit || i > fraction;
  }
  if (!any_digit) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    const size_t digits = j;
    j = SkipDigits(text, j);
    if (j == digits) return std::nullopt;
    i = j;
  }
  if (i != text.size()) return std::nullopt;

  // The daemon never changes the C locale, so strtod's decimal point is '.'.
  const std::string terminated(text);
  errno = 0;
  const double number = std::strtod(terminated.c_str(), nullptr);
  // Out of range: too large, or too small to be anything but zero (a
  // subnormal result is a number).
  if (!std::isfinite(number) || (errno == ERANGE && number == 0)) return std::nullopt;
  return number;
}

}  // namespace tarvix
