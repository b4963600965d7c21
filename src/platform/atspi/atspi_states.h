// The rules "ui_tree" draws from AT-SPI states and toolkit facts: which
// elements are on screen, which are enabled, which top-level element is the
// focused window, and which toolkits report window-relative extents.
// Pure functions; the state set is the "au" of GetState as one 64-bit mask
// (bit n is AtspiStateType n).
#ifndef TARVIX_PLATFORM_ATSPI_ATSPI_STATES_H_
#define TARVIX_PLATFORM_ATSPI_ATSPI_STATES_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

// AtspiStateType numbers.
inline constexpr uint32_t kStateActive = 1;
inline constexpr uint32_t kStateChecked = 4;
inline constexpr uint32_t kStateDefunct = 6;
inline constexpr uint32_t kStateEditable = 7;
inline constexpr uint32_t kStateEnabled = 8;
inline constexpr uint32_t kStateFocused = 12;
inline constexpr uint32_t kStateMultiLine = 17;
inline constexpr uint32_t kStateSensitive = 24;
inline constexpr uint32_t kStateShowing = 25;
inline constexpr uint32_t kStateVisible = 30;

constexpr bool HasState(uint64_t states, uint32_t state) { return (states >> state & 1) != 0; }

// GTK 4 sets SENSITIVE but never ENABLED on its controls; either counts.
constexpr bool IsEnabled(uint64_t states) {
  return HasState(states, kStateEnabled) || HasState(states, kStateSensitive);
}

// The names of the states in `states` in AtspiStateType order, as AT-SPI
// spells them with "_" for " " ("multi_line"), leaving out "invalid" and
// the enabled states ("enabled", "sensitive"), which the replies carry as
// a flag of their own.
std::vector<std::string> AtspiStateNames(uint64_t states);

// What a toolkit does differently from what AT-SPI asks.
struct ToolkitQuirks {
  // Extents come relative to the element's window even when screen
  // coordinates are asked for.
  bool window_relative_extents = false;
  // Only windows carry SHOWING; elements inside them say VISIBLE.
  bool showing_only_on_windows = false;
};

// GTK 4 ("GTK", version "4.x") has both quirks.
ToolkitQuirks QuirksOf(std::string_view toolkit_name, std::string_view version);

// Whether an element inside a window is on screen.
constexpr bool IsOnScreen(uint64_t states, const ToolkitQuirks& quirks) {
  return HasState(states, kStateShowing) ||
         (quirks.showing_only_on_windows && HasState(states, kStateVisible));
}

// The first `limit` of `children` (in order) that are on screen. A child
// whose states could not be read (nullopt) is kept: only a known off-screen
// state removes it (with its subtree, since the walk never sees it).
// `states` has one entry per child.
template <typename Id>
std::vector<Id> OnScreenChildren(std::span<const Id> children,
                                 std::span<const std::optional<uint64_t>> states, size_t limit,
                                 const ToolkitQuirks& quirks) {
  std::vector<Id> shown;
  for (size_t i = 0; i < children.size() && shown.size() < limit; ++i) {
    if (i < states.size() && states[i] && !IsOnScreen(*states[i], quirks)) continue;
    shown.push_back(children[i]);
  }
  return shown;
}

// The index of the application's focused window among its top-level
// children, whatever their roles (a file chooser or an alert is as much a
// window as a frame): the first ACTIVE one, else the first SHOWING one;
// nullopt when none is either.
std::optional<size_t> ChooseWindow(std::span<const std::optional<uint64_t>> top_level_states);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_ATSPI_ATSPI_STATES_H_
