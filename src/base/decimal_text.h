// Doubles to and from decimal text without std::to_chars/std::from_chars
// for floating point: Apple's libc++ lacks the parser and offers the
// formatter only from macOS 13.3, below the daemon's minimum of macOS 12.
#ifndef TARVIX_BASE_DECIMAL_TEXT_H_
#define TARVIX_BASE_DECIMAL_TEXT_H_

#include <optional>
#include <string>
#include <string_view>

namespace tarvix {

// The shortest text that reads back as `number` (finite), in fixed or
// scientific notation, whichever is shorter, fixed on a tie: 0.5, 100,
// 1e+20, -1.5e-07. The same text std::to_chars(first, last, number) gives.
std::string ShortestDecimal(double number);

// `text` as a finite double when the whole of it is a decimal number:
// an optional '-', digits with at most one '.', an optional exponent
// ("1", "-0.5", ".5", "2.", "1e3"). No sign '+', no spaces, no hex, no
// inf or nan, nothing out of range.
std::optional<double> ParseFiniteDecimal(std::string_view text);

}  // namespace tarvix

#endif  // TARVIX_BASE_DECIMAL_TEXT_H_
