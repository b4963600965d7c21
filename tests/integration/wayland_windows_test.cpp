// Windows on a headless sway, against the real binary running as the
// session's user: list_windows equals sway's own tree (swaymsg -t
// get_tree), and each window_action's effect shows in that tree.
#include <signal.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/sway_session.h"
#include "integration/sway_suite.h"


namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;

class WaylandWindowsTest : public SwaySuite<WaylandWindowsTest> {
 public:
  // The main output at (0,0) and a second one to its left, where global
  // x is negative.
  static SwayOptions SessionOptions() {
    return {.outputs = {{.width = 1920, .height = 1080},
                        {.width = 1280, .height = 720, .x = -1280}}};
  }

 protected:
  // A native Wayland GTK window of the session's user, once drawn.
  static std::unique_ptr<SessionProcess> Open(const std::string& title) {
    std::unique_ptr<SessionProcess> window = sway_->Launch(
        {"GDK_BACKEND=wayland", "NO_AT_BRIDGE=1", "/usr/bin/python3",
         std::string(TARVIX_TEST_SOURCE_DIR) + "/gtk_window.py", "--title", title, "--size",
         "300x200"});
    if (!window) return nullptr;
    const std::optional<std::string> line = window->ReadLine(20s);
    if (!line || !line->starts_with("ready ")) return nullptr;
    return window;
  }

  // sway's views by depth-first walk: con_id -> the node.
  static std::map<uint64_t, Json> Tree() {
    std::map<uint64_t, Json> views;
    std::function<void(const Json&, bool)> walk = [&](const Json& node, bool scratch) {
      scratch = scratch || node.value("name", "") == "__i3_scratch";
      if (node.contains("shell")) {
        Json view = node;
        view["scratchpad"] = scratch;
        views[node["id"].get<uint64_t>()] = view;
      }
      for (const char* list : {"nodes", "floating_nodes"}) {
        for (const Json& child : node.value(list, Json::array())) walk(child, scratch);
      }
    };
    walk(Json::parse(sway_->Run("swaymsg -t get_tree -r")), false);
    return views;
  }
  static uint64_t IdOf(const std::string& title) {
    for (const auto& [id, view] : Tree()) {
      if (view.value("name", "") == title) return id;
    }
    return 0;
  }
  // The frame: sway's rect grown by the title bar sway draws above it.
  static Json FrameOf(const Json& view) {
    const Json& r = view["rect"];
    const int64_t bar = view["deco_rect"]["height"];
    return {{"x", r["x"]}, {"y", r["y"].get<int64_t>() - bar}, {"w", r["width"]},
            {"h", r["height"].get<int64_t>() + bar}};
  }
  static Json Act(uint64_t window, const std::string& action, Json extra = Json::object()) {
    extra["window"] = window;
    extra["action"] = action;
    return daemon_->Call("window_action", extra);
  }
};

TEST_F(WaylandWindowsTest, ListedAndActedOnAsSwayReports) {
  std::unique_ptr<SessionProcess> first = Open("First window");
  ASSERT_NE(first, nullptr);
  std::unique_ptr<SessionProcess> second = Open("Second window");
  ASSERT_NE(second, nullptr);
  const uint64_t a = IdOf("First window"), b = IdOf("Second window");
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);

  // The list equals sway's tree: ids, titles, pids, frames, focus; the
  // window sway focuses (the newer one) comes first.
  Json listed = daemon_->Call("list_windows");
  ASSERT_EQ(listed["ok"], true) << listed.dump();
  std::map<uint64_t, Json> tree = Tree();
  const Json& windows = listed["result"]["windows"];
  ASSERT_EQ(windows.size(), 2u) << windows.dump();
  EXPECT_EQ(windows[0]["id"], b);
  EXPECT_EQ(windows[1]["id"], a);
  for (const Json& w : windows) {
    const Json& view = tree.at(w["id"].get<uint64_t>());
    EXPECT_EQ(w["title"], view["name"]);
    EXPECT_EQ(w["pid"], view["pid"]);
    EXPECT_EQ(w["app"], view["app_id"]);
    EXPECT_EQ(w["focused"], view["focused"]);
    EXPECT_EQ(w["minimized"], false);
    EXPECT_EQ(w["display"], 1);
    EXPECT_EQ(Json({{"x", w["x"]}, {"y", w["y"]}, {"w", w["w"]}, {"h", w["h"]}}), FrameOf(view))
        << w.dump();
  }
  EXPECT_EQ(windows[1]["pid"], first->pid());

  Json reply = Act(a, "activate");
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  EXPECT_EQ(Tree()[a]["focused"], true);
  EXPECT_EQ(daemon_->Call("list_windows")["result"]["windows"][0]["id"], a);

  // Move and resize float the tiled window; onto the output on the left.
  reply = Act(a, "move", {{"x", -1000}, {"y", 90}});
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  reply = Act(a, "resize", {{"w", 420}, {"h", 330}});
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  EXPECT_EQ(FrameOf(Tree()[a]), Json({{"x", -1000}, {"y", 90}, {"w", 420}, {"h", 330}}));
  EXPECT_EQ(reply["result"]["bounds"], FrameOf(Tree()[a]));

  reply = Act(a, "maximize");
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  EXPECT_EQ(Tree()[a]["fullscreen_mode"], 1);
  reply = Act(a, "minimize");
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  tree = Tree();
  EXPECT_EQ(tree[a]["scratchpad"], true);
  EXPECT_EQ(tree[a]["visible"], false);
  const Json all = daemon_->Call("list_windows")["result"]["windows"];
  ASSERT_EQ(all.size(), 2u) << all.dump();
  for (const Json& window : all) EXPECT_EQ(window["minimized"], window["id"] == a) << all.dump();
  reply = Act(a, "restore");
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  tree = Tree();
  EXPECT_EQ(tree[a]["visible"], true);
  EXPECT_EQ(tree[a]["fullscreen_mode"], 0);

  reply = Act(b, "close");
  EXPECT_EQ(reply["result"], Json({{"bounds", nullptr}, {"done", true}, {"verified", true}}))
      << reply.dump();
  EXPECT_FALSE(second->ReadLine(10s)) << "the window's program is still running";
  EXPECT_EQ(Tree().count(b), 0u);
  EXPECT_EQ(Act(b, "raise")["error"], "unknown window: " + std::to_string(b));
}

// Without sway's IPC (as on river or labwc) the windows come from wlr
// foreign toplevel management: no positions, no pids, the daemon's own ids.
TEST_F(WaylandWindowsTest, ForeignToplevelsWithoutSwaysIpc) {
  std::map<std::string, std::string> env = sway_->Env();
  env.erase("SWAYSOCK");
  std::unique_ptr<TestDaemon> daemon =
      TestDaemon::Start({.allow_exec = true, .env = env, .user = sway_->user()});
  ASSERT_NE(daemon, nullptr);
  std::unique_ptr<SessionProcess> one = Open("Toplevel one");
  ASSERT_NE(one, nullptr);
  std::unique_ptr<SessionProcess> two = Open("Toplevel two");
  ASSERT_NE(two, nullptr);
  const auto ours = [&] {
    std::map<std::string, Json> by_title;
    std::vector<std::string> order;
    const Json reply = daemon->Call("list_windows");
    for (const Json& w : reply["result"]["windows"]) {
      const std::string title = w["title"];
      if (!title.starts_with("Toplevel ")) continue;
      by_title[title] = w;
      order.push_back(title);
    }
    return std::pair{by_title, order};
  };
  const auto [windows, order] = ours();
  ASSERT_EQ(order, (std::vector<std::string>{"Toplevel two", "Toplevel one"}));
  std::map<uint64_t, Json> tree = Tree();
  for (const auto& [title, w] : windows) {
    const Json& view = tree.at(IdOf(title));
    EXPECT_EQ(w["app"], view["app_id"]);
    EXPECT_EQ(w["focused"], view["focused"]);
    EXPECT_EQ(w["pid"], nullptr);
    EXPECT_EQ(Json({w["x"], w["y"], w["w"], w["h"], w["minimized"]}),
              Json({0, 0, 0, 0, false}));
  }
  // Numbered in order of opening, also those listed when the daemon
  // first asked; the same numbers on the next call.
  EXPECT_LT(windows.at("Toplevel one")["id"], windows.at("Toplevel two")["id"]);
  EXPECT_EQ(ours().first.at("Toplevel one")["id"], windows.at("Toplevel one")["id"]);

  const auto act = [&](const std::string& title, const std::string& action) {
    return daemon->Call("window_action", {{"window", windows.at(title)["id"]},
                                          {"action", action},
                                          {"x", 10},
                                          {"y", 10}});
  };
  Json reply = act("Toplevel one", "activate");
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  EXPECT_EQ(Tree()[IdOf("Toplevel one")]["focused"], true);
  EXPECT_EQ(ours().second.front(), "Toplevel one");
  // sway does not minimize through this protocol: the request is sent and
  // the reply says the effect was not seen.
  reply = act("Toplevel one", "minimize");
  EXPECT_EQ(reply["result"]["verified"], false) << reply.dump();
  EXPECT_EQ(act("Toplevel one", "move")["error"],
            "not supported: this Wayland compositor tells no window positions (no sway IPC), so "
            "windows cannot be moved or resized");
  reply = act("Toplevel two", "close");
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  EXPECT_FALSE(two->ReadLine(10s)) << "the window's program is still running";
  EXPECT_EQ(act("Toplevel two", "raise")["error"],
            "unknown window: " + windows.at("Toplevel two")["id"].dump());
}

TEST_F(WaylandWindowsTest, AStoppedSwayCostsTheListADeadline) {
  ASSERT_EQ(kill(sway_->pid(), SIGSTOP), 0);
  struct Resume {
    pid_t pid;
    ~Resume() { kill(pid, SIGCONT); }
  } resume{sway_->pid()};
  // The compositor's registry round trip misses its deadline; the call
  // ends there rather than waiting out sway's IPC as well.
  EXPECT_EQ(daemon_->Call("list_windows"),
            (Json{{"error", "window list unavailable - the Wayland compositor did not answer within 2 s"},
                  {"ok", false}}));
}

}  // namespace
}  // namespace tarvix::testing
