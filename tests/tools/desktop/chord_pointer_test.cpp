// key_combo, pointer and drag against the recording backend: the order of
// presses and releases, releases after failures, and what the input loop
// holds between requests.
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fakes/recording_input_backend.h"
#include "tools/desktop/cursor.h"
#include "tools/desktop/input_session.h"
#include "tools/desktop/key_combo.h"
#include "tools/desktop/key_names.h"
#include "tools/desktop/pointer_action.h"

namespace tarvix {
namespace {

using Log = std::vector<std::string>;
using std::chrono::milliseconds;

class FakeClock : public PacerClock {
 public:
  TimePoint Now() override { return now_; }
  void SleepUntil(TimePoint deadline) override {
    if (deadline <= now_) return;
    slept_.push_back(std::chrono::duration_cast<milliseconds>(deadline - now_).count());
    now_ = deadline;
  }
  void Advance(std::chrono::nanoseconds by) { now_ += by; }
  std::vector<int64_t> slept_;

 private:
  TimePoint now_ = TimePoint{} + std::chrono::hours(1);
};

class ChordPointerTest : public ::testing::Test {
 protected:
  InputBackendOpener Opener(std::string fail_on = "", int fail_after = 0) {
    return [this, fail_on, fail_after]() -> Result<std::unique_ptr<InputBackend>> {
      log_.push_back("open");
      return std::unique_ptr<InputBackend>(new RecordingBackend(&log_, fail_on, fail_after));
    };
  }
  ToolResult Combo(const Json& params, std::string fail_on = "", int fail_after = 0) {
    log_.clear();
    return session_.held.Finish(
        PerformKeyCombo(params, session_.held, clock_, Opener(fail_on, fail_after)));
  }
  ToolResult Pointer(const Json& params, std::string fail_on = "", int fail_after = 0) {
    log_.clear();
    return session_.held.Finish(PerformPointer(params, session_, Opener(fail_on, fail_after)));
  }
  ToolResult Drag(const Json& params, std::string fail_on = "", int fail_after = 0) {
    log_.clear();
    return session_.held.Finish(
        PerformDrag(params, session_, clock_, Opener(fail_on, fail_after)));
  }

  FakeClock clock_;
  Log log_;
  InputSession session_{ClickPacer(clock_), HeldInput(clock_)};
};

TEST(ChordNamesTest, SplitAndResolve) {
  const std::pair<std::string, std::vector<std::string>> splits[] = {
      {"ctrl+shift+t", {"ctrl", "shift", "t"}}, {"ctrl++", {"ctrl", "+"}},
      {"+", {"+"}}, {"a", {"a"}}, {"", {}}, {"ctrl+", {}}, {"++a", {"+", "a"}},
      {"alt+F4", {"alt", "F4"}},
  };
  for (const auto& [chord, names] : splits) EXPECT_EQ(SplitChord(chord), names) << chord;

  // name, what a chord reports, whether "input"'s key action takes it too.
  const std::tuple<std::string, std::string, bool> names[] = {
      {"Control", "ctrl", true},  {"esc", "escape", true},   {"DEL", "delete", true},
      {"win", "meta", true},      {"super", "meta", true},    {"cmd", "meta", true},
      {"pgup", "page_up", false}, {"PgDn", "page_down", false}, {"option", "alt", false},
      {"f13", "f13", false},      {"F24", "f24", false},      {"insert", "insert", false},
      {"print_screen", "print_screen", false}, {"menu", "menu", false},
      {"pause", "pause", false},  {"num_lock", "num_lock", false},
      {"scroll_lock", "scroll_lock", false},   {"kp_0", "kp_0", false},
      {"KP_9", "kp_9", false},    {"kp_enter", "kp_enter", false},
      {"kp_plus", "kp_plus", false}, {"kp_minus", "kp_minus", false},
      {"kp_multiply", "kp_multiply", false}, {"kp_divide", "kp_divide", false},
      {"kp_decimal", "kp_decimal", false},   {"S", "S", true},
      {"\xC3\xA9", "\xC3\xA9", true}, {"\xD0\xB6", "\xD0\xB6", true},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", true}, {"+", "+", true},
  };
  for (const auto& [name, reported, in_input] : names) {
    const std::optional<Key> key = ResolveChordKeyName(name);
    ASSERT_TRUE(key.has_value()) << name;
    EXPECT_EQ(ReportedKeyName(*key), reported) << name;
    EXPECT_EQ(ResolveKeyName(name).has_value(), in_input) << name;
  }
  for (const char* unknown : {"f25", "kp_10", "ctrlx", "", "ab"}) {
    EXPECT_FALSE(ResolveChordKeyName(unknown).has_value()) << unknown;
  }
}

TEST_F(ChordPointerTest, ChordsPressInOrderAndReleaseInReverse) {
  struct Case {
    Json params;
    std::string fail_on;
    int fail_after;
    std::string answer;  // the reply, or the error
    Log log;
  };
  const Case cases[] = {
      {{{"keys", "ctrl+shift+t"}}, "", 0,
       R"({"done":true,"keys":["ctrl","shift","t"],"repeat":1})",
       {"open", "down ctrl", "down shift", "down t", "up t", "up shift", "up ctrl", "close"}},
      {{{"keys", {"Control", "\xC3\xA9"}}, {"repeat", 2}}, "", 0,
       R"({"done":true,"keys":["ctrl","é"],"repeat":2})",
       {"open", "down ctrl", "down \xC3\xA9", "up \xC3\xA9", "up ctrl", "down ctrl",
        "down \xC3\xA9", "up \xC3\xA9", "up ctrl", "close"}},
      // A key that fails to go down goes up again with those before it.
      {{{"keys", "ctrl+alt+delete"}}, "keydown", 2,
       "key failed: simulating input failed: (failed creating event)",
       {"open", "down ctrl", "down alt", "down delete", "up delete", "up alt", "up ctrl",
        "close"}},
      // A failed release still releases the rest, and later rounds are off.
      {{{"keys", "ctrl+s"}, {"repeat", 3}}, "keyup", 0,
       "key failed: simulating input failed: (failed creating event)",
       {"open", "down ctrl", "down s", "up s", "up ctrl", "close"}},
      {{{"keys", "ctrl+x+y"}, {"repeat", 0}}, "", 0,
       "invalid param: repeat must be an integer from 1 to 100", {}},
      {{{"keys", "a"}, {"repeat", 101}}, "", 0,
       "invalid param: repeat must be an integer from 1 to 100", {}},
      {{{"keys", "a"}, {"hold_ms", 10001}}, "", 0,
       "invalid param: hold_ms must be an integer from 0 to 10000", {}},
      {{{"keys", "a"}, {"hold_ms", 1.5}}, "", 0,
       "invalid param: hold_ms must be an integer from 0 to 10000", {}},
      {{{"keys", "ctrl+"}}, "", 0, "invalid param: keys must name 1 to 8 keys", {}},
      {{{"keys", Json::array()}}, "", 0, "invalid param: keys must name 1 to 8 keys", {}},
      {{{"keys", {"a", 1}}}, "", 0, "invalid param: keys must name 1 to 8 keys", {}},
      {{{"keys", "a+b+c+d+e+f+g+h+i"}}, "", 0, "invalid param: keys must name 1 to 8 keys",
       {}},
      {{{"keys", 5}}, "", 0, "invalid param: keys must name 1 to 8 keys", {}},
      {{{"repeat", 2}}, "", 0, "missing param: keys", {}},
      {{{"keys", "ctrl+hyper"}}, "", 0, "unknown key name: hyper", {}},
  };
  for (const Case& c : cases) {
    const ToolResult result = Combo(c.params, c.fail_on, c.fail_after);
    EXPECT_EQ(result ? ToJsonText(*result) : result.error(), c.answer) << c.params.dump();
    EXPECT_EQ(log_, c.log) << c.params.dump();
  }
}

TEST_F(ChordPointerTest, HoldWaitsBetweenPressAndRelease) {
  ASSERT_TRUE(Combo({{"keys", "shift+a"}, {"hold_ms", 120}, {"repeat", 2}}));
  EXPECT_EQ(clock_.slept_, (std::vector<int64_t>{50, 50, 20, 50, 50, 20}));
  EXPECT_EQ(log_.size(), 10u);
}

TEST_F(ChordPointerTest, PointerOps) {
  struct Case {
    Json params;
    std::string answer;
    Log log;
  };
  const Case cases[] = {
      {{{"op", "move"}, {"x", 10}, {"y", -20}}, R"({"done":true,"x":10,"y":-20})",
       {"open", "move 10,-20", "close"}},
      {{{"op", "click"}, {"x", 5}, {"y", 6}, {"count", 3}, {"modifiers", {"shift"}}},
       R"({"done":true,"x":5,"y":6})",
       {"open", "down shift", "move 5,6", "click left", "click left x2", "click left x3",
        "up shift", "close"}},
      {{{"op", "click"}, {"x", 1}, {"y", 1}, {"button", "right"}},
       R"({"done":true,"x":1,"y":1})", {"open", "move 1,1", "click right", "close"}},
      {{{"op", "scroll"}, {"x", 0}, {"y", 0}, {"dy", 2}, {"dx", -1}},
       R"({"done":true,"x":0,"y":0})", {"open", "move 0,0", "vscroll -2", "hscroll -1", "close"}},
      // Nothing held: "up" posts nothing.
      {{{"op", "up"}, {"x", 3}, {"y", 3}}, R"({"done":true,"x":0,"y":0})", {"open", "close"}},
      {{{"op", "move"}, {"x", 1}}, "missing param: y", {}},
      {{{"op", "move"}}, "missing param: x", {}},
      {{{"op", "click"}, {"y", 1}}, "missing param: x", {}},
      {{{"op", "click"}, {"x", "1"}, {"y", 1}}, "invalid param: x must be an integer", {}},
      {{{"op", "click"}, {"count", 4}}, "invalid param: count must be an integer from 1 to 3",
       {}},
      {{{"op", "click"}, {"button", "LEFT"}}, "invalid param: button must be left, middle or right",
       {}},
      {{{"op", "scroll"}, {"dy", 0.5}}, "invalid param: dy must be an integer", {}},
      {{{"op", "click"}, {"modifiers", "shift"}},
       "invalid param: modifiers must be an array of at most 8 key names", {}},
      {{{"op", "click"}, {"modifiers", {"shift", "hyper"}}}, "unknown key name: hyper", {}},
      {{{"op", "drag"}}, "invalid param: op must be move, down, up, click or scroll", {}},
      {{{"x", 1}}, "missing param: op", {}},
  };
  for (const Case& c : cases) {
    const ToolResult result = Pointer(c.params);
    EXPECT_EQ(result ? ToJsonText(*result) : result.error(), c.answer) << c.params.dump();
    EXPECT_EQ(log_, c.log) << c.params.dump();
  }
}

// A button left down stays down across requests on the one backend, with
// the modifiers pressed for it, until "up", a failed request or the idle
// time releases it.
TEST_F(ChordPointerTest, HeldButtonOutlivesItsRequest) {
  ASSERT_TRUE(Pointer({{"op", "down"}, {"x", 1}, {"y", 2}, {"modifiers", {"ctrl"}}}));
  EXPECT_EQ(log_, (Log{"open", "down ctrl", "move 1,2", "press left"}));
  EXPECT_EQ(session_.held.buttons(), std::vector<MouseButton>{MouseButton::kLeft});
  ASSERT_EQ(session_.held.keys().size(), 1u);
  EXPECT_EQ(ReportedKeyName(session_.held.keys()[0]), "ctrl");
  ASSERT_TRUE(Pointer({{"op", "move"}, {"x", 9}, {"y", 9}}));
  EXPECT_EQ(log_, (Log{"move 9,9"}));  // no open: the held backend
  ASSERT_TRUE(Combo({{"keys", "shift"}}));
  EXPECT_EQ(log_, (Log{"down shift", "up shift"}));
  ASSERT_TRUE(Pointer({{"op", "up"}, {"button", "right"}}));  // not held: nothing
  EXPECT_EQ(log_, Log{});
  ASSERT_TRUE(Pointer({{"op", "up"}}));
  EXPECT_EQ(log_, (Log{"release left", "up ctrl", "close"}));
  EXPECT_EQ(session_.held.WakeAt(), std::nullopt);

  // A later request that fails releases it.
  ASSERT_TRUE(Pointer({{"op", "down"}, {"x", 0}, {"y", 0}}, "move", 1));
  EXPECT_EQ(Pointer({{"op", "move"}, {"x", 1}, {"y", 1}}).error(),
            "move failed: simulating input failed: (failed creating event)");
  EXPECT_EQ(log_, (Log{"move 1,1", "release left", "close"}));
  EXPECT_TRUE(session_.held.buttons().empty());
  ASSERT_TRUE(Pointer({{"op", "down"}, {"button", "middle"}}, "move"));
  EXPECT_EQ(Combo({{"keys", "nothing"}}).error(), "unknown key name: nothing");
  EXPECT_EQ(log_, (Log{"release middle", "close"}));

  // The idle time, counted from the last request.
  ASSERT_TRUE(Pointer({{"op", "down"}}));
  clock_.Advance(std::chrono::seconds(20));
  ASSERT_TRUE(Pointer({{"op", "move"}, {"x", 2}, {"y", 2}}));
  clock_.Advance(std::chrono::seconds(29));
  session_.held.ReleaseIfDue();
  EXPECT_EQ(session_.held.buttons().size(), 1u);
  EXPECT_EQ(session_.held.WakeAt(), clock_.Now() + milliseconds(50));
  log_.clear();
  clock_.Advance(std::chrono::seconds(1));
  session_.held.ReleaseIfDue();
  EXPECT_EQ(log_, (Log{"release left", "close"}));
  EXPECT_EQ(session_.held.WakeAt(), std::nullopt);
}

TEST_F(ChordPointerTest, DragPressesMovesInStepsAndAlwaysReleases) {
  const ToolResult dragged = Drag({{"path", {{0, 0}, {10, 4}, {10, 10}}},
                                   {"steps", 2},
                                   {"duration_ms", 400},
                                   {"modifiers", {"alt"}}});
  ASSERT_TRUE(dragged) << dragged.error();
  EXPECT_EQ(ToJsonText(*dragged), R"({"done":true,"events":7,"from":[0,0],"to":[10,10]})");
  EXPECT_EQ(log_, (Log{"open", "down alt", "move 0,0", "press left", "move 5,2", "move 10,4",
                       "move 10,7", "move 10,10", "release left", "up alt", "close"}));
  EXPECT_EQ(clock_.slept_, (std::vector<int64_t>{100, 100, 100, 100}));

  clock_.slept_.clear();
  EXPECT_EQ(Drag({{"path", {{0, 0}, {4, 0}}}, {"steps", 4}, {"duration_ms", 0}}, "move", 2)
                .error(),
            "move failed: simulating input failed: (failed creating event)");
  EXPECT_EQ(log_, (Log{"open", "move 0,0", "press left", "move 1,0", "move 2,0",
                       "release left", "close"}));
  EXPECT_TRUE(clock_.slept_.empty());

  const std::pair<Json, std::string> refused[] = {
      {Json::object(), "missing param: path"},
      {{{"path", {{0, 0}}}}, "invalid param: path must be 2 to 64 [x, y] integer points"},
      {{{"path", {{0, 0}, {1}}}}, "invalid param: path must be 2 to 64 [x, y] integer points"},
      {{{"path", {{0, 0}, {1, 0.5}}}},
       "invalid param: path must be 2 to 64 [x, y] integer points"},
      {{{"path", std::vector<std::vector<int>>(65, {1, 1})}},
       "invalid param: path must be 2 to 64 [x, y] integer points"},
      {{{"path", {{0, 0}, {1, 1}}}, {"steps", 0}},
       "invalid param: steps must be an integer from 1 to 100"},
      {{{"path", {{0, 0}, {1, 1}}}, {"duration_ms", -1}},
       "invalid param: duration_ms must be an integer from 0 to 10000"},
  };
  for (const auto& [params, error] : refused) {
    EXPECT_EQ(Drag(params).error(), error) << params.dump();
    EXPECT_EQ(log_, Log{}) << params.dump();
  }
}

TEST_F(ChordPointerTest, CursorReportsWhatTheDaemonHolds) {
  PointerLocation at{-5, 7, 2};
  const auto locate = [&]() -> Result<PointerLocation> { return at; };
  EXPECT_EQ(ToJsonText(*ReportCursor(session_.held, locate)),
            R"({"buttons":[],"display":2,"keys":[],"x":-5,"y":7})");
  ASSERT_TRUE(Pointer({{"op", "down"}, {"button", "right"}, {"modifiers", {"control", "win"}}}));
  at.display.reset();
  EXPECT_EQ(ToJsonText(*ReportCursor(session_.held, locate)),
            R"({"buttons":["right"],"display":null,"keys":["ctrl","meta"],"x":-5,"y":7})");
  const auto unreachable = []() -> Result<PointerLocation> {
    return Error("no connection could be established: (cannot open the X display)");
  };
  EXPECT_EQ(ReportCursor(session_.held, unreachable).error(),
            "input unavailable: no connection could be established: (cannot open the X "
            "display)" + std::string(kInputUnavailableHint));
}

}  // namespace
}  // namespace tarvix
