// ui_snapshot, ui_action and ui_set_value through the real binary in a
// private accessibility session (Xvfb, openbox, a session bus, the AT-SPI
// bus launcher and registry) on real GTK applications. What the daemon did
// is checked with independent oracles: the probe window's own log and a
// pyatspi read of the element (atspi_element.py).
#include <signal.h>

#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/ui_elements.h"
#include "integration/x_session.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class UiSnapshotTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    x_ = XSession::Start(24, 1280, 800).release();
    ASSERT_NE(x_, nullptr) << "Xvfb did not start";
    ASSERT_TRUE(x_->StartWindowManager());
    ASSERT_TRUE(x_->StartAccessibility()) << "no session bus or AT-SPI bus";
    window_ = x_->LaunchPython("gtk_window.py", {"--title", "Form test", "--form", "--size",
                                                 "360x300"})
                  .release();
    ASSERT_NE(window_, nullptr);
    const std::optional<std::string> ready = window_->ReadLine(20s);
    ASSERT_TRUE(ready && ready->starts_with("ready ")) << ready.value_or("(nothing)");
    daemon_ = TestDaemon::Start({.allow_exec = true, .env = x_->SessionEnv()}).release();
  }
  static void TearDownTestSuite() {
    delete daemon_;
    delete window_;
    delete x_;
  }

  // The snapshot of `params` once it holds an element `role` `name` (an
  // application needs a moment to register), else the last one.
  static Json SnapshotWith(Json params, std::string_view role, std::string_view name) {
    return PollUntil([&] { return daemon_->Call("ui_snapshot", params)["result"]; },
                     [&](const Json& result) { return FindElement(result, role, name) != nullptr; },
                     15s);
  }

  // pyatspi's reading of the element named `name` of process `pid`, once
  // `done` holds of it (or after 5 s).
  template <typename Done>
  static Json OracleUntil(pid_t pid, const std::string& name, Done done) {
    return PollUntil([&] {
      const std::unique_ptr<SessionProcess> oracle =
          x_->LaunchPython("atspi_element.py", {std::to_string(pid), name});
      return Json::parse(oracle->ReadLine(10s).value_or("{}"));
    }, done, 5s);
  }

  static XSession* x_;
  static SessionProcess* window_;
  static TestDaemon* daemon_;
};
XSession* UiSnapshotTest::x_ = nullptr;
SessionProcess* UiSnapshotTest::window_ = nullptr;
TestDaemon* UiSnapshotTest::daemon_ = nullptr;

bool HasState(const Json& read, std::string_view state) {
  for (const Json& s : read.value("states", Json::array())) {
    if (s == state) return true;
  }
  return false;
}

TEST_F(UiSnapshotTest, ActsOnElementsByRef) {
  const Json snapshot = SnapshotWith({{"query", "a "}}, "AXButton", "A button");
  const Json* button = FindElement(snapshot, "AXButton", "A button");
  ASSERT_NE(button, nullptr) << snapshot.dump();
  const Json* check = FindElement(snapshot, "AXCheckBox", "A check box");
  ASSERT_NE(check, nullptr) << snapshot.dump();
  // The query keeps the matches and their ancestors only.
  EXPECT_EQ(FindElement(snapshot, "AXStaticText", "Label of Form test"), nullptr);
  EXPECT_EQ(snapshot["elements"][0]["role"], "AXWindow");

  const Json pressed = daemon_->Call("ui_action", {{"ref", (*button)["ref"]}, {"action", "press"}});
  EXPECT_EQ(pressed["result"]["done"], true) << pressed.dump();
  EXPECT_EQ(window_->ReadLine(5s), "clicked");

  const Json toggled = daemon_->Call("ui_action", {{"ref", (*check)["ref"]}, {"action", "toggle"}});
  EXPECT_EQ(toggled["result"]["effect"], "confirmed") << toggled.dump();
  EXPECT_TRUE(HasState(toggled["result"], "checked")) << toggled.dump();
  EXPECT_EQ(window_->ReadLine(5s), "toggled on");
  const Json checked = OracleUntil(window_->pid(), "A check box",
                                   [](const Json& read) { return HasState(read, "checked"); });
  EXPECT_TRUE(HasState(checked, "checked")) << checked.dump();

  const Json not_supported =
      daemon_->Call("ui_action", {{"ref", (*button)["ref"]}, {"action", "expand"}});
  EXPECT_EQ(not_supported["error"], "not supported: expand (available: Click)")
      << not_supported.dump();
}

TEST_F(UiSnapshotTest, SetsTextAndRefusesPasswords) {
  const Json snapshot =
      SnapshotWith({{"roles", {"AXTextField", "AXSecureTextField"}}}, "AXSecureTextField", "Password");
  const Json* entry = nullptr;
  for (const Json& e : snapshot["elements"]) {
    if (e["role"] == "AXTextField") entry = &e;
  }
  ASSERT_NE(entry, nullptr) << snapshot.dump();
  const Json* password = FindElement(snapshot, "AXSecureTextField", "Password");
  ASSERT_NE(password, nullptr) << snapshot.dump();
  EXPECT_EQ((*password)["value"], nullptr);

  const Json set = daemon_->Call("ui_set_value", {{"ref", (*entry)["ref"]}, {"value", "Typed by ref"}});
  EXPECT_EQ(set["result"], Json({{"done", true}, {"effect", "confirmed"}, {"value", "Typed by ref"}}))
      << set.dump();
  const Json refused =
      daemon_->Call("ui_set_value", {{"ref", (*password)["ref"]}, {"value", "guess"}});
  EXPECT_EQ(refused["error"], "refused: secure field");
  const Json secret = OracleUntil(window_->pid(), "Password", [](const Json&) { return true; });
  // GTK shows the six characters of "secret" as bullets.
  EXPECT_EQ(secret["text"], "\u25CF\u25CF\u25CF\u25CF\u25CF\u25CF") << "the password field changed";
}

// A form filled in one batch: refs from one snapshot, six steps, each
// effect seen by the window or by another read of the tree.
TEST_F(UiSnapshotTest, BatchFillsAFormInOneCall) {
  const Json snapshot = SnapshotWith({{"interactive_only", true}}, "AXButton", "A button");
  const Json* entry = nullptr;
  for (const Json& e : snapshot["elements"]) {
    if (e["role"] == "AXTextField") entry = &e;
  }
  const Json* button = FindElement(snapshot, "AXButton", "A button");
  const Json* check = FindElement(snapshot, "AXCheckBox", "A check box");
  ASSERT_TRUE(entry != nullptr && button != nullptr && check != nullptr) << snapshot.dump();
  auto step = [](const char* method, Json params) { return Json{{"method", method}, {"params", params}}; };
  const Json reply = daemon_->Call(
      "batch", {{"steps",
                 {step("ui_action", {{"ref", (*entry)["ref"]}, {"action", "focus"}}),
                  step("ui_set_value", {{"ref", (*entry)["ref"]}, {"value", "Filled by batch"}}),
                  step("ui_action", {{"ref", (*button)["ref"]}, {"action", "press"}}),
                  step("ui_action", {{"ref", (*check)["ref"]}, {"action", "toggle"}}),
                  step("wait_for", {{"until", "element"}, {"query", "filled by batch"},
                                    {"role", "AXTextField"}, {"timeout_ms", 10000}}),
                  step("wait_for", {{"until", "settle"}, {"timeout_ms", 10000}})}}});
  ASSERT_EQ(reply["result"]["completed"], 6) << reply.dump();
  // The entry's new text, as ui_tree's own walk reads it.
  EXPECT_EQ(reply["result"]["results"][4]["result"]["matched"]["value"], "Filled by batch")
      << reply.dump();
  EXPECT_EQ(window_->ReadLine(5s), "clicked");
  EXPECT_TRUE(window_->ReadLine(5s).value_or("").starts_with("toggled"));
}

TEST_F(UiSnapshotTest, RefsGoStaleAfterEightNewerSnapshots) {
  const Json first = SnapshotWith(Json::object(), "AXButton", "A button");
  const Json* button = FindElement(first, "AXButton", "A button");
  ASSERT_NE(button, nullptr) << first.dump();
  for (int i = 0; i < 8; ++i) ASSERT_EQ(daemon_->Call("ui_snapshot")["ok"], true);
  const std::string ref = (*button)["ref"];
  const std::string snapshot = first["snapshot"];
  EXPECT_EQ(daemon_->Call("ui_action", {{"ref", ref}, {"action", "press"}})["error"],
            "stale ref: " + ref + " (snapshot " + snapshot + " superseded)");
  EXPECT_EQ(daemon_->Call("ui_action", {{"ref", "s999999e0"}, {"action", "press"}})["error"],
            "unknown ref: s999999e0");
}

// gtk3-widget-factory's hidden pages hold buttons ui_tree never lists; a
// query finds one, with its ancestors, among thousands of elements.
TEST_F(UiSnapshotTest, QueryFindsWhatUiTreeNeverReaches) {
  std::unique_ptr<SessionProcess> factory = x_->Launch({"gtk3-widget-factory"});
  ASSERT_NE(factory, nullptr);
  const Json tree =
      PollUntil([&] { return daemon_->Call("ui_tree")["result"]; },
                [](const Json& result) { return result["window"] == "gtk3-widget-factory"; }, 15s);
  ASSERT_EQ(tree["window"], "gtk3-widget-factory");
  std::set<std::string> listed;
  for (const Json& e : tree["elements"]) listed.insert(e["name"]);
  const Json buttons = daemon_->Call("ui_snapshot", {{"roles", {"AXButton"}},
                                                     {"visible_only", false},
                                                     {"max_elements", 5000},
                                                     {"deadline_ms", 10000}})["result"];
  std::string unreached;
  for (const Json& e : buttons["elements"]) {
    const std::string name = e["name"];
    if (e["role"] == "AXButton" && name.size() > 3 && !listed.contains(name)) unreached = name;
  }
  ASSERT_FALSE(unreached.empty()) << buttons.dump().substr(0, 2000);
  const Json found = daemon_->Call("ui_snapshot", {{"query", unreached},
                                                   {"visible_only", false},
                                                   {"deadline_ms", 10000}})["result"];
  const Json* button = FindElement(found, "AXButton", unreached);
  ASSERT_NE(button, nullptr) << found.dump().substr(0, 2000);
  EXPECT_GE((*button)["depth"], 3);
  EXPECT_FALSE((*button)["parent"].is_null());
  // Bounds are read after the search, of what it kept: the window's too.
  const Json& window_bounds = found["elements"][0]["bounds"];
  ASSERT_TRUE(window_bounds.is_object()) << found["elements"][0].dump();
  EXPECT_GT(window_bounds["w"], 0);
  EXPECT_LT(found["count"], 40);
  EXPECT_EQ(found["truncated_by"], nullptr);
}

// Rows of a list scrolled in a small pane: one out of view is scrolled
// into it, another is selected; pyatspi and the window's log see both.
TEST_F(UiSnapshotTest, ScrollsListRowsIntoViewAndSelectsThem) {
  std::unique_ptr<SessionProcess> list = x_->LaunchPython(
      "gtk_window.py", {"--title", "List test", "--size", "300x200", "--list", "30"});
  ASSERT_NE(list, nullptr);
  // The list selects its first row by itself before "ready".
  auto read_until = [&](std::string_view line) {
    for (std::optional<std::string> read; (read = list->ReadLine(10s));) {
      if (read->starts_with(line)) return true;
    }
    return false;
  };
  ASSERT_TRUE(read_until("ready "));
  // GTK 3 gives a list box row the role "list item".
  const Json snapshot = SnapshotWith(
      {{"scope", "app"}, {"pid", list->pid()}, {"query", "row 2"}, {"visible_only", false}},
      "AXCell", "Row 25");
  const Json* far = FindElement(snapshot, "AXCell", "Row 25");
  const Json* other = FindElement(snapshot, "AXCell", "Row 20");
  ASSERT_TRUE(far && other) << snapshot.dump();
  EXPECT_FALSE(HasState(*far, "showing")) << far->dump();

  const Json scrolled =
      daemon_->Call("ui_action", {{"ref", (*far)["ref"]}, {"action", "scroll_into_view"}});
  EXPECT_EQ(scrolled["result"]["effect"], "confirmed") << scrolled.dump();
  const Json shown = OracleUntil(list->pid(), "Row 25",
                                 [](const Json& read) { return HasState(read, "showing"); });
  EXPECT_TRUE(HasState(shown, "showing")) << shown.dump();

  const Json selected = daemon_->Call("ui_action", {{"ref", (*other)["ref"]}, {"action", "select"}});
  EXPECT_EQ(selected["result"]["effect"], "confirmed") << selected.dump();
  EXPECT_TRUE(HasState(selected["result"], "selected")) << selected.dump();
  EXPECT_TRUE(read_until("selected Row 20"));
  const Json read = OracleUntil(list->pid(), "Row 20",
                                [](const Json& r) { return HasState(r, "selected"); });
  EXPECT_TRUE(HasState(read, "selected")) << read.dump();
}

// A stopped application costs one bus timeout and is listed; the others
// are read meanwhile.
TEST_F(UiSnapshotTest, StoppedApplicationIsListedAsUnresponsive) {
  std::unique_ptr<SessionProcess> stopped =
      x_->LaunchPython("gtk_window.py", {"--title", "Stopped", "--size", "200x100"});
  ASSERT_TRUE(stopped->ReadLine(20s).value_or("").starts_with("ready "));
  ASSERT_NE(FindElement(SnapshotWith({{"scope", "desktop"}}, "AXButton", "A button"), "AXButton",
                 "A button"),
            nullptr);
  PollUntil([&] {
    return daemon_->Call("ui_snapshot", {{"scope", "app"}, {"pid", stopped->pid()}})["result"];
  }, [](const Json& result) { return result["count"] > 1; }, 10s);
  ASSERT_EQ(kill(stopped->pid(), SIGSTOP), 0);
  const auto start = Clock::now();
  const Json result =
      daemon_->Call("ui_snapshot", {{"scope", "desktop"}, {"deadline_ms", 1500}})["result"];
  const auto elapsed = Clock::now() - start;
  kill(stopped->pid(), SIGCONT);
  EXPECT_EQ(result["unresponsive"], Json::array({stopped->pid()})) << result.dump().substr(0, 500);
  EXPECT_EQ(result["truncated_by"], "deadline");
  EXPECT_NE(FindElement(result, "AXButton", "A button"), nullptr) << "the running window was read";
  EXPECT_LT(elapsed, 2500ms);
}

}  // namespace
}  // namespace tarvix::testing
