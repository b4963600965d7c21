#include "tools/desktop/element_walk.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "fakes/fake_accessibility.h"
#include "tools/desktop/ui_tree.h"

namespace tarvix {
namespace {

using testing::FakeApplication;

constexpr std::string_view kLinuxPress[] = {"click", "press", "jump", "toggle"};
constexpr std::string_view kMacPress[] = {"AXPress"};
const AccessibilityPlatform kLinux{.source = "linux", .note = "tree", .fallback_note = "fallback",
                                   .press_actions = kLinuxPress,
                                   .press_actions_ignore_ascii_case = true};
const AccessibilityPlatform kMac{.source = "mac", .note = "tree", .fallback_note = "fallback",
                                 .press_actions = kMacPress};

std::vector<uint32_t> Depths(const Json& tree) {
  std::vector<uint32_t> depths;
  for (const Json& e : tree["elements"]) depths.push_back(e["depth"].get<uint32_t>());
  return depths;
}

TEST(ElementWalkTest, CapsCountAndDepth) {
  struct Case {
    const char* name;
    FakeApplication app;
    size_t count;
    bool truncated;
    ElementId last_parent;  // the last element whose children are read
  } cases[] = {
      {"fan of 219", FakeApplication::Fan(219), 219, false, 218},
      {"fan of 220", FakeApplication::Fan(220), 220, true, 218},
      {"fan of 221", FakeApplication::Fan(221), 220, true, 218},
      {"chain to depth 22", FakeApplication::Chain(23), 23, false, 21},
      {"chain to depth 23", FakeApplication::Chain(24), 23, false, 21},
      {"chain of 300", FakeApplication::Chain(300), 23, false, 21},
  };
  for (Case& c : cases) {
    const std::optional<Json> tree = WalkElementTree(c.app, kLinux);
    ASSERT_TRUE(tree) << c.name;
    EXPECT_EQ((*tree)["count"], c.count) << c.name;
    EXPECT_EQ((*tree)["elements"].size(), c.count) << c.name;
    EXPECT_EQ((*tree)["truncated"], c.truncated) << c.name;
    // Nothing beyond the caps is read: attributes only of recorded
    // elements, children never of an element at depth 22 or of the 220th.
    EXPECT_EQ(c.app.attributes_asked.size(), c.count) << c.name;
    EXPECT_EQ(*std::max_element(c.app.children_asked.begin(), c.app.children_asked.end()),
              c.last_parent)
        << c.name;
  }
}

// A tree where later siblings follow whole subtrees: the records are in
// pre-order with each child one level below its parent, as a recursive
// walk gives, and the cap cuts the walk at its 220th record even when the
// subtrees are fetched a level at a time.
TEST(ElementWalkTest, PreOrderAcrossLevelsAndCut) {
  FakeApplication app;
  app.children = {{0, {1, 5}}, {1, {2, 4}}, {2, {3}}, {5, {6}}};
  const std::optional<Json> tree = WalkElementTree(app, kLinux);
  ASSERT_TRUE(tree);
  EXPECT_EQ(Depths(*tree), (std::vector<uint32_t>{0, 1, 2, 3, 2, 1, 2}));
  EXPECT_EQ(app.attributes_asked, (std::vector<ElementId>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(app.children_rounds, 4u);

  // 0 has children 1 and 1000; 1 has 300 children: 1000 is never recorded.
  FakeApplication wide;
  wide.children[0] = {1, 1000};
  for (ElementId i = 2; i < 302; ++i) wide.children[1].push_back(i);
  const std::optional<Json> cut = WalkElementTree(wide, kLinux);
  ASSERT_TRUE(cut);
  EXPECT_EQ((*cut)["count"], 220);
  EXPECT_EQ(wide.attributes_asked.back(), 219u);
  EXPECT_EQ(std::count(wide.attributes_asked.begin(), wide.attributes_asked.end(), 1000u), 0);
}

TEST(ElementWalkTest, CyclesAndRepeatsAreSkipped) {
  FakeApplication app;
  // 1 lists its grandparent and itself; 2 lists 1 again.
  app.children = {{0, {1, 2}}, {1, {0, 1, 3}}, {2, {1, 4}}};
  const std::optional<Json> tree = WalkElementTree(app, kLinux);
  ASSERT_TRUE(tree);
  EXPECT_EQ(app.attributes_asked, (std::vector<ElementId>{0, 1, 3, 2, 4}));
  EXPECT_EQ(Depths(*tree), (std::vector<uint32_t>{0, 1, 2, 1, 2}));
}

TEST(ElementWalkTest, RecordsTakeDefaultsAndTruncatedBounds) {
  const double nan = std::nan("");
  const double huge = 1e300;
  FakeApplication app = FakeApplication::Fan(4);
  app.attributes[0] = {.role = "AXWindow", .name = "Main", .value = "v",
                       .bounds = ElementBounds{100.9, 50.2, 300.5, 20.99}, .enabled = false,
                       .actions = std::vector<std::string>{"click"}};
  app.attributes[1] = {};  // every read failed
  app.attributes[2] = {.bounds = ElementBounds{-3.9, nan, huge, -huge}, .enabled = true};
  app.attributes[3] = {.value = "", .enabled = std::nullopt,
                       .actions = std::vector<std::string>{"activate", "Click"}};
  const std::optional<Json> tree = WalkElementTree(app, kLinux);
  ASSERT_TRUE(tree);
  const int64_t max = std::numeric_limits<int64_t>::max();
  const int64_t min = std::numeric_limits<int64_t>::min();
  EXPECT_EQ(*tree,
            (Json{{"count", 4},
                  {"elements",
                   {Json{{"bounds", {{"h", 20}, {"w", 300}, {"x", 100}, {"y", 50}}},
                         {"clickable", false}, {"depth", 0}, {"enabled", false}, {"name", "Main"},
                         {"role", "AXWindow"}, {"value", "v"}},
                    Json{{"bounds", nullptr}, {"clickable", false}, {"depth", 1},
                         {"enabled", true}, {"name", ""}, {"role", ""}, {"value", nullptr}},
                    Json{{"bounds", {{"h", min}, {"w", max}, {"x", -3}, {"y", 0}}},
                         {"clickable", false}, {"depth", 1}, {"enabled", true}, {"name", ""},
                         {"role", ""}, {"value", nullptr}},
                    Json{{"bounds", nullptr}, {"clickable", true}, {"depth", 1},
                         {"enabled", true}, {"name", ""}, {"role", ""}, {"value", ""}}}},
                  {"note", "tree"},
                  {"source", "linux"},
                  {"truncated", false},
                  {"window", "Window"}}));
}

TEST(ElementWalkTest, PressActionsPerPlatform) {
  struct Case {
    std::vector<std::string> actions;
    bool linux_press;
    bool mac_press;
  } cases[] = {
      {{"click"}, true, false},     {{"PRESS"}, true, false},   {{"Jump"}, true, false},
      {{"toggle"}, true, false},    {{"activate"}, false, false}, {{"clicks"}, false, false},
      {{"pres"}, false, false},     {{""}, false, false},      {{}, false, false},
      {{"AXPress"}, false, true},   {{"axpress"}, false, false}, {{"AXPressed"}, false, false},
      {{"AXShowMenu", "AXPress"}, false, true}, {{"expand", "press"}, true, false},
  };
  for (const Case& c : cases) {
    const std::string names = Json(c.actions).dump();
    EXPECT_EQ(HasPressAction(c.actions, kLinux), c.linux_press) << names;
    EXPECT_EQ(HasPressAction(c.actions, kMac), c.mac_press) << names;
  }
}

TEST(UiTreeTest, TreeOfTheFrontApplicationElseWindowFallback) {
  WindowRecord dock, term;
  dock.owner_name = "Dock", dock.owner_pid = 1, dock.layer = 20;
  term.owner_name = "Term", term.title = "t", term.owner_pid = 42, term.layer = 0;
  const WindowQuery windows = [&]() -> Result<std::vector<WindowRecord>> {
    return std::vector<WindowRecord>{dock, term};
  };
  std::vector<std::pair<int32_t, std::string>> opened;
  auto opener = [&](bool has_window) -> ApplicationOpener {
    return [&, has_window](int32_t pid, std::string_view title) {
      opened.emplace_back(pid, title);
      auto app = std::make_unique<FakeApplication>();
      if (!has_window) app->focused.reset();
      return app;
    };
  };
  const ToolResult tree = UiTreeFrom({windows, opener(true), &kLinux});
  ASSERT_TRUE(tree);
  EXPECT_EQ((*tree)["count"], 1);
  EXPECT_EQ(opened, (std::vector<std::pair<int32_t, std::string>>{{42, "t"}}));

  const Json fallback = {
      {"note", "fallback"},
      {"windows", Json::array({Json{{"app", "Dock"}, {"h", 0}, {"title", ""}, {"w", 0}, {"x", 0},
                                    {"y", 0}},
                               Json{{"app", "Term"}, {"h", 0}, {"title", "t"}, {"w", 0}, {"x", 0},
                                    {"y", 0}}})}};
  EXPECT_EQ(*UiTreeFrom({windows, opener(false), &kLinux}), fallback);
  const ApplicationOpener none = [](int32_t, std::string_view) { return nullptr; };
  EXPECT_EQ(*UiTreeFrom({windows, none, &kLinux}), fallback);
  const WindowQuery unreachable = []() -> Result<std::vector<WindowRecord>> {
    return Error("window list unavailable - no server");
  };
  EXPECT_EQ(UiTreeFrom({unreachable, opener(true), &kLinux}).error(),
            "window list unavailable - no server");
}

}  // namespace
}  // namespace tarvix
