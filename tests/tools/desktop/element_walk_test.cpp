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

// Bounds reported relative to the window (GTK 4) are moved by where the
// window lies on screen: the frame of the application's window with the
// tree's title (else its frontmost), less what a window manager draws
// around it.
TEST(UiTreeTest, WindowRelativeBoundsMoveToTheWindowsFrame) {
  struct Frame {
    int64_t pid;
    const char* title;
    double x, y, w, h;
    bool window_relative_elements = false;  // the window server says so
  };
  struct Case {
    const char* name;
    bool relative;  // the platform says so
    const char* window_title;
    std::optional<ElementBounds> own;  // the window's own bounds
    std::vector<Frame> frames;         // front to back; the first is the front window
    int64_t x, y;                      // where the child at (16,384) ends up
    std::optional<ElementBounds> title_bar = std::nullopt;  // another child, drawn by the window
  } cases[] = {
      {"GTK 4, undecorated frame with a margin", true, "Calc", ElementBounds{0, 0, 355, 486},
       {{42, "Calc", 700, 250, 365, 496}}, 721, 639},
      {"GTK 4, title bar and borders", true, "Calc", ElementBounds{0, 0, 400, 300},
       {{42, "Calc", 99, 27, 402, 324}}, 116, 434},
      {"at 0,0 while the frame is elsewhere", false, "Calc", ElementBounds{0, 0, 355, 486},
       {{42, "Calc", 700, 250, 355, 486}}, 716, 634},
      {"at 0,0 with the frame there too", false, "Calc", ElementBounds{0, 0, 355, 486},
       {{42, "Calc", 0, 0, 355, 486}}, 16, 384},
      {"screen bounds stay", false, "Calc", ElementBounds{100, 50, 355, 486},
       {{42, "Calc", 100, 50, 355, 486}}, 16, 384},
      {"frame chosen by title, same pid only", true, "Dialog", std::nullopt,
       {{42, "Main", 10, 10, 800, 600}, {7, "Dialog", 1, 1, 9, 9},
        {42, "Dialog", 300, 200, 400, 300}},
       316, 584},
      {"no title matches: the frontmost", true, "Untitled", std::nullopt,
       {{42, "Main", 10, 20, 800, 600}, {42, "Other", 300, 200, 400, 300}}, 26, 404},
      // Its children (leftmost: this one; topmost: the title bar) start at
      // the frame's corner, inside the shadow the window draws around
      // itself (GTK 3 floating on sway).
      {"window larger than its frame", false, "Calc", ElementBounds{0, 0, 352, 299},
       {{42, "Calc", 1000, 500, 300, 247, true}}, 1000, 861, ElementBounds{26, 23, 300, 47}},
      {"at 0,0 with the frame there, a native Wayland window", false, "Calc",
       ElementBounds{0, 0, 355, 486}, {{42, "Calc", 0, 0, 359, 513, true}}, 18, 409},
  };
  for (const Case& c : cases) {
    std::vector<WindowRecord> records;
    for (const Frame& f : c.frames) {
      WindowRecord r;
      r.owner_name = "App", r.title = f.title, r.owner_pid = f.pid, r.layer = 0;
      r.x = f.x, r.y = f.y, r.width = f.w, r.height = f.h;
      r.window_relative_elements = f.window_relative_elements;
      records.push_back(r);
    }
    const WindowQuery windows = [&]() -> Result<std::vector<WindowRecord>> { return records; };
    const ApplicationOpener opener = [&](int32_t, std::string_view) {
      auto app = std::make_unique<FakeApplication>(FakeApplication::Fan(4));
      app->focused = FocusedWindow{0, c.window_title, c.relative};
      app->attributes[0].bounds = c.own;
      app->attributes[1].bounds = ElementBounds{16, 384, 55, 40};
      app->attributes[3].bounds = c.title_bar;
      return app;
    };
    const ToolResult tree = UiTreeFrom({windows, opener, &kLinux});
    ASSERT_TRUE(tree) << c.name;
    const Json& child = (*tree)["elements"][1]["bounds"];
    EXPECT_EQ(child, (Json{{"h", 40}, {"w", 55}, {"x", c.x}, {"y", c.y}})) << c.name;
    EXPECT_EQ((*tree)["elements"][2]["bounds"], nullptr) << c.name;
  }
}

}  // namespace
}  // namespace tarvix
