// The window list from the window server's records: the macOS query under
// the shared entry rules of the window summaries and the front application.
#include <cmath>
#include <limits>

#include "fake_test.h"
#include "platform/window_query.h"
#include "tools/desktop/window_list.h"

namespace tarvix {
namespace {

using macfake::Bounds;
using Entries = std::map<std::string, macfake::Value>;

class MacWindowQueryTest : public MacFakeTest {};

TEST_F(MacWindowQueryTest, RecordsFollowTheEntryRules) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    Entries entries;
    const char* summary;  // "" when the window is left out
  };
  const Case cases[] = {
      {"complete record",
       {{"kCGWindowOwnerName", "Safari"}, {"kCGWindowName", "Start"},
        {"kCGWindowBounds", Bounds{{{"X", 10.0}, {"Y", 20.0}, {"Width", 300.0},
                                    {"Height", 200.0}}}}},
       R"({"app":"Safari","h":200,"title":"Start","w":300,"x":10,"y":20})"},
      {"fractions truncate toward zero, NaN is 0",
       {{"kCGWindowName", "t"},
        {"kCGWindowBounds", Bounds{{{"X", 10.7}, {"Y", -3.9}, {"Width", nan}, {"Height", 1e30}}}}},
       R"({"app":"","h":9223372036854775807,"title":"t","w":0,"x":10,"y":-3})"},
      {"integer rectangle numbers",
       {{"kCGWindowOwnerName", "Finder"},
        {"kCGWindowBounds", Bounds{{{"X", int64_t{-5}}, {"Y", int64_t{7}}, {"Width", int64_t{8}},
                                    {"Height", int64_t{9}}}}}},
       R"({"app":"Finder","h":9,"title":"","w":8,"x":-5,"y":7})"},
      {"a rectangle entry that is not a number is 0",
       {{"kCGWindowOwnerName", "A"},
        {"kCGWindowBounds", Bounds{{{"X", "12"}, {"Width", 4.0}}}}},
       R"({"app":"A","h":0,"title":"","w":4,"x":0,"y":0})"},
      {"bounds that are not a dictionary",
       {{"kCGWindowOwnerName", "A"}, {"kCGWindowBounds", int64_t{4}}},
       R"({"app":"A","h":0,"title":"","w":0,"x":0,"y":0})"},
      {"names that are not strings read as empty: left out",
       {{"kCGWindowOwnerName", int64_t{1}}, {"kCGWindowName", true}}, ""},
      {"non-ASCII names (read through CFStringGetBytes)",
       {{"kCGWindowOwnerName", "Vorschau"}, {"kCGWindowName", "Bild \xC3\xBC \xF0\x9F\x98\x80"}},
       "{\"app\":\"Vorschau\",\"h\":0,\"title\":\"Bild \xC3\xBC \xF0\x9F\x98\x80\",\"w\":0,"
       "\"x\":0,\"y\":0}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    macfake::Windows() = {{.entries = c.entries}};
    const ToolResult list = WindowSummaryList();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->dump(), std::string("[") + c.summary + "]");
  }
  // Every query asks for the on-screen windows without desktop elements.
  EXPECT_THAT(macfake::WindowListCalls(), ::testing::Each(0x11u));
}

TEST_F(MacWindowQueryTest, FrontApplicationIsTheFirstLayerZeroWindowWithAnOwner) {
  struct Case {
    const char* name;
    std::vector<Entries> windows;
    std::optional<int32_t> front;
  };
  const Case cases[] = {
      {"a non-zero layer is passed over",
       {{{"kCGWindowLayer", int64_t{25}}, {"kCGWindowOwnerPID", int64_t{10}}},
        {{"kCGWindowLayer", int64_t{0}}, {"kCGWindowOwnerPID", int64_t{11}}}},
       11},
      {"no layer counts as 0; no owner is passed over",
       {{{"kCGWindowName", "x"}}, {{"kCGWindowOwnerPID", int64_t{12}}}},
       12},
      {"a fractional layer is no whole number: counts as 0",
       {{{"kCGWindowLayer", 0.5}, {"kCGWindowOwnerPID", int64_t{13}}}},
       13},
      {"a pid that is no number is absent",
       {{{"kCGWindowOwnerPID", "14"}}}, std::nullopt},
      {"nothing qualifies", {{{"kCGWindowLayer", int64_t{3}}, {"kCGWindowOwnerPID", int64_t{1}}}},
       std::nullopt},
      {"no windows", {}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    macfake::Windows().clear();
    for (const Entries& entries : c.windows) macfake::Windows().push_back({.entries = entries});
    EXPECT_EQ(FrontApplication(), c.front);
  }
}

TEST_F(MacWindowQueryTest, NullListFails) {
  macfake::FailWindowList(true);
  EXPECT_EQ(WindowSummaryList().error(), "CGWindowListCopyWindowInfo returned null");
  EXPECT_EQ(FrontApplication(), std::nullopt);
  EXPECT_FALSE(QueryAllWindows());
}

// Windows missing from the on-screen list are minimized, in their place;
// off-screen helper windows (no title, or off layer 0) are left out; the
// frontmost shown layer-0 window has the focus.
TEST_F(MacWindowQueryTest, AllWindowsMarkMinimizedAndFocused) {
  auto window = [](int64_t id, const char* title, int64_t layer, bool shown) {
    return macfake::WindowInfo{.entries = {{"kCGWindowNumber", id},
                                           {"kCGWindowName", title},
                                           {"kCGWindowLayer", layer},
                                           {"kCGWindowOwnerPID", int64_t{40}}},
                               .on_screen = shown};
  };
  macfake::Windows() = {window(1, "menu", 24, true), window(2, "hidden", 0, false),
                        window(3, "", 0, false),     window(4, "panel", 3, false),
                        window(5, "doc", 0, true),   window(-1, "bad id", 0, true)};
  const Result<std::vector<WindowRecord>> all = QueryAllWindows();
  ASSERT_TRUE(all);
  std::vector<std::string> seen;
  for (const WindowRecord& r : *all) {
    seen.push_back(r.title + (r.minimized ? " minimized" : "") + (r.focused ? " focused" : "") +
                   (r.id ? " #" + std::to_string(*r.id) : ""));
  }
  // A window number that is not positive is no id: it cannot be matched
  // with the on-screen list, so it reads as off screen.
  EXPECT_THAT(seen, ::testing::ElementsAre("menu #1", "hidden minimized #2", "doc focused #5",
                                           "bad id minimized"));
  EXPECT_THAT(macfake::WindowListCalls(), ::testing::ElementsAre(0x11u, 0x10u));
}

}  // namespace
}  // namespace tarvix
