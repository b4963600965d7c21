#include "tools/desktop/ui_snapshot.h"

#include <gtest/gtest.h>

#include "fakes/fake_accessibility.h"

namespace tarvix {
namespace {

using testing::FakeApplication;

constexpr std::string_view kPress[] = {"click", "press"};
const AccessibilityPlatform kPlatform{.source = "test", .note = "", .fallback_note = "",
                                      .press_actions = kPress,
                                      .press_actions_ignore_ascii_case = true};

ElementAttributes Element(std::string role, std::string name, std::vector<std::string> actions = {}) {
  ElementAttributes a;
  a.role = std::move(role);
  a.name = std::move(name);
  a.actions = std::move(actions);
  return a;
}

// 0 window
//   1 toolbar: 2 Open, 3 Save ("Write the file")
//   4 form: 5 name field ("Ada"), 6 password ("hunter2"), 7 group: 8 Submit
//   9 status text
FakeApplication Form() {
  FakeApplication app;
  app.children = {{0, {1, 4, 9}}, {1, {2, 3}}, {4, {5, 6, 7}}, {7, {8}}};
  app.attributes[0] = Element("AXWindow", "Main");
  app.attributes[1] = Element("AXToolbar", "toolbar");
  app.attributes[2] = Element("AXButton", "Open", {"click"});
  app.attributes[3] = Element("AXButton", "Save", {"click"});
  app.attributes[3].description = "Write the file";
  app.attributes[4] = Element("AXGroup", "form");
  app.attributes[5] = Element("AXTextField", "Name");
  app.attributes[5].value = "Ada";
  app.attributes[5].editable = true;
  app.attributes[6] = Element("AXSecureTextField", "Password");
  app.attributes[6].value = "hunter2";
  app.attributes[6].secure = app.attributes[6].editable = true;
  app.attributes[7] = Element("AXGroup", "");
  app.attributes[8] = Element("AXButton", "Submit", {"press"});
  app.attributes[9] = Element("AXStaticText", "Status: ready");
  return app;
}

struct Harness {
  FakeApplication app = Form();
  SnapshotStore store;
  std::optional<int32_t> opened_pid;
  UiSnapshotSources Sources() {
    return {.windows =
                [] {
                  WindowRecord front;
                  front.title = "Main";
                  front.owner_pid = 7;
                  front.id = 99;
                  return Result<std::vector<WindowRecord>>(std::vector<WindowRecord>{front});
                },
            .open =
                [this](std::optional<int32_t> pid, std::chrono::milliseconds) {
                  opened_pid = pid;
                  return std::make_unique<FakeApplication>(app);
                },
            .platform = &kPlatform,
            .store = &store};
  }
};

std::vector<std::string> Names(const Json& result) {
  std::vector<std::string> names;
  for (const Json& e : result["elements"]) names.push_back(e["name"].get<std::string>());
  return names;
}

TEST(UiSnapshotTest, FiltersKeepAncestorsAndCapsSayWhy) {
  struct Case {
    const char* params;
    std::vector<std::string> names;
    Json truncated_by;
    std::function<void(FakeApplication&)> setup = nullptr;
  } cases[] = {
      {R"({})",
       {"Main", "toolbar", "Open", "Save", "form", "Name", "Password", "", "Submit",
        "Status: ready"},
       nullptr},
      {R"({"query":"SAVE"})", {"Main", "toolbar", "Save"}, nullptr},
      {R"({"query":"write the"})", {"Main", "toolbar", "Save"}, nullptr},
      {R"({"query":"ada"})", {"Main", "form", "Name"}, nullptr},
      // A password's value is never searched.
      {R"({"query":"hunter"})", {}, nullptr},
      {R"({"roles":["AXButton"]})", {"Main", "toolbar", "Open", "Save", "form", "", "Submit"},
       nullptr},
      {R"({"interactive_only":true})",
       {"Main", "toolbar", "Open", "Save", "form", "Name", "Password", "", "Submit"}, nullptr},
      {R"({"roles":["AXButton"],"query":"s"})", {"Main", "toolbar", "Save", "form", "", "Submit"},
       nullptr},
      {R"({"max_elements":3})", {"Main", "toolbar", "Open"}, "max_elements"},
      {R"({"query":"submit","max_elements":2})", {"Main", "form"}, "max_elements"},
      {R"({"max_depth":1})", {"Main", "toolbar", "form", "Status: ready"}, "max_depth"},
      {R"({"max_depth":3})",
       {"Main", "toolbar", "Open", "Save", "form", "Name", "Password", "", "Submit",
        "Status: ready"},
       nullptr},
      // What the deadline left unread is left out; the children of an
      // unread element hang on its nearest read ancestor.
      {R"({})", {"Main", "toolbar", "Open", "Save", "form", "Name", "Password", "Submit"},
       "deadline",
       [](FakeApplication& app) {
         app.unanswered = {7, 9};
         app.unresponsive = {3};
       }},
      {R"({})", {"Main"}, "deadline", [](FakeApplication& app) { app.out_of_time = true; }},
      {R"({})", {}, "deadline", [](FakeApplication& app) {
         app.focused = std::nullopt;
         app.unresponsive = {7};
       }},
  };
  for (Case& c : cases) {
    Harness h;
    if (c.setup) c.setup(h.app);
    const ToolResult result = UiSnapshotFrom(Json::parse(c.params), h.Sources());
    ASSERT_TRUE(result) << c.params << ": " << result.error();
    EXPECT_EQ(Names(*result), c.names) << c.params;
    EXPECT_EQ((*result)["truncated_by"], c.truncated_by) << c.params;
    EXPECT_EQ((*result)["truncated"], !c.truncated_by.is_null()) << c.params;
    EXPECT_EQ((*result)["count"], c.names.size()) << c.params;
    EXPECT_EQ((*result)["snapshot"], "s1") << c.params;
    // Every parent is an earlier record one level up; refs count up.
    std::map<std::string, uint32_t> depth_of;
    size_t index = 0;
    for (const Json& e : (*result)["elements"]) {
      EXPECT_EQ(e["ref"], "s1e" + std::to_string(index++)) << c.params;
      if (!e["parent"].is_null()) {
        ASSERT_TRUE(depth_of.contains(e["parent"])) << c.params << " " << e.dump();
        EXPECT_LT(depth_of[e["parent"]], e["depth"].get<uint32_t>()) << c.params;
      }
      depth_of[e["ref"]] = e["depth"].get<uint32_t>();
    }
  }
}

TEST(UiSnapshotTest, RecordsAndRefsResolve) {
  Harness h;
  const ToolResult result = UiSnapshotFrom(Json::parse(R"({"query":"pass"})"), h.Sources());
  ASSERT_TRUE(result) << result.error();
  const Json& password = (*result)["elements"][2];
  EXPECT_EQ(password["role"], "AXSecureTextField");
  EXPECT_EQ(password["value"], nullptr);
  EXPECT_EQ(password["parent"], "s1e1");
  EXPECT_EQ(h.opened_pid, 7);
  const Json& form = (*result)["elements"][1];
  EXPECT_EQ(form.dump(),
            R"({"actions":[],"bounds":null,"clickable":false,"depth":1,"description":"",)"
            R"("enabled":true,"focused":false,"name":"form","parent":"s1e0","ref":"s1e1",)"
            R"("role":"AXGroup","states":[],"value":null})");
  // Each ref leads back to its element's handle.
  EXPECT_EQ(h.store.Find("s1e2")->locator, "element 6");
}

// A filter reads what it matches on of every element walked, and the
// rest (bounds first) of the elements it keeps and the windows and their
// children only (which place the others); the records it keeps are those
// of an unfiltered snapshot.
TEST(UiSnapshotTest, FiltersReadTheRestOfWhatTheyKeepOnly) {
  const std::pair<const char*, std::vector<ElementId>> cases[] = {
      {R"({})", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {R"({"query":"save"})", {0, 1, 3, 4, 9}},
      {R"({"query":"ada"})", {0, 1, 4, 5, 9}},
      {R"({"roles":["AXTextField"]})", {0, 1, 4, 5, 9}},
      {R"({"interactive_only":true,"roles":["AXButton"]})", {0, 1, 2, 3, 4, 7, 8, 9}},
      {R"({"query":"no such element"})", {0, 1, 4, 9}},
  };
  std::map<std::string, Json> unfiltered;
  for (const auto& [params, asked] : cases) {
    Harness h;
    h.app.bounds_asked = std::make_shared<std::vector<ElementId>>();
    for (auto& [id, a] : h.app.attributes) a.bounds = ElementBounds{1.0 * id, 2, 3, 4};
    const ToolResult result = UiSnapshotFrom(Json::parse(params), h.Sources());
    ASSERT_TRUE(result) << params << ": " << result.error();
    EXPECT_EQ(*h.app.bounds_asked, asked) << params;
    for (Json e : (*result)["elements"]) {
      e.erase("ref");
      e.erase("parent");
      const std::string name = e["name"];
      if (unfiltered.emplace(name, e).second) continue;
      EXPECT_EQ(e, unfiltered[name]) << params;
    }
  }
  EXPECT_EQ(unfiltered.size(), 10u);
}

TEST(UiSnapshotTest, ScopesPickTheirWindows) {
  Harness h;
  h.app.windows = {{.element = 0, .pid = 7, .title = "Main", .active = true, .showing = true},
                   {.element = 9, .pid = 7, .title = "Hidden", .showing = false}};
  struct Case {
    const char* params;
    std::optional<int32_t> pid;
    size_t count;
  } cases[] = {
      {R"({"scope":"app","pid":7})", 7, 10},
      {R"({"scope":"app","pid":7,"visible_only":false})", 7, 10},
      {R"({"scope":"desktop"})", std::nullopt, 10},
      {R"({"scope":"window","window":99})", 7, 10},
  };
  for (const Case& c : cases) {
    const ToolResult result = UiSnapshotFrom(Json::parse(c.params), h.Sources());
    ASSERT_TRUE(result) << c.params << ": " << result.error();
    EXPECT_EQ(h.opened_pid, c.pid) << c.params;
    EXPECT_EQ((*result)["count"], c.count) << c.params;
  }
}

TEST(UiSnapshotTest, RefusesBadParams) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"scope":"screen"})", "invalid param: scope must be one of focused, window, app, desktop"},
      {R"({"scope":"window"})", "missing param: window"},
      {R"({"scope":"window","window":5})", "invalid param: window 5 is not in the window list"},
      {R"({"scope":"app"})", "missing param: pid"},
      {R"({"scope":"app","pid":0})", "invalid param: pid must be an integer from 1 to 2147483647"},
      {R"({"max_elements":0})", "invalid param: max_elements must be an integer from 1 to 5000"},
      {R"({"max_elements":5001})", "invalid param: max_elements must be an integer from 1 to 5000"},
      {R"({"max_depth":65})", "invalid param: max_depth must be an integer from 0 to 64"},
      {R"({"deadline_ms":10001})", "invalid param: deadline_ms must be an integer from 1 to 10000"},
      {R"({"roles":"AXButton"})", "invalid param: roles must be an array of role names"},
      {R"({"visible_only":"yes"})", "invalid param: visible_only must be a boolean"},
      {R"({"query":3})", "invalid param: query must be a string"},
  };
  for (const auto& [params, error] : cases) {
    Harness h;
    const ToolResult result = UiSnapshotFrom(Json::parse(params), h.Sources());
    ASSERT_FALSE(result) << params;
    EXPECT_EQ(result.error(), error) << params;
  }
}

}  // namespace
}  // namespace tarvix
