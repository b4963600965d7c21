// The macOS accessibility adapter over in-memory AX trees: the element
// tree of "ui_tree" as the shared walk reads it (defaults, caps, cycles),
// the reads' deadlines, the detailed attributes, and acting on an element.
#include "fake_test.h"
#include "platform/accessibility.h"
#include "tools/desktop/element_walk.h"

namespace tarvix {
namespace {

using macfake::AxNode;
using macfake::Element;
using macfake::ElementList;
using macfake::Point;
using macfake::Size;
using macfake::StringList;

constexpr int kPid = 501;

class MacAccessibilityTest : public MacFakeTest {
 protected:
  // The application's focused window, with `children`; its node.
  int Window(const std::string& title, ElementList children = {}) {
    const int window = macfake::AddNode(
        kPid, {.attributes = {{"AXRole", "AXWindow"}, {"AXTitle", title},
                              {"AXChildren", std::move(children)}}});
    macfake::Application(kPid).nodes[0].attributes["AXFocusedWindow"] = Element{window};
    return window;
  }
  int Node(AxNode node) { return macfake::AddNode(kPid, std::move(node)); }
  void SetChildren(int node, ElementList children) {
    macfake::Application(kPid).nodes[static_cast<size_t>(node)].attributes["AXChildren"] =
        std::move(children);
  }
  std::optional<Json> Tree() {
    std::unique_ptr<AccessibleApplication> app = OpenAccessibleApplication(kPid, "");
    if (app == nullptr) return std::nullopt;
    return WalkElementTree(*app, ThisAccessibilityPlatform());
  }
};

TEST_F(MacAccessibilityTest, TreeReadsEachAttributeWithItsType) {
  const int ok = Node({.attributes = {{"AXRole", "AXButton"}, {"AXTitle", "OK"},
                                      {"AXPosition", Point{10.5, 20}}, {"AXSize", Size{80, 24.9}},
                                      {"AXEnabled", true}},
                       .actions = {"AXShowMenu", "AXPress"}});
  const int off = Node({.attributes = {{"AXRole", "AXCheckBox"}, {"AXEnabled", false},
                                       {"AXValue", int64_t{1}}},
                        .actions = {"AXPress"}});
  const int slider = Node({.attributes = {{"AXRole", "AXSlider"}, {"AXValue", 0.25},
                                          {"AXPosition", Point{1, 2}}},
                           .actions = {"AXIncrement"}});
  // Mistyped attributes take the defaults: a number for a role or title,
  // sizes swapped with positions, a boolean value; an "AXEnabled" that
  // reads but is not the true object is disabled.
  const int odd = Node({.attributes = {{"AXRole", int64_t{7}}, {"AXTitle", true},
                                       {"AXValue", true}, {"AXPosition", Size{1, 2}},
                                       {"AXSize", Point{3, 4}}, {"AXEnabled", "yes"}}});
  const int field = Node({.attributes = {{"AXRole", "AXTextField"},
                                         {"AXValue", "caf\xC3\xA9"}}});
  const int window = Window("Doc", {Element{ok}, Element{off}, Element{slider}});
  // The window listed again below its own child is a cycle: skipped with
  // its subtree; an element listed twice is recorded once.
  SetChildren(slider, {Element{odd}, Element{window}, Element{odd}, Element{field}});
  // A child that is no element is passed over.
  macfake::Application(kPid).nodes[static_cast<size_t>(field)].attributes["AXChildren"] =
      StringList{"not an element"};
  const std::optional<Json> tree = Tree();
  ASSERT_TRUE(tree);
  std::vector<std::string> elements;
  for (const Json& element : (*tree)["elements"]) elements.push_back(element.dump());
  EXPECT_THAT(
      elements,
      ::testing::ElementsAre(
          R"({"bounds":null,"clickable":false,"depth":0,"enabled":true,"name":"Doc","role":"AXWindow","value":null})",
          R"({"bounds":{"h":24,"w":80,"x":10,"y":20},"clickable":true,"depth":1,"enabled":true,"name":"OK","role":"AXButton","value":null})",
          R"({"bounds":null,"clickable":false,"depth":1,"enabled":false,"name":"","role":"AXCheckBox","value":"1"})",
          R"({"bounds":null,"clickable":false,"depth":1,"enabled":true,"name":"","role":"AXSlider","value":"0.25"})",
          R"({"bounds":null,"clickable":false,"depth":2,"enabled":false,"name":"","role":"","value":null})",
          "{\"bounds\":null,\"clickable\":false,\"depth\":2,\"enabled\":true,\"name\":\"\","
          "\"role\":\"AXTextField\",\"value\":\"caf\xC3\xA9\"}"));
  EXPECT_EQ((*tree)["window"], "Doc");
  EXPECT_EQ((*tree)["source"], "ax-macos");
  EXPECT_EQ((*tree)["truncated"], false);
  EXPECT_EQ(macfake::MessagingTimeout(kPid), 1.0f);
}

TEST_F(MacAccessibilityTest, TreeIsCappedInCountAndDepth) {
  ElementList row;
  for (int i = 0; i < 300; ++i) row.push_back({Node({.attributes = {{"AXRole", "AXCell"}}})});
  Window("Wide", row);
  std::optional<Json> tree = Tree();
  ASSERT_TRUE(tree);
  EXPECT_EQ((*tree)["count"], 220);
  EXPECT_EQ((*tree)["truncated"], true);

  macfake::Reset();
  int parent = Window("Deep");
  for (int depth = 1; depth <= 30; ++depth) {
    const int child = Node({.attributes = {{"AXRole", "AXGroup"}}});
    SetChildren(parent, {Element{child}});
    parent = child;
  }
  tree = Tree();
  ASSERT_TRUE(tree);
  EXPECT_EQ((*tree)["count"], 23);  // depths 0 to 22
  EXPECT_EQ((*tree)["elements"].back()["depth"], 22);
}

TEST_F(MacAccessibilityTest, FocusedWindowFallsBackToTheMainWindow) {
  const int main = Node({.attributes = {{"AXRole", "AXWindow"}, {"AXTitle", "Main"}}});
  macfake::Application(kPid).nodes[0].attributes["AXMainWindow"] = Element{main};
  std::unique_ptr<AccessibleApplication> app = OpenAccessibleApplication(kPid, "");
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(app->Focused()->title, "Main");
  // A focused "window" that is no element: no window.
  macfake::Application(kPid).nodes[0].attributes["AXMainWindow"] = "Main";
  EXPECT_EQ(app->Focused(), std::nullopt);
  EXPECT_EQ(OpenAccessibleApplication(0, ""), nullptr);
}

// Each read waits at most a second; an application that lets one time out
// is asked nothing more and is named unresponsive.
TEST_F(MacAccessibilityTest, SilentApplicationIsAskedNothingMore) {
  Window("Doc");
  macfake::Application(kPid).answer_seconds = 0.9;  // within the adapter's second
  std::unique_ptr<AccessibleApplication> app = OpenAccessibleApplication(kPid, "");
  ASSERT_TRUE(app->Focused());
  EXPECT_THAT(app->Unresponsive(), ::testing::IsEmpty());
  EXPECT_FALSE(app->OutOfTime());

  macfake::Application(kPid).answer_seconds = 2;  // past it, though within AX's default 6 s
  app = OpenAccessibleApplication(kPid, "");
  EXPECT_EQ(app->Focused(), std::nullopt);
  EXPECT_THAT(app->Unresponsive(), ::testing::ElementsAre(kPid));
  macfake::Application(kPid).answer_seconds = 0;  // answers again, but is not asked
  EXPECT_EQ(app->Focused(), std::nullopt);
  EXPECT_THAT(app->Windows(), ::testing::IsEmpty());
}

// A part of the application that stops answering (a busy web view) costs
// one second too: every element read has the timeout, not only the
// application element it came from.
TEST_F(MacAccessibilityTest, EveryElementReadWaitsAtMostASecond) {
  const int view = Node({.attributes = {{"AXRole", "AXWebArea"}}});
  const int window = Window("Doc", {Element{view}});
  macfake::Application(kPid).node_answer_seconds[view] = 5;
  std::optional<Json> tree = Tree();
  ASSERT_TRUE(tree);
  EXPECT_EQ((*tree)["count"], 2);
  EXPECT_EQ((*tree)["elements"][1]["role"], "");
  EXPECT_EQ(macfake::LongestAxWait(), 1.0);

  macfake::Application(kPid).node_answer_seconds = {{window, 5}};
  std::unique_ptr<AccessibleApplication> app = OpenAccessibleApplication(kPid, "");
  EXPECT_EQ(app->Focused()->title, "");
  EXPECT_THAT(app->Unresponsive(), ::testing::ElementsAre(kPid));
  EXPECT_EQ(macfake::LongestAxWait(), 1.0);
}

// Without a pid: every application with an ordinary on-screen window,
// front to back; a silent one does not keep the others from being read.
TEST_F(MacAccessibilityTest, DesktopReadsEveryApplicationWithAWindow) {
  auto window_of = [](int64_t pid, int64_t layer) {
    return macfake::WindowInfo{.entries = {{"kCGWindowOwnerPID", pid}, {"kCGWindowLayer", layer}}};
  };
  macfake::Windows() = {window_of(600, 0), window_of(700, 25), window_of(501, 0),
                        window_of(600, 0), window_of(800, 0)};
  const int doc = macfake::AddNode(600, {.attributes = {{"AXTitle", "Report"}, {"AXMain", true}}});
  const int mini =
      macfake::AddNode(600, {.attributes = {{"AXTitle", "Old"}, {"AXMinimized", true}}});
  macfake::Application(600).nodes[0].attributes["AXWindows"] =
      ElementList{Element{doc}, Element{mini}};
  macfake::Application(501).answer_seconds = 5;
  const int other = macfake::AddNode(800, {.attributes = {{"AXTitle", "Mail"}}});
  macfake::Application(800).nodes[0].attributes["AXWindows"] = ElementList{Element{other}};

  std::unique_ptr<AccessibleApplication> app =
      OpenAccessibleApplications(std::nullopt, std::chrono::seconds(3));
  ASSERT_NE(app, nullptr);
  std::vector<std::string> windows;
  for (const TopLevelWindow& w : app->Windows()) {
    windows.push_back(std::to_string(w.pid) + " " + w.title + (w.active ? " active" : "") +
                      (w.showing ? " showing" : ""));
  }
  EXPECT_THAT(windows, ::testing::ElementsAre("600 Report active showing", "600 Old",
                                              "800 Mail showing"));
  EXPECT_THAT(app->Unresponsive(), ::testing::ElementsAre(501));
  // An exhausted budget reads nothing.
  app = OpenAccessibleApplications(800, std::chrono::milliseconds(0));
  EXPECT_TRUE(app->OutOfTime());
  EXPECT_THAT(app->Windows(), ::testing::IsEmpty());
  macfake::Windows().clear();
  EXPECT_EQ(OpenAccessibleApplications(std::nullopt, std::chrono::seconds(3)), nullptr);
}

TEST_F(MacAccessibilityTest, DetailedAttributes) {
  struct Case {
    const char* name;
    AxNode node;
    std::string expected;  // description|states|focused secure editable answered|value
  };
  const Case cases[] = {
      {"an editable field with focus",
       {.attributes = {{"AXRole", "AXTextField"}, {"AXValue", "x"}, {"AXFocused", true},
                       {"AXDescription", "Search"}},
        .settable = {"AXValue"}},
       "Search|focusable,focused|focused editable answered|x"},
      {"a password field never shows its value",
       {.attributes = {{"AXRole", "AXSecureTextField"}, {"AXValue", "hunter2"}},
        .settable = {"AXValue"}},
       "||secure answered|-"},
      {"a checked check box is not editable",
       {.attributes = {{"AXRole", "AXCheckBox"}, {"AXValue", int64_t{1}},
                       {"AXSelected", false}},
        .settable = {"AXValue"}},
       "|checked,selectable|answered|1"},
      {"a collapsed row", {.attributes = {{"AXRole", "AXRow"}, {"AXExpanded", false}}},
       "|collapsed,expandable|answered|-"},
      {"a value that cannot be set",
       {.attributes = {{"AXRole", "AXStaticText"}, {"AXValue", "label"}, {"AXSelected", true}}},
       "|selectable,selected|answered|label"},
      {"nothing readable: not answered", {.attributes = {}}, "|||-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    macfake::Reset();
    const int node = Node(c.node);
    Window("W", {Element{node}});
    std::unique_ptr<AccessibleApplication> app = OpenAccessibleApplication(kPid, "");
    const std::vector<std::vector<ElementId>> children =
        app->Children(std::vector<ChildrenRequest>{{app->Focused()->element, 10, false}});
    ASSERT_EQ(children.at(0).size(), 1u);
    const ElementAttributes a = app->DetailedAttributes(children[0], DetailReads{}).at(0);
    std::string states;
    for (const std::string& s : a.states) states += (states.empty() ? "" : ",") + s;
    std::string flags;
    for (const auto& [set, name] : {std::pair{a.focused, "focused"}, {a.secure, "secure"},
                                    {a.editable, "editable"}, {a.answered, "answered"}}) {
      if (set) flags += (flags.empty() ? "" : " ") + std::string(name);
    }
    EXPECT_EQ(a.description + "|" + states + "|" + flags + "|" + a.value.value_or("-"), c.expected);
  }
}

TEST_F(MacAccessibilityTest, ElementControlActsOnTheElement) {
  const int field = Node({.attributes = {{"AXRole", "AXTextField"}, {"AXValue", "old"},
                                         {"AXFocused", false}},
                          .actions = {"AXConfirm", "AXScrollToVisible"},
                          .settable = {"AXValue", "AXFocused", "AXSelected"}});
  const int slider = Node({.attributes = {{"AXRole", "AXSlider"}, {"AXValue", 0.5},
                                          {"AXSelected", true}, {"AXExpanded", true}},
                           .settable = {"AXValue"}});
  // A whole number beyond a double's exact range reads as the integer
  // (CFNumberGetValue refuses the lossy Float64 conversion).
  const int stepper = Node({.attributes = {{"AXRole", "AXIncrementor"},
                                           {"AXValue", int64_t{9007199254740993}}}});
  Window("W", {Element{field}, Element{slider}, Element{stepper}});
  std::vector<ElementHandle> handles;
  {
    std::unique_ptr<AccessibleApplication> app = OpenAccessibleApplication(kPid, "");
    const std::vector<std::vector<ElementId>> children =
        app->Children(std::vector<ChildrenRequest>{{app->Focused()->element, 10, false}});
    for (const ElementId id : children.at(0)) handles.push_back(app->Handle(id));
    EXPECT_EQ(app->Handle(999).native, nullptr);
  }  // the handles outlive the application object

  std::unique_ptr<ElementControl> control = OpenElementControl(handles[0]);
  Result<ElementReading> reading = control->Read();
  ASSERT_TRUE(reading);
  EXPECT_EQ(reading->role, "AXTextField");
  EXPECT_EQ(reading->value, "old");
  EXPECT_THAT(reading->actions, ::testing::ElementsAre("AXConfirm", "AXScrollToVisible"));
  EXPECT_TRUE(reading->can_set_text && reading->can_focus && reading->can_select &&
              reading->can_scroll_to && !reading->can_set_number);
  ASSERT_TRUE(control->DoAction(0));
  EXPECT_EQ(control->DoAction(2).error(), "unavailable: the element's actions changed");
  ASSERT_TRUE(control->Focus());
  ASSERT_TRUE(control->Select());
  ASSERT_TRUE(control->ScrollTo());
  ASSERT_TRUE(control->SetText("new \xC3\xA9"));
  EXPECT_EQ(control->Read()->value, "new \xC3\xA9");
  EXPECT_THAT(control->Read()->states, ::testing::ElementsAre("focused", "selected"));

  std::unique_ptr<ElementControl> number = OpenElementControl(handles[1]);
  reading = number->Read();
  EXPECT_EQ(reading->value, "0.5");
  EXPECT_THAT(reading->states, ::testing::ElementsAre("selected", "expanded"));
  EXPECT_TRUE(reading->can_set_number && !reading->can_set_text && !reading->can_focus);
  ASSERT_TRUE(number->SetNumber(0.75));
  EXPECT_EQ(number->Read()->value, "0.75");
  EXPECT_EQ(number->Focus().error(), "unavailable: the application refused (AX error -25205)");
  EXPECT_EQ(OpenElementControl(handles[2])->Read()->value, "9007199254740993");

  EXPECT_THAT(macfake::AxLog(),
              ::testing::ElementsAre(
                  "perform " + std::to_string(field) + " AXConfirm",
                  "set " + std::to_string(field) + " AXFocused=true",
                  "set " + std::to_string(field) + " AXSelected=true",
                  "perform " + std::to_string(field) + " AXScrollToVisible",
                  "set " + std::to_string(field) + " AXValue=new \xC3\xA9",
                  "set " + std::to_string(slider) + " AXValue=0.750000"));

  macfake::Application(kPid).answer_seconds = 3;
  EXPECT_EQ(control->Read().error(),
            "unavailable: the application did not answer within 1 s (pid 501)");
  macfake::Application(kPid).answer_seconds = 0;
  macfake::Application(kPid).refuse_all = kAXErrorInvalidUIElement;
  EXPECT_EQ(control->SetText("x").error(), kElementGone);
  EXPECT_EQ(OpenElementControl(ElementHandle{})->Read().error(), kElementGone);
  EXPECT_EQ(OpenElementControl(ElementHandle{})->Focus().error(), kElementGone);
}

}  // namespace
}  // namespace tarvix
