#include "tools/desktop/key_names.h"

#include <cstdint>
#include <iterator>
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

// Chords only; the "key" action keeps refusing these.
constexpr KeyName kChordKeyNames[] = {
    {"pgup", NamedKey::kPageUp},       {"pgdn", NamedKey::kPageDown},
    {"option", NamedKey::kAlt},        {"f13", NamedKey::kF13},
    {"f14", NamedKey::kF14},           {"f15", NamedKey::kF15},
    {"f16", NamedKey::kF16},           {"f17", NamedKey::kF17},
    {"f18", NamedKey::kF18},           {"f19", NamedKey::kF19},
    {"f20", NamedKey::kF20},           {"f21", NamedKey::kF21},
    {"f22", NamedKey::kF22},           {"f23", NamedKey::kF23},
    {"f24", NamedKey::kF24},           {"insert", NamedKey::kInsert},
    {"print_screen", NamedKey::kPrintScreen}, {"menu", NamedKey::kMenu},
    {"pause", NamedKey::kPause},       {"num_lock", NamedKey::kNumLock},
    {"scroll_lock", NamedKey::kScrollLock}, {"kp_0", NamedKey::kKeypad0},
    {"kp_1", NamedKey::kKeypad1},      {"kp_2", NamedKey::kKeypad2},
    {"kp_3", NamedKey::kKeypad3},      {"kp_4", NamedKey::kKeypad4},
    {"kp_5", NamedKey::kKeypad5},      {"kp_6", NamedKey::kKeypad6},
    {"kp_7", NamedKey::kKeypad7},      {"kp_8", NamedKey::kKeypad8},
    {"kp_9", NamedKey::kKeypad9},      {"kp_enter", NamedKey::kKeypadEnter},
    {"kp_plus", NamedKey::kKeypadPlus}, {"kp_minus", NamedKey::kKeypadMinus},
    {"kp_multiply", NamedKey::kKeypadMultiply}, {"kp_divide", NamedKey::kKeypadDivide},
    {"kp_decimal", NamedKey::kKeypadDecimal},
};

// Indexed by NamedKey.
constexpr std::string_view kReportedNames[] = {
    "return", "tab", "escape", "backspace", "delete", "space", "up", "down", "left", "right",
    "home", "end", "page_up", "page_down", "shift", "ctrl", "alt", "meta", "caps_lock",
    "f1", "f2", "f3", "f4", "f5", "f6", "f7", "f8", "f9", "f10", "f11", "f12",
    "f13", "f14", "f15", "f16", "f17", "f18", "f19", "f20", "f21", "f22", "f23", "f24",
    "insert", "print_screen", "menu", "pause", "num_lock", "scroll_lock",
    "kp_0", "kp_1", "kp_2", "kp_3", "kp_4", "kp_5", "kp_6", "kp_7", "kp_8", "kp_9",
    "kp_enter", "kp_plus", "kp_minus", "kp_multiply", "kp_divide", "kp_decimal",
};
static_assert(std::size(kReportedNames) == kNamedKeyCount);

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

std::optional<Key> ResolveChordKeyName(std::string_view name) {
  const std::string lowered = LowerCaseFull(name);
  for (const KeyName& entry : kChordKeyNames) {
    if (entry.name == lowered) return Key{false, entry.key, 0};
  }
  return ResolveKeyName(name);
}

std::string ReportedKeyName(const Key& key) {
  if (!key.is_character) return std::string(kReportedNames[static_cast<size_t>(key.named)]);
  const auto c = static_cast<uint32_t>(key.character);
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

}  // namespace tarvix
