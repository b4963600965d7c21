#include "tools/desktop/displays.h"

#include <gtest/gtest.h>

namespace tarvix {
namespace {

DisplayQuery Fixed(std::vector<DisplayInfo> displays) {
  return [displays]() -> Result<std::vector<DisplayInfo>> { return displays; };
}

TEST(DisplaysTest, ListsDisplaysWithTheirBounds) {
  struct Case {
    const char* name;
    std::vector<DisplayInfo> displays;
    const char* json;
  } cases[] = {
      {"none", {}, R"({"bounds":{"h":0,"w":0,"x":0,"y":0},"displays":[]})"},
      {"one", {{.id = 1, .name = "eDP-1", .width = 1920, .height = 1080, .primary = true}},
       R"({"bounds":{"h":1080,"w":1920,"x":0,"y":0},"displays":[{"height":1080,"id":1,)"
       R"("name":"eDP-1","primary":true,"scale":1,"width":1920,"x":0,"y":0}]})"},
      {"left of and below the main one, retina",
       {{.id = 69733248, .name = "a", .width = 1440, .height = 900, .scale = 2, .primary = true},
        {.id = 2, .name = "b", .x = -1280, .y = 500, .width = 1280, .height = 1024,
         .scale = 1.5}},
       R"({"bounds":{"h":1524,"w":2720,"x":-1280,"y":0},"displays":[{"height":900,)"
       R"("id":69733248,"name":"a","primary":true,"scale":2,"width":1440,"x":0,"y":0},)"
       R"({"height":1024,"id":2,"name":"b","primary":false,"scale":1.5,"width":1280,)"
       R"("x":-1280,"y":500}]})"},
  };
  for (const Case& c : cases) {
    ToolResult result = DisplaysFrom(Fixed(c.displays));
    ASSERT_TRUE(result) << c.name;
    EXPECT_EQ(ToJsonText(*result), c.json) << c.name;
  }
  ToolResult failed = DisplaysFrom([]() -> Result<std::vector<DisplayInfo>> {
    return Error("unavailable: the X server did not answer within 2 s");
  });
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), "unavailable: the X server did not answer within 2 s");
}

}  // namespace
}  // namespace tarvix
