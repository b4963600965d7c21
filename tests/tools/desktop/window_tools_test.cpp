#include "tools/desktop/window_tools.h"

#include <gtest/gtest.h>

namespace tarvix {
namespace {

// Two windows, the second minimized; display 1 left of x = 1000, 2 right.
WindowServices FakeServices(std::vector<WindowActionRequest>* asked) {
  WindowServices services;
  services.windows = []() -> Result<std::vector<WindowRecord>> {
    return std::vector<WindowRecord>{
        {.id = 0x400003, .owner_name = "editor", .title = "Notes", .owner_pid = 41,
         .focused = true, .x = 10, .y = 20, .width = 300, .height = 200},
        {.id = 0x500001, .owner_name = "", .title = "", .x = 1, .y = 1, .width = 1, .height = 1},
        {.id = 0x600007, .owner_name = "viewer", .title = "Photo", .minimized = true,
         .x = 1500.7, .y = 5, .width = 100, .height = 100},
    };
  };
  services.control = [asked](const WindowActionRequest& request) -> Result<bool> {
    asked->push_back(request);
    if (request.window == 99) return Error("unknown window: 99");
    return request.action != WindowAction::kRaise;
  };
  services.displays = []() -> Result<std::vector<DisplayInfo>> {
    return std::vector<DisplayInfo>{{.id = 1, .x = 0, .y = 0, .width = 1000, .height = 800},
                                    {.id = 2, .x = 1000, .y = 0, .width = 1000, .height = 800}};
  };
  return services;
}

TEST(WindowToolsTest, ListHasIdsStatesAndDisplays) {
  std::vector<WindowActionRequest> asked;
  EXPECT_EQ(ListWindows(Json::object(), FakeServices(&asked)).value(), Json::parse(R"({"windows":[
      {"app":"editor","display":1,"focused":true,"h":200,"id":4194307,"minimized":false,
       "pid":41,"title":"Notes","w":300,"x":10,"y":20},
      {"app":"viewer","display":2,"focused":false,"h":100,"id":6291463,"minimized":true,
       "pid":null,"title":"Photo","w":100,"x":1500,"y":5}]})"));
}

TEST(WindowToolsTest, ActionsAreCheckedAskedAndAnswered) {
  struct Case {
    Json params;
    std::string expected;  // reply or error
  } cases[] = {
      {{{"window", 4194307}, {"action", "activate"}},
       R"({"bounds":{"h":200,"w":300,"x":10,"y":20},"done":true,"verified":true})"},
      {{{"window", 4194307}, {"action", "raise"}},
       R"({"bounds":{"h":200,"w":300,"x":10,"y":20},"done":true,"verified":false})"},
      {{{"window", 123}, {"action", "close"}}, R"({"bounds":null,"done":true,"verified":true})"},
      {{{"window", 99}, {"action", "close"}}, "unknown window: 99"},
      {{{"action", "close"}}, "missing param: window"},
      {{{"window", -1}, {"action", "close"}}, "invalid param: window must be a window id from list_windows"},
      {{{"window", 1}}, "missing param: action"},
      {{{"window", 1}, {"action", "shade"}},
       "invalid param: action must be one of activate, raise, minimize, maximize, restore, close, "
       "move, resize"},
      {{{"window", 1}, {"action", "move"}, {"x", 5}}, "missing param: y"},
      {{{"window", 1}, {"action", "move"}, {"x", 40000}, {"y", 0}},
       "invalid param: x must be an integer from -32768 to 32767"},
      {{{"window", 1}, {"action", "resize"}, {"w", 0}, {"h", 10}},
       "invalid param: w must be an integer from 1 to 32767"},
  };
  std::vector<WindowActionRequest> asked;
  const WindowServices services = FakeServices(&asked);
  for (const Case& c : cases) {
    ToolResult result = WindowActionTool(c.params, services);
    EXPECT_EQ(result ? ToJsonText(*result) : result.error(), c.expected) << c.params;
  }
  // Only the valid requests reached the window manager, with their numbers.
  ASSERT_EQ(asked.size(), 4u);
  EXPECT_TRUE(WindowActionTool({{"window", 7}, {"action", "move"}, {"x", -20}, {"y", 30}}, services));
  EXPECT_TRUE(WindowActionTool({{"window", 7}, {"action", "resize"}, {"w", 640}, {"h", 480}}, services));
  ASSERT_EQ(asked.size(), 6u);
  EXPECT_EQ(asked[4].action, WindowAction::kMove);
  EXPECT_EQ(asked[4].x, -20);
  EXPECT_EQ(asked[4].y, 30);
  EXPECT_EQ(asked[5].w, 640);
  EXPECT_EQ(asked[5].h, 480);
}

}  // namespace
}  // namespace tarvix
