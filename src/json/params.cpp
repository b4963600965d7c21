#include "json/params.h"

#include <limits>

namespace tarvix {

const Json* FindParam(const Json& params, std::string_view key) {
  if (!params.is_object()) return nullptr;
  const auto it = params.find(key);
  return it == params.end() ? nullptr : &*it;
}

const std::string* StringParam(const Json& params, std::string_view key) {
  const Json* member = FindParam(params, key);
  if (member == nullptr || !member->is_string()) return nullptr;
  return member->get_ptr<const std::string*>();
}

std::optional<uint64_t> UnsignedParam(const Json& params, std::string_view key) {
  const Json* member = FindParam(params, key);
  if (member == nullptr) return std::nullopt;
  if (member->is_number_unsigned()) return member->get<uint64_t>();
  if (member->is_number_integer()) {  // signed storage, built in code
    const auto v = member->get<int64_t>();
    if (v >= 0) return static_cast<uint64_t>(v);
  }
  return std::nullopt;
}

std::optional<int64_t> SignedParam(const Json& params, std::string_view key) {
  const Json* member = FindParam(params, key);
  if (member == nullptr) return std::nullopt;
  if (member->is_number_unsigned()) {
    const auto v = member->get<uint64_t>();
    if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
    return static_cast<int64_t>(v);
  }
  if (member->is_number_integer()) return member->get<int64_t>();
  return std::nullopt;
}

std::string MissingParam(std::string_view name) {
  std::string out = "missing param: ";
  out += name;
  return out;
}

}  // namespace tarvix
