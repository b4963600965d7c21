#include "tools/desktop/wait_for.h"

#include <gtest/gtest.h>

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A screen whose changes happen at scripted times on a clock of its own.
struct FakeScreen {
  Clock::time_point now{};
  std::vector<std::pair<int64_t, PointRect>> changes;  // (ms after start, where)
  size_t next = 0;

  int64_t Ms() const { return std::chrono::duration_cast<milliseconds>(now - Clock::time_point{}).count(); }
};

class FakeWatch final : public ScreenDamageWatch {
 public:
  explicit FakeWatch(FakeScreen* screen) : screen_(screen) {}
  Result<std::vector<PointRect>> Next(Clock::time_point until) override {
    FakeScreen& s = *screen_;
    if (s.next < s.changes.size() && Clock::time_point{} + milliseconds(s.changes[s.next].first) <= until) {
      s.now = std::max(s.now, Clock::time_point{} + milliseconds(s.changes[s.next].first));
      return std::vector<PointRect>{s.changes[s.next++].second};
    }
    s.now = std::max(s.now, until);
    return std::vector<PointRect>{};
  }

 private:
  FakeScreen* screen_;
};

WaitServices FakeServices(FakeScreen* screen) {
  WaitServices services;
  services.watch = [screen]() -> Result<std::unique_ptr<ScreenDamageWatch>> {
    return std::unique_ptr<ScreenDamageWatch>(std::make_unique<FakeWatch>(screen));
  };
  services.now = [screen] { return screen->now; };
  services.sleep_until = [screen](Clock::time_point until) { screen->now = std::max(screen->now, until); };
  // A window "Saved" exists from 300 ms to 800 ms.
  services.windows = [screen]() -> Result<std::vector<WindowRecord>> {
    std::vector<WindowRecord> windows = {{.owner_name = "editor", .title = "Notes", .x = 1}};
    if (screen->Ms() >= 300 && screen->Ms() < 800) {
      windows.push_back({.owner_name = "editor", .title = "File Saved", .x = 5, .y = 6, .width = 7, .height = 8});
    }
    return windows;
  };
  // An element "OK" from 450 ms on.
  services.find_element = [screen](const ElementCondition& condition) -> ToolResult {
    if (screen->Ms() >= 450 && condition.query == "ok") return Json{{"name", "OK"}};
    return Json(nullptr);
  };
  return services;
}

TEST(WaitForTest, ConditionsMetAndTimedOutOnAScriptedScreen) {
  const PointRect inside{10, 10, 5, 5}, outside{500, 500, 5, 5};
  const Json region = {{"x", 0}, {"y", 0}, {"w", 100}, {"h", 100}};
  struct Case {
    Json params;
    std::vector<std::pair<int64_t, PointRect>> changes;
    std::string expected;  // the result without matched, or the error
  } cases[] = {
      {{{"until", "settle"}}, {}, R"({"elapsed_ms":300,"met":true})"},
      {{{"until", "settle"}, {"region", region}}, {{100, inside}, {250, inside}},
       R"({"elapsed_ms":550,"met":true})"},
      // Changes outside the region do not hold a settle back.
      {{{"until", "settle"}, {"region", region}}, {{100, outside}, {200, outside}},
       R"({"elapsed_ms":300,"met":true})"},
      {{{"until", "settle"}, {"stable_ms", 0}}, {{0, inside}}, R"({"elapsed_ms":0,"met":true})"},
      {{{"until", "settle"}, {"timeout_ms", 1000}, {"stable_ms", 300}},
       {{200, inside}, {400, inside}, {600, inside}, {800, inside}, {900, inside}, {1100, inside}},
       R"({"elapsed_ms":1000,"met":false})"},
      {{{"until", "change"}, {"region", region}}, {{100, outside}, {700, inside}},
       R"({"elapsed_ms":700,"met":true})"},
      {{{"until", "change"}, {"timeout_ms", 250}}, {{300, inside}}, R"({"elapsed_ms":250,"met":false})"},
      {{{"until", "window"}, {"title", "saved"}}, {}, R"({"elapsed_ms":300,"met":true})"},
      {{{"until", "window"}, {"title", "SAVED"}, {"timeout_ms", 250}}, {},
       R"({"elapsed_ms":250,"met":false})"},
      {{{"until", "window_gone"}, {"title", "notes"}, {"timeout_ms", 150}}, {},
       R"({"elapsed_ms":150,"met":false})"},
      {{{"until", "element"}, {"query", "ok"}}, {}, R"({"elapsed_ms":500,"met":true})"},
      {{{"until", "element_gone"}, {"query", "ok"}}, {}, R"({"elapsed_ms":0,"met":true})"},
      {Json::object(), {}, "missing param: until"},
      {{{"until", "idle"}}, {},
       "invalid param: until must be one of settle, change, element, element_gone, window, "
       "window_gone"},
      {{{"until", "settle"}, {"timeout_ms", 60001}}, {},
       "invalid param: timeout_ms must be an integer from 0 to 60000"},
      {{{"until", "settle"}, {"stable_ms", -1}}, {},
       "invalid param: stable_ms must be an integer from 0 to 60000"},
      {{{"until", "change"}, {"region", {{"x", 0}, {"y", 0}, {"w", 0}, {"h", 5}}}}, {},
       "invalid param: region must be {x, y, w, h} with w and h above 0"},
      {{{"until", "window"}, {"title", ""}}, {}, "missing param: title"},
      {{{"until", "element"}}, {}, "missing param: query or role"},
  };
  for (const Case& c : cases) {
    FakeScreen screen;
    screen.changes = c.changes;
    ToolResult result = WaitFor(c.params, FakeServices(&screen));
    std::string got = result ? ToJsonText(Json{{"elapsed_ms", (*result)["elapsed_ms"]}, {"met", (*result)["met"]}})
                             : result.error();
    EXPECT_EQ(got, c.expected) << c.params;
  }
  // What was found comes back; a gone condition and a time-out find nothing.
  FakeScreen screen;
  EXPECT_EQ(WaitFor({{"until", "window"}, {"title", "Saved"}}, FakeServices(&screen))->at("matched"),
            Json::parse(R"({"app":"editor","h":8,"title":"File Saved","w":7,"x":5,"y":6})"));
  EXPECT_EQ(WaitFor({{"until", "window_gone"}, {"title", "Saved"}}, FakeServices(&screen))->at("matched"),
            nullptr);
}

TEST(WaitForTest, FailuresToLookAreErrors) {
  FakeScreen screen;
  WaitServices services = FakeServices(&screen);
  services.watch = []() -> Result<std::unique_ptr<ScreenDamageWatch>> {
    return Error("unavailable: the X server lacks the DAMAGE extension");
  };
  services.windows = []() -> Result<std::vector<WindowRecord>> { return Error("window list unavailable - x"); };
  services.find_element = nullptr;
  EXPECT_EQ(WaitFor({{"until", "settle"}}, services).error(),
            "unavailable: the X server lacks the DAMAGE extension");
  EXPECT_EQ(WaitFor({{"until", "window"}, {"title", "a"}}, services).error(), "window list unavailable - x");
  EXPECT_EQ(WaitFor({{"until", "element"}, {"role", "AXButton"}}, services).error(),
            "unavailable: no element tree on this platform");
}

}  // namespace
}  // namespace tarvix
