#include "tools/desktop/key_names.h"

#include <string>

#include "base/lower_case.h"
#include "base/utf8.h"

namespace tarvix {
namespace {

struct KeyName {
  std::string_view name;
  NamedKey key;
};

constexpr KeyName kKeyNames[] = {
    {"return", NamedKey::kReturn},     {"enter", NamedKey::kReturn},
    {"tab", NamedKey::kTab},           {"escape", NamedKey::kEscape},
    {"esc", NamedKey::kEscape},        {"backspace", NamedKey::kBackspace},
    {"delete", NamedKey::kForwardDelete}, {"del", NamedKey::kForwardDelete},
    {"space", NamedKey::kSpace},       {"up", NamedKey::kUp},
    {"down", NamedKey::kDown},         {"left", NamedKey::kLeft},
    {"right", NamedKey::kRight},       {"home", NamedKey::kHome},
    {"end", NamedKey::kEnd},           {"pageup", NamedKey::kPageUp},
    {"page_up", NamedKey::kPageUp},    {"pagedown", NamedKey::kPageDown},
    {"page_down", NamedKey::kPageDown}, {"shift", NamedKey::kShift},
    {"control", NamedKey::kControl},   {"ctrl", NamedKey::kControl},
    {"alt", NamedKey::kAlt},           {"meta", NamedKey::kMeta},
    {"super", NamedKey::kMeta},        {"win", NamedKey::kMeta},
    {"cmd", NamedKey::kMeta},          {"command", NamedKey::kMeta},
    {"capslock", NamedKey::kCapsLock}, {"caps_lock", NamedKey::kCapsLock},
    {"f1", NamedKey::kF1},             {"f2", NamedKey::kF2},
    {"f3", NamedKey::kF3},             {"f4", NamedKey::kF4},
    {"f5", NamedKey::kF5},             {"f6", NamedKey::kF6},
    {"f7", NamedKey::kF7},             {"f8", NamedKey::kF8},
    {"f9", NamedKey::kF9},             {"f10", NamedKey::kF10},
    {"f11", NamedKey::kF11},           {"f12", NamedKey::kF12},
};

}  // namespace

std::optional<Key> ResolveKeyName(std::string_view name) {
  const std::string lowered = LowerCaseFull(name);
  for (const KeyName& entry : kKeyNames) {
    if (entry.name == lowered) return Key{false, entry.key, 0};
  }
  size_t len = 0;
  if (!name.empty()) {
    const char32_t c = DecodeScalarAt(name, 0, &len);
    if (len == name.size()) return Key{true, NamedKey::kReturn, c};
  }
  return std::nullopt;
}

}  // namespace tarvix
