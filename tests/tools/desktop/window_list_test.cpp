#include "tools/desktop/window_list.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

WindowRecord Window(std::string app, std::string title, std::optional<int64_t> pid,
                    std::optional<int64_t> layer) {
  WindowRecord w;
  w.owner_name = std::move(app);
  w.title = std::move(title);
  w.owner_pid = pid;
  w.layer = layer;
  return w;
}

WindowQuery Fixed(std::vector<WindowRecord> windows) {
  return [windows]() -> Result<std::vector<WindowRecord>> { return windows; };
}

const WindowQuery kUnreachable = []() -> Result<std::vector<WindowRecord>> {
  return Error("window list unavailable - no server");
};

TEST(TruncateCoordinateTest, TowardZeroNanZeroSaturating) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double in;
    int64_t out;
  } cases[] = {
      {10.7, 10}, {-3.9, -3}, {0.0, 0}, {std::nan(""), 0},
      {1e300, std::numeric_limits<int64_t>::max()}, {inf, std::numeric_limits<int64_t>::max()},
      {-inf, std::numeric_limits<int64_t>::min()}, {-9223372036854775808.0, std::numeric_limits<int64_t>::min()},
  };
  for (const Case& c : cases) EXPECT_EQ(TruncateCoordinate(c.in), c.out) << c.in;
}

TEST(FrontApplicationTest, FirstLayerZeroWindowWithAnOwner) {
  struct Case {
    const char* name;
    std::vector<WindowRecord> windows;
    std::optional<int32_t> front;
  } cases[] = {
      {"panel passed over", {Window("panel", "", 10, 20), Window("app", "", 11, 0)}, 11},
      {"absent layer is 0", {Window("app", "", 12, std::nullopt), Window("b", "", 13, 0)}, 12},
      {"no pid passed over", {Window("x", "", std::nullopt, 0), Window("app", "", 14, 0)}, 14},
      {"nothing qualifies", {Window("panel", "", 10, 3), Window("x", "", std::nullopt, 0)}, {}},
      {"empty", {}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(FrontApplication(Fixed(c.windows)), c.front) << c.name;
  EXPECT_EQ(FrontApplication(kUnreachable), std::nullopt);
}

TEST(WindowSummaryListTest, KeepsOrderAndLayersDropsNamelessWindows) {
  WindowRecord framed = Window("Gedit", "notes.txt", 5, 0);
  framed.x = 10.7;
  framed.y = -3.9;
  framed.width = 300.5;
  framed.height = std::nan("");
  const std::vector<WindowRecord> windows = {
      Window("Panel", "", std::nullopt, 20), Window("", "", 7, 0), framed,
      Window("", "Untitled", std::nullopt, std::nullopt)};
  ToolResult list = WindowSummaryList(Fixed(windows));
  ASSERT_TRUE(list.has_value());
  EXPECT_EQ(ToJsonText(*list),
            R"([{"app":"Panel","h":0,"title":"","w":0,"x":0,"y":0},)"
            R"({"app":"Gedit","h":0,"title":"notes.txt","w":300,"x":10,"y":-3},)"
            R"({"app":"","h":0,"title":"Untitled","w":0,"x":0,"y":0}])");

  EXPECT_EQ(ToJsonText(*WindowSummaryList(Fixed({}))), "[]");
  EXPECT_EQ(WindowSummaryList(kUnreachable).error(), "window list unavailable - no server");
}

// A query that failed is not asked again within the same call: the window
// server that did not answer costs one wait, and both uses see its error.
TEST(UntilFailureTest, AsksAgainOnlyAfterSuccess) {
  int asked = 0;
  bool fail = false;
  const WindowQuery counted = [&]() -> Result<std::vector<WindowRecord>> {
    ++asked;
    if (fail) return Error("window list unavailable - silent");
    return std::vector<WindowRecord>{};
  };
  WindowQuery once = UntilFailure(counted);
  EXPECT_TRUE(once().has_value());
  EXPECT_TRUE(once().has_value());
  fail = true;
  EXPECT_EQ(FrontApplication(once), std::nullopt);
  EXPECT_EQ(WindowSummaryList(once).error(), "window list unavailable - silent");
  fail = false;
  EXPECT_FALSE(once().has_value());
  EXPECT_EQ(asked, 3);
}

}  // namespace
}  // namespace tarvix
