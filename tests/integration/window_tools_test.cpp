// list_windows and window_action through the real daemon against a
// private X session with openbox, read back with xprop and xwininfo.
#include <chrono>
#include <optional>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/x_session.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;

struct Opened {
  std::unique_ptr<SessionProcess> process;
  uint64_t id = 0;
};

class WindowToolsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    x_ = XSession::Start(24, 1280, 800).release();
    if (x_ == nullptr || !x_->StartWindowManager()) return;
    daemon_ = TestDaemon::Start({.allow_exec = true, .env = x_->Env()}).release();
  }
  static void TearDownTestSuite() {
    delete daemon_;
    delete x_;
  }
  void SetUp() override {
    if (daemon_ == nullptr) GTEST_SKIP() << "no private X session (Xvfb, openbox)";
  }
  static Opened Open(const std::string& title, const std::string& pos) {
    Opened window;
    window.process = x_->LaunchPython(
        "gtk_window.py", {"--title", title, "--size", "300x200", "--pos", pos}, false);
    const std::optional<std::string> line = window.process ? window.process->ReadLine(20s) : std::nullopt;
    if (line && line->starts_with("ready ")) window.id = std::stoull(line->substr(6), nullptr, 16);
    return window;
  }
  static Json Act(uint64_t window, const std::string& action, Json extra = Json::object()) {
    extra["window"] = window;
    extra["action"] = action;
    return daemon_->Call("window_action", extra);
  }
  static std::string Xprop(const std::string& args) { return x_->Run("xprop " + args); }
  static uint64_t ActiveWindow() {
    std::smatch m;
    const std::string out = Xprop("-root _NET_ACTIVE_WINDOW");
    return std::regex_search(out, m, std::regex("# (0x[0-9a-f]+)")) ? std::stoull(m[1], nullptr, 16) : 0;
  }
  // The frame from xwininfo (the client's corner and size) and the
  // manager's _NET_FRAME_EXTENTS (left, right, top, bottom).
  static Json FrameOf(uint64_t id) {
    const std::string hex = "0x" + [&] { char b[32]; snprintf(b, sizeof b, "%llx", static_cast<unsigned long long>(id)); return std::string(b); }();
    const std::string info = x_->Run("xwininfo -id " + hex);
    const std::string extents = Xprop("-id " + hex + " _NET_FRAME_EXTENTS");
    auto field = [&](const char* name) {
      std::smatch m;
      return std::regex_search(info, m, std::regex(std::string(name) + ":\\s+(-?\\d+)")) ? std::stoll(m[1]) : -1;
    };
    std::smatch e;
    int64_t left = 0, right = 0, top = 0, bottom = 0;
    if (std::regex_search(extents, e, std::regex("= (\\d+), (\\d+), (\\d+), (\\d+)"))) {
      left = std::stoll(e[1]), right = std::stoll(e[2]), top = std::stoll(e[3]), bottom = std::stoll(e[4]);
    }
    return Json{{"x", field("Absolute upper-left X") - left}, {"y", field("Absolute upper-left Y") - top},
                {"w", field("Width") + left + right}, {"h", field("Height") + top + bottom}};
  }

  static inline XSession* x_ = nullptr;
  static inline TestDaemon* daemon_ = nullptr;
};

TEST_F(WindowToolsTest, ListedWithIdsAndActedOnAsTheManagerReports) {
  Opened first = Open("First window", "50,50");
  Opened second = Open("Second window", "500,300");
  ASSERT_NE(first.id, 0u);
  ASSERT_NE(second.id, 0u);
  const Json listed = daemon_->Call("list_windows");
  ASSERT_EQ(listed["ok"], true) << listed.dump();
  const Json& windows = listed["result"]["windows"];
  ASSERT_EQ(windows.size(), 2u) << windows.dump();
  EXPECT_EQ(windows[0]["id"], second.id);  // front first
  EXPECT_EQ(windows[1]["id"], first.id);
  EXPECT_EQ(windows[0]["focused"], ActiveWindow() == second.id);
  EXPECT_EQ(windows[1]["pid"], first.process->pid());
  EXPECT_EQ(windows[1]["minimized"], false);
  EXPECT_EQ(windows[1]["display"], 1);  // the one monitor of the session

  Json reply = Act(first.id, "activate");
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  EXPECT_EQ(ActiveWindow(), first.id);
  EXPECT_EQ(daemon_->Call("list_windows")["result"]["windows"][0]["id"], first.id);

  reply = Act(first.id, "move", {{"x", 120}, {"y", 90}});
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  reply = Act(first.id, "resize", {{"w", 420}, {"h", 330}});
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  EXPECT_EQ(FrameOf(first.id), Json({{"x", 120}, {"y", 90}, {"w", 420}, {"h", 330}}));
  EXPECT_EQ(reply["result"]["bounds"], FrameOf(first.id));

  reply = Act(first.id, "maximize");
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  EXPECT_NE(Xprop("-id " + std::to_string(first.id) + " _NET_WM_STATE").find("MAXIMIZED_HORZ"), std::string::npos);
  reply = Act(first.id, "minimize");
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  EXPECT_NE(Xprop("-id " + std::to_string(first.id) + " _NET_WM_STATE").find("HIDDEN"), std::string::npos);
  const Json all = daemon_->Call("list_windows")["result"]["windows"];
  EXPECT_EQ(all.size(), 2u) << all.dump();
  for (const Json& window : all) EXPECT_EQ(window["minimized"], window["id"] == first.id) << all.dump();
  reply = Act(first.id, "restore");
  EXPECT_EQ(reply["result"]["verified"], true) << reply.dump();
  EXPECT_EQ(Xprop("-id " + std::to_string(first.id) + " _NET_WM_STATE").find("HIDDEN"), std::string::npos);

  reply = Act(second.id, "close");
  EXPECT_EQ(reply["result"], Json({{"bounds", nullptr}, {"done", true}, {"verified", true}})) << reply.dump();
  EXPECT_FALSE(second.process->ReadLine(10s)) << "the window's program is still running";
  EXPECT_EQ(Act(second.id, "raise")["error"], "unknown window: " + std::to_string(second.id));
}

}  // namespace
}  // namespace tarvix::testing
