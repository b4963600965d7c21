// The daemon's one dynamic JSON type and its text form.
//
// nlohmann::json keeps object members in a std::map, so every object is
// written with its keys in ascending byte order however it was built.
#ifndef TARVIX_JSON_JSON_H_
#define TARVIX_JSON_JSON_H_

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/result.h"

namespace tarvix {

using Json = nlohmann::json;

// A tool's outcome: a JSON value on success, an error message otherwise.
using ToolResult = Result<Json>;

// Arrays and objects nested this deep or deeper make a body unparsable.
inline constexpr int kMaxJsonDepth = 128;
// A text with more values than this (scalars, arrays and objects, the
// outermost one included) is unparsable: it bounds the tree a body builds.
inline constexpr size_t kMaxJsonValues = 1'000'000;

// Compact text: no whitespace, keys in ascending byte order, only '"', '\\'
// and control characters escaped, non-ASCII written as UTF-8, non-finite
// numbers as null, other non-integers in the shortest round-trip form with
// a bare exponent ("1e-7", "1e100", "0.1", "1.0"). Never throws: ill-formed UTF-8 in a string (which the
// daemon never builds) would come out as U+FFFD.
std::string ToJsonText(const Json& value);
// Appends the compact text of `value` to `out`.
void AppendJsonText(const Json& value, std::string* out);

// Parses exactly one JSON value surrounded only by JSON whitespace (space,
// tab, line feed, carriage return: no byte-order mark, no NUL). Any error,
// including nesting of kMaxJsonDepth levels or more and more than
// kMaxJsonValues values, yields null.
Json ParseJsonOrNull(std::string_view text);

}  // namespace tarvix

#endif  // TARVIX_JSON_JSON_H_
