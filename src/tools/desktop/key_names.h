// Key names accepted by the "key" input action and by chords.
#ifndef TARVIX_TOOLS_DESKTOP_KEY_NAMES_H_
#define TARVIX_TOOLS_DESKTOP_KEY_NAMES_H_

#include <optional>
#include <string>
#include <string_view>

#include "platform/input_backend.h"

namespace tarvix {

// A key table name (compared after full Unicode lower-casing), else a
// single Unicode scalar value as a character key in its received case,
// else nothing. `name` is valid UTF-8.
std::optional<Key> ResolveKeyName(std::string_view name);

// As ResolveKeyName, plus the names only chords take: f13 to f24, insert,
// print_screen, menu, pause, num_lock, scroll_lock, the keypad's kp_*
// keys, and the aliases pgup, pgdn and option.
std::optional<Key> ResolveChordKeyName(std::string_view name);

// How a chord reports a resolved key: the named key's own name (ctrl for
// "control", meta for "win", escape for "esc"...), a character as itself.
std::string ReportedKeyName(const Key& key);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_KEY_NAMES_H_
