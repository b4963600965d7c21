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

// Compact text: no whitespace, keys in ascending byte order, only '"', '\\'
// and control characters escaped, non-ASCII written as UTF-8, non-finite
// numbers as null. Never throws: ill-formed UTF-8 in a string (which the
// daemon never builds) would come out as U+FFFD.
std::string ToJsonText(const Json& value);
// Appends the compact text of `value` to `out`.
void AppendJsonText(const Json& value, std::string* out);

// Parses exactly one JSON value surrounded only by JSON whitespace. Any
// error, including nesting of kMaxJsonDepth levels or more, yields null.
Json ParseJsonOrNull(std::string_view text);

}  // namespace tarvix

#endif  // TARVIX_JSON_JSON_H_
