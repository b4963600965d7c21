// Readers for tool parameters: members of the params object.
//
// A member that is missing or of another JSON type than asked for counts as
// absent; a params value that is not an object has no members at all.
#ifndef TARVIX_JSON_PARAMS_H_
#define TARVIX_JSON_PARAMS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/json.h"

namespace tarvix {

// The member `key` of `params` whatever its type, or null when absent.
const Json* FindParam(const Json& params, std::string_view key);

// A string member; the pointer lives as long as `params`.
const std::string* StringParam(const Json& params, std::string_view key);

// A JSON integer from 0 to 2^64 - 1. Negative numbers, fractions and
// exponent forms (which parse as floating point) count as absent.
std::optional<uint64_t> UnsignedParam(const Json& params, std::string_view key);

// A JSON integer that fits a signed 64-bit value.
std::optional<int64_t> SignedParam(const Json& params, std::string_view key);

// The "missing param: <name>" message.
std::string MissingParam(std::string_view name);

}  // namespace tarvix

#endif  // TARVIX_JSON_PARAMS_H_
