#include "platform/atspi/atspi_states.h"

#include <iterator>

namespace tarvix {
namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

constexpr std::string_view kStateNames[] = {
    "invalid", "active", "armed", "busy", "checked", "collapsed", "defunct", "editable",
    "enabled", "expandable", "expanded", "focusable", "focused", "has_tooltip", "horizontal",
    "iconified", "modal", "multi_line", "multiselectable", "opaque", "pressed", "resizable",
    "selectable", "selected", "sensitive", "showing", "single_line", "stale", "transient",
    "vertical", "visible", "manages_descendants", "indeterminate", "required", "truncated",
    "animated", "invalid_entry", "supports_autocompletion", "selectable_text", "is_default",
    "visited", "checkable", "has_popup", "read_only"};

}  // namespace

std::vector<std::string> AtspiStateNames(uint64_t states) {
  std::vector<std::string> names;
  for (uint32_t state = 1; state < std::size(kStateNames); ++state) {
    if (state == kStateEnabled || state == kStateSensitive || !HasState(states, state)) continue;
    names.emplace_back(kStateNames[state]);
  }
  return names;
}

std::optional<size_t> ChooseWindow(std::span<const std::optional<uint64_t>> top_level_states) {
  for (const uint32_t state : {kStateActive, kStateShowing}) {
    for (size_t i = 0; i < top_level_states.size(); ++i) {
      if (top_level_states[i] && HasState(*top_level_states[i], state)) return i;
    }
  }
  return std::nullopt;
}

ToolkitQuirks QuirksOf(std::string_view toolkit_name, std::string_view version) {
  const bool gtk4 =
      EqualsIgnoringAsciiCase(toolkit_name, "gtk") && version.substr(0, version.find('.')) == "4";
  return {.window_relative_extents = gtk4, .showing_only_on_windows = gtk4};
}

}  // namespace tarvix
