// key_combo, pointer and drag through the real daemon on a private X
// session, seen by a GTK window (chord_probe.py), the window manager and
// the server itself.
#include <signal.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/x_session.h"

namespace tarvix::testing {
namespace {

using std::chrono::milliseconds;
using namespace std::chrono_literals;

constexpr int kButton1Mask = 0x100;

class ChordsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    session_ = XSession::Start(24, 1280, 800).release();
    if (session_ == nullptr || !session_->StartWindowManager()) return;
    probe_ = session_->LaunchPython("chord_probe.py", {}).release();
    ready_ = NextWith("ready", 10s);
    if (ready_.is_null()) return;
    daemon_ = TestDaemon::Start({.allow_exec = true, .env = session_->Env()}).release();
  }
  static void TearDownTestSuite() {
    delete daemon_;
    delete probe_;
    delete session_;
    daemon_ = nullptr;
    probe_ = nullptr;
    session_ = nullptr;
  }
  void SetUp() override {
    if (daemon_ == nullptr) GTEST_SKIP() << "no private X session (Xvfb, openbox, GTK)";
    Drain();
  }

  static Json NextWith(const char* member, milliseconds timeout) {
    return probe_->NextReportWith(member, timeout);
  }
  static void Drain() { probe_->Drain(300ms); }
  static Json Result(const std::string& method, const Json& params) {
    const Json reply = daemon_->Call(method, params);
    EXPECT_EQ(reply.value("ok", false), true) << method << " " << reply.dump();
    return reply.value("result", Json());
  }
  // A point just inside the left edge of the text view's character at
  // `line`, `column`.
  static std::pair<int, int> Char(int line, int column) {
    const Json& at = ready_["chars"][std::to_string(line) + ":" + std::to_string(column)];
    return {at[0].get<int>(), at[1].get<int>()};
  }
  // The pointer's mask of buttons and modifiers, as the server has it.
  static int PointerMask() {
    xcb_connection_t* c = xcb_connect(session_->display().c_str(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
    const int mask = reply != nullptr ? reply->mask : -1;
    free(reply);
    xcb_disconnect(c);
    return mask;
  }

  static inline XSession* session_ = nullptr;
  static inline SessionProcess* probe_ = nullptr;
  static inline TestDaemon* daemon_ = nullptr;
  static inline Json ready_;
};

TEST_F(ChordsTest, ChordsFireAcceleratorsOnAnyLayout) {
  EXPECT_EQ(Result("key_combo", {{"keys", "ctrl+s"}}),
            Json({{"done", true}, {"keys", {"ctrl", "s"}}, {"repeat", 1}}));
  EXPECT_EQ(NextWith("accel", 3s), Json({{"accel", "save"}}));
  // No key of the session's US layout types é: a lent keycode does.
  EXPECT_EQ(Result("key_combo", {{"keys", {"Control", "\xC3\xA9"}}})["keys"],
            Json({"ctrl", "\xC3\xA9"}));
  EXPECT_EQ(NextWith("accel", 3s), Json({{"accel", "eacute"}}));
  // An upper-case letter comes with Shift.
  Result("key_combo", {{"keys", "alt+T"}});
  std::vector<std::string> keys;
  for (Json report; !(report = NextWith("key", 500ms)).is_null();) keys.push_back(report["key"]);
  EXPECT_EQ(keys, (std::vector<std::string>{"Alt_L", "Shift_L", "T"}));
}

TEST_F(ChordsTest, AltTabChangesTheActiveWindow) {
  auto other = session_->LaunchPython("gtk_window.py", {"--title", "other", "--pos", "700,500"});
  ASSERT_TRUE(other->ReadLine(10s).has_value());
  const auto active = [] {
    return session_->Run("xprop -root _NET_ACTIVE_WINDOW");
  };
  // The newest window has the focus; alt+Tab goes back to the probe.
  const std::string before = active();
  Result("key_combo", {{"keys", "alt+Tab"}});
  std::string after = before;
  for (int i = 0; i < 100 && after == before; ++i) {
    std::this_thread::sleep_for(20ms);
    after = active();
  }
  EXPECT_NE(after, before);
  EXPECT_NE(after.find("0x"), std::string::npos) << after;
  other.reset();
}

TEST_F(ChordsTest, ShiftClickExtendsAndTripleClickSelectsALine) {
  const auto [x0, y0] = Char(0, 2);
  const auto [x1, y1] = Char(0, 11);
  Result("pointer", {{"op", "click"}, {"x", x0}, {"y", y0}});
  EXPECT_EQ(Result("pointer", {{"op", "click"}, {"x", x1}, {"y", y1}, {"modifiers", {"shift"}}}),
            Json({{"done", true}, {"x", x1}, {"y", y1}}));
  EXPECT_EQ(NextWith("selection", 3s), Json({{"selection", {2, 11}}}));
  Drain();
  const auto [x2, y2] = Char(1, 4);
  Result("pointer", {{"op", "click"}, {"x", x2}, {"y", y2}, {"count", 3}});
  Json selection;
  for (Json report; !(report = NextWith("selection", 1s)).is_null();) selection = report;
  const Json& line = ready_["lines"][1];
  ASSERT_FALSE(selection.is_null());
  EXPECT_EQ(selection["selection"][0], line[0]);
  // GTK takes the line with or without its line break.
  EXPECT_GE(selection["selection"][1].get<int>(), line[1].get<int>());
  EXPECT_LE(selection["selection"][1].get<int>(), line[1].get<int>() + 1);
}

TEST_F(ChordsTest, DragMovesAScale) {
  const Json& scale = ready_["scale"];
  const int left = scale[0].get<int>() + 8, right = scale[0].get<int>() + scale[2].get<int>() - 2;
  const int y = scale[1].get<int>() + scale[3].get<int>() / 2;
  const Json dragged = Result("drag", {{"path", {{left, y}, {(left + right) / 2, y}, {right, y}}},
                                       {"duration_ms", 100}});
  EXPECT_EQ(dragged["from"], Json({left, y}));
  EXPECT_EQ(dragged["to"], Json({right, y}));
  EXPECT_EQ(dragged["events"], 23);
  int value = -1;
  for (Json report; !(report = NextWith("value", 1s)).is_null();) value = report["value"];
  EXPECT_EQ(value, 100);
  EXPECT_EQ(PointerMask() & kButton1Mask, 0);
}

TEST_F(ChordsTest, AHeldButtonLastsUntilUpAndGoesWithTheDaemon) {
  Result("pointer", {{"op", "down"}, {"x", 600}, {"y", 700}, {"modifiers", {"shift"}}});
  EXPECT_EQ(PointerMask() & kButton1Mask, kButton1Mask);
  EXPECT_EQ(Result("pointer", {{"op", "move"}, {"x", 610}, {"y", 700}}),
            Json({{"done", true}, {"x", 610}, {"y", 700}}));
  EXPECT_EQ(PointerMask(), kButton1Mask | 1);  // and Shift
  Result("pointer", {{"op", "up"}, {"button", "right"}});  // not held: nothing changes
  EXPECT_EQ(PointerMask(), kButton1Mask | 1);
  Result("pointer", {{"op", "up"}});
  EXPECT_EQ(PointerMask(), 0);

  // A shutdown releases what a daemon holds.
  auto daemon = TestDaemon::Start({.allow_exec = true, .env = session_->Env()});
  EXPECT_EQ(daemon->Call("pointer", {{"op", "down"}, {"x", 600}, {"y", 700}})["ok"], true);
  EXPECT_EQ(PointerMask(), kButton1Mask);
  kill(daemon->pid(), SIGTERM);
  EXPECT_EQ(daemon->WaitExit(5s), -SIGTERM);
  EXPECT_EQ(PointerMask(), 0);
}

TEST_F(ChordsTest, CursorIsWhereXdotoolSeesIt) {
  for (const auto& [x, y] : {std::pair{17, 23}, {1279, 799}, {640, 400}}) {
    Result("pointer", {{"op", "move"}, {"x", x}, {"y", y}});
    const Json cursor = Result("cursor", Json::object());
    EXPECT_EQ(session_->Run("xdotool getmouselocation | cut -d' ' -f1-2"),
              "x:" + std::to_string(cursor["x"].get<int>()) +
                  " y:" + std::to_string(cursor["y"].get<int>()) + "\n");
    EXPECT_EQ(cursor, Json({{"buttons", Json::array()},
                            {"display", 1},
                            {"keys", Json::array()},
                            {"x", x},
                            {"y", y}}));
  }
  Result("pointer", {{"op", "down"}, {"button", "middle"}, {"modifiers", {"alt"}}});
  const Json held = Result("cursor", Json::object());
  Result("pointer", {{"op", "up"}, {"button", "middle"}});
  EXPECT_EQ(held["buttons"], Json({"middle"}));
  EXPECT_EQ(held["keys"], Json({"alt"}));
}

TEST_F(ChordsTest, TheKeyboardMapIsLeftAsFoundAfterManyChords) {
  const std::string before = session_->Run("xmodmap -pke");
  ASSERT_NE(before.find("keycode"), std::string::npos);
  const char* chords[] = {"ctrl+\xD0\xB6", "shift+F13", "ctrl+alt+kp_5", "alt+\xC3\xB1",
                          "shift+\xE2\x82\xAC"};
  for (int i = 0; i < 1000; ++i) {
    const Json reply = daemon_->Call("key_combo", {{"keys", chords[i % std::size(chords)]}});
    ASSERT_EQ(reply.value("ok", false), true) << i << " " << reply.dump();
  }
  EXPECT_EQ(session_->Run("xmodmap -pke"), before);
  EXPECT_EQ(PointerMask(), 0);
}

}  // namespace
}  // namespace tarvix::testing
