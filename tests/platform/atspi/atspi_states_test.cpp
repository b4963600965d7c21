#include "platform/atspi/atspi_states.h"

#include <numeric>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

constexpr uint64_t Bit(uint32_t state) { return uint64_t{1} << state; }

constexpr uint64_t kShowing = Bit(kStateShowing);
constexpr uint64_t kVisible = Bit(kStateVisible);
constexpr uint64_t kActive = Bit(kStateActive);
constexpr ToolkitQuirks kGtk3 = {};
constexpr ToolkitQuirks kGtk4 = {.window_relative_extents = true, .showing_only_on_windows = true};

TEST(AtspiStatesTest, OnScreenChildrenUpToTheLimit) {
  using States = std::vector<std::optional<uint64_t>>;
  struct Case {
    const char* name;
    States states;  // of children 0, 1, 2, ...
    size_t limit;
    ToolkitQuirks quirks;
    std::vector<int> kept;
  } cases[] = {
      {"all showing", {kShowing, kShowing, kShowing}, 10, kGtk3, {0, 1, 2}},
      {"closed menu items between", {kShowing, kVisible, 0, kShowing}, 10, kGtk3, {0, 3}},
      {"unreadable states are kept", {std::nullopt, 0, kShowing}, 10, kGtk3, {0, 2}},
      {"limit counts what is kept", {0, kShowing, 0, kShowing, kShowing}, 2, kGtk3, {1, 3}},
      {"limit 0", {kShowing}, 0, kGtk3, {}},
      {"GTK 4: visible counts", {kVisible, 0, kShowing | kVisible}, 10, kGtk4, {0, 2}},
      {"GTK 4: hidden is left out", {0, kVisible, 0}, 10, kGtk4, {1}},
  };
  for (const Case& c : cases) {
    std::vector<int> children(c.states.size());
    std::iota(children.begin(), children.end(), 0);
    const std::vector<int> kept =
        OnScreenChildren<int>(std::span<const int>(children), c.states, c.limit, c.quirks);
    EXPECT_EQ(kept, c.kept) << c.name;
  }
}

TEST(AtspiStatesTest, EnabledWindowChoiceAndToolkits) {
  EXPECT_TRUE(IsEnabled(Bit(kStateEnabled)));
  EXPECT_TRUE(IsEnabled(Bit(kStateSensitive)));  // GTK 4's controls
  EXPECT_FALSE(IsEnabled(kShowing | kVisible));

  struct WindowCase {
    std::vector<std::optional<uint64_t>> states;
    std::optional<size_t> chosen;
  } windows[] = {
      {{kShowing, kShowing | kActive}, 1},  // the active one, wherever it is
      {{std::nullopt, 0, kShowing}, 2},
      {{kShowing, kShowing}, 0},
      {{0, std::nullopt}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const WindowCase& c : windows) {
    EXPECT_EQ(ChooseWindow(c.states), c.chosen) << c.states.size();
  }

  struct ToolkitCase {
    const char* name;
    const char* version;
    bool gtk4;
  } toolkits[] = {
      {"GTK", "4.8.3", true},  {"gtk", "4.12.0", true},  {"gtk", "3.24.38", false},
      {"GTK", "40.1", false},  {"GTK", "4", true},       {"Qt", "4.8.7", false},
      {"", "", false},         {"GTK", "", false},
  };
  for (const ToolkitCase& c : toolkits) {
    const ToolkitQuirks quirks = QuirksOf(c.name, c.version);
    EXPECT_EQ(quirks.window_relative_extents, c.gtk4) << c.name << " " << c.version;
    EXPECT_EQ(quirks.showing_only_on_windows, c.gtk4) << c.name << " " << c.version;
  }
}

}  // namespace
}  // namespace tarvix
