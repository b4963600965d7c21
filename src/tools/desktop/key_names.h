// Key names accepted by the "key" input action.
#ifndef TARVIX_TOOLS_DESKTOP_KEY_NAMES_H_
#define TARVIX_TOOLS_DESKTOP_KEY_NAMES_H_

#include <optional>
#include <string_view>

#include "platform/input_backend.h"

namespace tarvix {

// A key table name (compared after full Unicode lower-casing), else a
// single Unicode scalar value as a character key in its received case,
// else nothing. `name` is valid UTF-8.
std::optional<Key> ResolveKeyName(std::string_view name);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_KEY_NAMES_H_
