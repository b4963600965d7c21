// Window actions on macOS: the window list's record found again among its
// application's AX windows, acted on, and the effect read back.
#include <algorithm>

#include "fake_test.h"
#include "platform/window_control.h"

namespace tarvix {
namespace {

using macfake::Element;
using macfake::Point;
using macfake::Size;

constexpr int kPid = 900;

// "true", "false" or the error.
std::string Outcome(const WindowActionRequest& request) {
  const Result<bool> done = ControlWindow(request);
  return done ? (*done ? "true" : "false") : done.error();
}

class MacWindowControlTest : public MacFakeTest {
 protected:
  void SetUp() override {
    MacFakeTest::SetUp();
    macfake::Windows() = {Record(3, "Front"), Record(7, "Doc")};
    close_ = macfake::AddNode(kPid, {.actions = {"AXPress"}});
    zoom_ = macfake::AddNode(kPid, {.actions = {"AXPress"}});
    other_ = macfake::AddNode(kPid, {.attributes = {{"AXTitle", "Front"}}});
    window_ = macfake::AddNode(
        kPid, {.attributes = {{"AXTitle", "Doc"}, {"AXPosition", Point{100, 50}},
                              {"AXSize", Size{800, 600}}, {"AXMinimized", false},
                              {"AXZoomed", false}, {"AXCloseButton", Element{close_}},
                              {"AXZoomButton", Element{zoom_}}},
               .actions = {"AXRaise"},
               .settable = {"AXPosition", "AXSize", "AXMinimized", "AXMain"}});
    macfake::AxApplication& app = macfake::Application(kPid);
    app.nodes[0].attributes["AXWindows"] =
        macfake::ElementList{Element{other_}, Element{window_}};
    app.nodes[0].settable = {"AXFrontmost"};
    // The window server's side of each action.
    app.react = [this](int node, const std::string& name) {
      auto& windows = macfake::Windows();
      auto& attributes = macfake::Application(kPid).nodes[static_cast<size_t>(window_)].attributes;
      if (node == window_ && name == "AXRaise" && raises_) {
        std::rotate(windows.begin(), windows.begin() + 1, windows.end());
      } else if (node == window_ && name == "AXMinimized") {
        windows[1].on_screen = !std::get<bool>(attributes["AXMinimized"]);
      } else if (node == close_) {
        windows.pop_back();
      } else if (node == zoom_) {
        attributes["AXZoomed"] = !std::get<bool>(attributes["AXZoomed"]);
      }
    };
  }
  static macfake::WindowInfo Record(int64_t id, const char* title) {
    return {.entries = {{"kCGWindowNumber", id}, {"kCGWindowName", title},
                        {"kCGWindowOwnerPID", int64_t{kPid}},
                        {"kCGWindowBounds", macfake::Bounds{{{"X", 100.0}, {"Y", 50.0},
                                                             {"Width", 800.0},
                                                             {"Height", 600.0}}}}}};
  }
  std::string Log() {
    std::string log;
    for (const std::string& line : macfake::AxLog()) log += (log.empty() ? "" : "; ") + line;
    return log;
  }
  int close_ = 0, zoom_ = 0, other_ = 0, window_ = 0;
  bool raises_ = true;
};

TEST_F(MacWindowControlTest, ActionsAndTheirEffects) {
  struct Case {
    WindowActionRequest request;
    std::string log;  // with W for the window's node
  };
  const Case cases[] = {
      {{.window = 7, .action = WindowAction::kActivate},
       "set 0 AXFrontmost=true; set W AXMain=true; perform W AXRaise"},
      {{.window = 7, .action = WindowAction::kMinimize}, "set W AXMinimized=true"},
      {{.window = 7, .action = WindowAction::kMaximize}, "perform Z AXPress"},
      {{.window = 7, .action = WindowAction::kMove, .x = -20, .y = 30},
       "set W AXPosition=AXValue"},
      {{.window = 7, .action = WindowAction::kResize, .w = 640, .h = 480},
       "set W AXSize=AXValue"},
      {{.window = 7, .action = WindowAction::kClose}, "perform C AXPress"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    macfake::Reset();
    SetUp();
    EXPECT_EQ(Outcome(c.request), "true");
    std::string log = c.log;
    for (const auto& [mark, node] : {std::pair{'W', window_}, {'Z', zoom_}, {'C', close_}}) {
      for (size_t at; (at = log.find(std::string(" ") + mark + " ")) != std::string::npos;) {
        log.replace(at + 1, 1, std::to_string(node));
      }
    }
    EXPECT_EQ(Log(), log);
  }
}

TEST_F(MacWindowControlTest, RestoreUnminimizesAndUnzooms) {
  auto& attributes = macfake::Application(kPid).nodes[static_cast<size_t>(window_)].attributes;
  attributes["AXMinimized"] = true;
  attributes["AXZoomed"] = true;
  macfake::Windows()[1].on_screen = false;
  EXPECT_EQ(Outcome({.window = 7, .action = WindowAction::kRestore}), "true");
  EXPECT_EQ(std::get<bool>(attributes["AXZoomed"]), false);
  EXPECT_TRUE(macfake::Windows()[1].on_screen);
}

// The window whose frame differs from its record is found by its title
// when that is unique.
TEST_F(MacWindowControlTest, FoundByTitleWhenTheFrameDiffers) {
  macfake::Application(kPid).nodes[static_cast<size_t>(window_)].attributes["AXSize"] =
      Size{10, 10};
  EXPECT_EQ(Outcome({.window = 7, .action = WindowAction::kMinimize}), "true");
  macfake::Application(kPid).nodes[static_cast<size_t>(other_)].attributes["AXTitle"] = "Doc";
  EXPECT_EQ(Outcome({.window = 7, .action = WindowAction::kMinimize}),
            "unavailable: the window could not be reached - grant Tarvix 'Accessibility' in "
            "System Settings > Privacy & Security");
}

// A window that stops answering costs a second per message, as its
// application would.
TEST_F(MacWindowControlTest, WindowMessagesWaitAtMostASecond) {
  macfake::Application(kPid).node_answer_seconds = {{window_, 5}, {close_, 5}};
  EXPECT_EQ(Outcome({.window = 7, .action = WindowAction::kClose}),
            "unavailable: the window could not be reached - grant Tarvix 'Accessibility' in "
            "System Settings > Privacy & Security");
  EXPECT_EQ(macfake::LongestAxWait(), 1.0);
}

TEST_F(MacWindowControlTest, Failures) {
  EXPECT_EQ(Outcome({.window = 99}), "unknown window: 99");
  macfake::Application(kPid).nodes[static_cast<size_t>(window_)].attributes.erase("AXCloseButton");
  EXPECT_EQ(Outcome({.window = 7, .action = WindowAction::kClose}),
            "unavailable: the window did not take the action");
  // Raised, but the window server never shows it in front: not seen.
  raises_ = false;
  EXPECT_EQ(Outcome({.window = 7, .action = WindowAction::kRaise}), "false");
}

}  // namespace
}  // namespace tarvix
