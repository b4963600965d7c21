#include "platform/wayland/wlr_windows.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/json.h"
#include "platform/wayland/sway_ipc.h"
#include "platform/wayland/wlr_toplevels.h"

namespace tarvix {
namespace {

Json Rect(int64_t x, int64_t y, int64_t w, int64_t h) {
  return {{"x", x}, {"y", y}, {"width", w}, {"height", h}};
}

// A view as sway 1.7 describes it: `rect` without the title bar,
// `deco_rect` the title bar, `window_rect` the surface inside `rect`.
Json View(uint64_t id, const char* title, Json rect, int64_t title_bar, bool visible = true) {
  return {{"id", id},          {"type", "con"},          {"name", title},
          {"shell", "xdg_shell"}, {"app_id", "gedit"},   {"pid", 1000 + id},
          {"focused", false},  {"visible", visible},     {"fullscreen_mode", 0},
          {"rect", rect},      {"deco_rect", Rect(0, 0, rect["width"], title_bar)},
          {"window_rect", Rect(2, 0, rect["width"].get<int64_t>() - 4, rect["height"].get<int64_t>() - 2)},
          {"nodes", Json::array()}, {"floating_nodes", Json::array()}, {"focus", Json::array()}};
}

Json Node(uint64_t id, const char* type, const char* name, std::vector<Json> nodes,
          std::vector<uint64_t> focus, std::vector<Json> floating = {}) {
  return {{"id", id},         {"type", type},   {"name", name}, {"rect", Rect(0, 0, 1920, 1080)},
          {"nodes", nodes},   {"floating_nodes", floating}, {"focus", focus}};
}

// A root with the scratchpad output and one output holding `workspaces`.
Json Tree(std::vector<Json> workspaces, std::vector<uint64_t> workspace_focus,
          std::vector<Json> scratch = {}) {
  return Node(1, "root", "root",
              {Node(2, "output", "__i3", {Node(3, "workspace", "__i3_scratch", {}, {}, scratch)}, {3}),
               Node(4, "output", "HEADLESS-1", workspaces, workspace_focus)},
              {4, 2});
}

TEST(WlrWindowsTest, ViewsOfSwayTrees) {
  Json focused = View(11, "Front", Rect(960, 25, 960, 1055), 25);
  focused["focused"] = true;
  Json floating = View(12, "Floating", Rect(100, 225, 304, 202), 25);
  floating["type"] = "floating_con";
  Json fullscreen = View(13, "Full", Rect(0, 0, 1920, 1080), 0);
  fullscreen["fullscreen_mode"] = 1;
  Json xwayland = View(14, "xterm", Rect(0, 25, 960, 1055), 25);
  xwayland["shell"] = "xwayland";
  xwayland["app_id"] = nullptr;
  xwayland["window_properties"] = {{"class", "XTerm"}, {"instance", "xterm"}};
  Json hidden = View(15, "Hidden", Rect(478, 121, 1920, 1080), 0, false);
  hidden["type"] = "floating_con";
  Json csd = View(16, "", Rect(0, 0, 640, 480), 0);
  csd["name"] = nullptr;
  csd["app_id"] = nullptr;
  csd["window_rect"] = Rect(0, 0, 640, 480);

  struct Case {
    const char* name;
    Json tree;
    // id, title, owner, frame, content, minimized, focused, floating, fullscreen, scratchpad
    std::vector<std::string> expected;
  };
  const auto row = [](const SwayView& v) {
    const WindowRecord& r = v.record;
    return std::to_string(*r.id) + " " + r.title + " [" + r.owner_name + "] pid " +
           std::to_string(r.owner_pid.value_or(0)) + " frame " + std::to_string(int(r.x)) + "," +
           std::to_string(int(r.y)) + " " + std::to_string(int(r.width)) + "x" +
           std::to_string(int(r.height)) + " content " + std::to_string(v.content.x) + "," +
           std::to_string(v.content.y) + " " + std::to_string(v.content.w) + "x" +
           std::to_string(v.content.h) + (r.minimized ? " minimized" : "") +
           (r.focused ? " focused" : "") + (v.floating ? " floating" : "") +
           (v.fullscreen ? " fullscreen" : "") + (v.scratchpad ? " scratchpad" : "") +
           (r.window_relative_elements ? "" : " screen-relative");
  };
  const Case cases[] = {
      {"two tiled, the focused one first by the workspace's focus list",
       Tree({Node(5, "workspace", "1", {xwayland, focused}, {11, 14})}, {5}),
       {"11 Front [gedit] pid 1011 frame 960,0 960x1080 content 962,25 956x1053 focused",
        "14 xterm [XTerm] pid 1014 frame 0,0 960x1080 content 2,25 956x1053 screen-relative"}},
      {"floating beside tiled, by focus; client-decorated without title or app id",
       Tree({Node(5, "workspace", "1", {csd}, {12, 16}, {floating})}, {5}),
       {"12 Floating [gedit] pid 1012 frame 100,200 304x227 content 102,225 300x200 floating",
        "16  [] pid 1016 frame 0,0 640x480 content 0,0 640x480"}},
      {"nested containers: depth first in each one's focus order; the focused view leads",
       Tree({Node(5, "workspace", "1",
                  {Node(6, "con", "", {fullscreen, xwayland}, {14, 13}), focused}, {6, 11})},
            {5}),
       {"11 Front [gedit] pid 1011 frame 960,0 960x1080 content 962,25 956x1053 focused",
        "14 xterm [XTerm] pid 1014 frame 0,0 960x1080 content 2,25 956x1053 screen-relative",
        "13 Full [gedit] pid 1013 frame 0,0 1920x1080 content 2,0 1916x1078 fullscreen"}},
      {"the scratchpad's hidden windows are minimized, after the shown ones",
       Tree({Node(5, "workspace", "1", {xwayland}, {})}, {5}, {hidden}),
       {"14 xterm [XTerm] pid 1014 frame 0,0 960x1080 content 2,25 956x1053 screen-relative",
        "15 Hidden [gedit] pid 1015 frame 478,121 1920x1080 content 480,121 1916x1078 minimized "
        "floating scratchpad"}},
      {"an empty desktop", Tree({Node(5, "workspace", "1", {}, {})}, {5}), {}},
  };
  for (const Case& c : cases) {
    Result<std::vector<SwayView>> views = SwayViewsOf(ToJsonText(c.tree));
    ASSERT_TRUE(views) << c.name << ": " << views.error();
    std::vector<std::string> rows;
    for (const SwayView& v : *views) rows.push_back(row(v));
    EXPECT_EQ(rows, c.expected) << c.name;
  }

  // Shown windows only, or all; moved so the main display's corner is 0,0.
  Result<std::vector<SwayView>> views = SwayViewsOf(
      ToJsonText(Tree({Node(5, "workspace", "1", {xwayland}, {})}, {5}, {hidden})));
  ASSERT_TRUE(views);
  const std::vector<WindowRecord> shown = WindowRecordsOf(*views, false, 1280, -10);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].id, 14u);
  EXPECT_EQ(shown[0].x, -1280);
  EXPECT_EQ(shown[0].y, 10);
  EXPECT_EQ(WindowRecordsOf(*views, true, 0, 0).size(), 2u);

  for (const char* bad : {"", "[]", "{\"nodes\":5}", "{\"nodes\":[7]}", "{\"id\":1,"}) {
    Result<std::vector<SwayView>> refused = SwayViewsOf(bad);
    ASSERT_FALSE(refused) << bad;
    EXPECT_EQ(refused.error(), "sway's tree could not be read") << bad;
  }
}

TEST(WlrWindowsTest, OutputAtOriginAndMessageFraming) {
  const struct {
    const char* outputs;
    bool at_origin;
  } cases[] = {
      {R"([{"active":true,"rect":{"x":0,"y":0,"width":1920,"height":1080}}])", true},
      {R"([{"active":true,"rect":{"x":-1280,"y":0,"width":1280,"height":720}},)"
       R"({"active":true,"rect":{"x":0,"y":0,"width":1920,"height":1080}}])", true},
      {R"([{"active":false,"rect":{"x":0,"y":0,"width":1920,"height":1080}},)"
       R"({"active":true,"rect":{"x":1920,"y":0,"width":1920,"height":1080}}])", false},
  };
  for (const auto& c : cases) {
    Result<bool> at_origin = SwayOutputAtOrigin(c.outputs);
    ASSERT_TRUE(at_origin) << c.outputs;
    EXPECT_EQ(*at_origin, c.at_origin) << c.outputs;
  }
  EXPECT_FALSE(SwayOutputAtOrigin("{}"));

  const std::string message = EncodeSwayMessage(4, "abc");
  ASSERT_EQ(message.size(), kSwayHeaderBytes + 3);
  EXPECT_EQ(message.substr(0, 6), "i3-ipc");
  EXPECT_EQ(message.substr(kSwayHeaderBytes), "abc");
  Result<SwayHeader> header = DecodeSwayHeader(message);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->length, 3u);
  EXPECT_EQ(header->type, 4u);
  EXPECT_EQ(DecodeSwayHeader("i3-ipd" + message.substr(6)).error(),
            "sway sent a message without the i3-ipc header");
  EXPECT_EQ(DecodeSwayHeader(message.substr(0, 13)).error(),
            "sway sent a message without the i3-ipc header");
  std::string huge = EncodeSwayMessage(0x80000000u, "");
  const uint32_t length = kMaxSwayPayloadBytes + 1;
  huge.replace(6, 4, reinterpret_cast<const char*>(&length), 4);
  EXPECT_EQ(DecodeSwayHeader(huge).error(),
            "sway sent a message of 67108865 bytes, more than the daemon reads");
}

// Foreign toplevels give no stacking: the active one first, then newest
// first; the minimized ones only in the whole list.
TEST(WlrWindowsTest, ToplevelsFrontToBack) {
  const std::vector<ToplevelInfo> toplevels = {
      {.id = 1, .title = "old", .app_id = "a"},
      {.id = 2, .title = "active", .app_id = "b", .activated = true},
      {.id = 3, .title = "hidden", .app_id = "c", .minimized = true},
      {.id = 4, .title = "new", .app_id = "d"},
  };
  const auto titles = [](const std::vector<WindowRecord>& records) {
    std::vector<std::string> out;
    for (const WindowRecord& r : records) out.push_back(r.title + (r.focused ? "*" : ""));
    return out;
  };
  EXPECT_EQ(titles(ToplevelRecordsOf(toplevels, false)),
            (std::vector<std::string>{"active*", "new", "old"}));
  const std::vector<WindowRecord> all = ToplevelRecordsOf(toplevels, true);
  EXPECT_EQ(titles(all), (std::vector<std::string>{"active*", "new", "hidden", "old"}));
  EXPECT_TRUE(all[2].minimized);
  EXPECT_EQ(all[2].owner_name, "c");
  EXPECT_EQ(all[2].id, 3u);
  EXPECT_FALSE(all[2].owner_pid);
}

}  // namespace
}  // namespace tarvix
