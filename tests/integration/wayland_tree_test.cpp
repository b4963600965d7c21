// The element tree on headless sway in the one space of captures and
// input, against the real binary running as the session's user on the
// session's accessibility bus: a GTK 3 button, as ui_tree and ui_snapshot
// bound it, shows in a capture of those bounds and is pressed by a click at
// their centre. Native Wayland windows tiled and floating (drawing their
// own title bar and shadow), and an X11 window through XWayland, which is
// also listed and takes clicks and keys. The same space away from the main
// output: clicks, buttons' bounds and wait_for's changes on a HiDPI output
// and on a turned one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "integration/daemon_harness.h"
#include "integration/sway_session.h"
#include "integration/sway_suite.h"
#include "integration/ui_elements.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;

constexpr char kButtonColour[] = "c0ff00";

// A GTK 3 test script (GDK_BACKEND `backend`) in `sway`'s session, once
// it reports its first line; that line in `first`.
std::unique_ptr<SessionProcess> OpenGtk(const SwaySession& sway, const std::string& backend,
                                        const std::string& script,
                                        const std::vector<std::string>& args, std::string* first) {
  std::vector<std::string> argv = {"GDK_BACKEND=" + backend, "/usr/bin/python3",
                                   std::string(TARVIX_TEST_SOURCE_DIR) + "/" + script};
  argv.insert(argv.end(), args.begin(), args.end());
  std::unique_ptr<SessionProcess> window = sway.Launch(argv);
  if (!window) return nullptr;
  const std::optional<std::string> line = window->ReadLine(30s);
  if (!line) return nullptr;
  *first = *line;
  return window;
}

// The node of sway's tree of the window of `pid`, or null.
const Json* SwayNodeOf(const Json& node, int64_t pid) {
  if (node.is_object() && node.value("pid", int64_t{-1}) == pid) return &node;
  for (const char* children : {"nodes", "floating_nodes"}) {
    if (!node.is_object() || !node.contains(children)) continue;
    for (const Json& child : node[children]) {
      if (const Json* found = SwayNodeOf(child, pid)) return found;
    }
  }
  return nullptr;
}

class WaylandTreeTest : public SwaySuite<WaylandTreeTest> {
 public:
  static SwayOptions SessionOptions() { return {.accessibility = true, .xwayland = true}; }

 protected:
  static void SetUpTestSuite() {
    SwaySuite::SetUpTestSuite();
    // Windows titled "Floating ..." map floating, at a place of their own.
    if (sway_ == nullptr) return;
    sway_->Run(
        "swaymsg 'for_window [title=\"^Floating\"] "
        "\"floating enable, move absolute position 611 287\"' >/dev/null");
  }
  void SetUp() override {
    if (access("/usr/bin/Xwayland", X_OK) != 0) GTEST_SKIP() << "Xwayland is not installed";
    SwaySuite::SetUp();
  }

  static std::unique_ptr<SessionProcess> Open(const std::string& backend, const std::string& script,
                                              const std::vector<std::string>& args,
                                              std::string* first) {
    return OpenGtk(*sway_, backend, script, args, first);
  }
};

TEST_F(WaylandTreeTest, AButtonsBoundsShowItInACaptureAndAClickAtTheirCentrePressesIt) {
  const struct {
    const char* backend;
    const char* title;
    std::vector<std::string> args;
  } cases[] = {
      {"wayland", "Tiled native", {}},
      // Client-side decorations: sway's rect leaves out the shadow GTK
      // draws around a floating window.
      {"wayland", "Floating native", {"--header-bar"}},
      {"x11", "Floating X11", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    std::vector<std::string> args = {"--title", c.title, "--button-colour", kButtonColour};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string ready;
    std::unique_ptr<SessionProcess> window = Open(c.backend, "gtk_window.py", args, &ready);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(ready.starts_with("ready ")) << ready;

    // The application registers on the bus a moment after it draws.
    const Json tree = PollUntil([&] { return daemon_->Call("ui_tree")["result"]; },
                                [&](const Json& t) {
                                  return t["window"] == c.title &&
                                         FindElement(t, "AXButton", "A button") != nullptr;
                                },
                                15s);
    const Json* button = FindElement(tree, "AXButton", "A button");
    ASSERT_NE(button, nullptr) << tree.dump().substr(0, 2000);
    const Json bounds = (*button)["bounds"];
    const Json snapshot = daemon_->Call("ui_snapshot", {{"roles", {"AXButton"}}})["result"];
    const Json* snapped = FindElement(snapshot, "AXButton", "A button");
    ASSERT_NE(snapped, nullptr) << snapshot.dump().substr(0, 2000);
    EXPECT_EQ((*snapped)["bounds"], bounds);

    // The capture of the bounds is the button's colour just inside each
    // edge (the label sits in the middle).
    const int64_t x = bounds["x"], y = bounds["y"], w = bounds["w"], h = bounds["h"];
    const Json shot =
        daemon_->Call("capture", {{"region", {{"x", x}, {"y", y}, {"w", w}, {"h", h}}}});
    ASSERT_EQ(shot["ok"], true) << shot.dump().substr(0, 300);
    const std::string rgb = Rgb(DecodeBase64(shot["result"]["base64"]));
    ASSERT_EQ(rgb.size(), static_cast<size_t>(w * h * 3));
    auto colour = [&](int64_t px, int64_t py) {
      char hex[7];
      const size_t at = static_cast<size_t>((py * w + px) * 3);
      snprintf(hex, sizeof hex, "%02x%02x%02x", static_cast<unsigned char>(rgb[at]),
               static_cast<unsigned char>(rgb[at + 1]), static_cast<unsigned char>(rgb[at + 2]));
      return std::string(hex);
    };
    constexpr int64_t kInset = 4;
    for (const auto& [px, py] : {std::pair{kInset, h / 2}, std::pair{w - 1 - kInset, h / 2},
                                 std::pair{w / 2, kInset}, std::pair{w / 2, h - 1 - kInset}}) {
      EXPECT_EQ(colour(px, py), kButtonColour) << "at " << px << "," << py << " of " << bounds;
    }

    const Json reply =
        daemon_->Call("input", {{"action", "click"}, {"x", x + w / 2}, {"y", y + h / 2}});
    EXPECT_EQ(reply["ok"], true) << reply.dump();
    EXPECT_EQ(window->ReadLine(5s), "clicked") << "bounds " << bounds;
  }
}

TEST_F(WaylandTreeTest, AnXWaylandWindowIsListedByItsClassAndTakesClicksAndKeys) {
  std::string line;
  std::unique_ptr<SessionProcess> probe = Open("x11", "input_probe.py", {}, &line);
  ASSERT_NE(probe, nullptr);
  const Json ready = Json::parse(line, nullptr, false);
  ASSERT_TRUE(ready.is_object() && ready.contains("area")) << line;

  const Json listed = daemon_->Call("list_windows");
  ASSERT_EQ(listed["ok"], true) << listed.dump();
  const Json* window = nullptr;
  for (const Json& w : listed["result"]["windows"]) {
    if (w["pid"] == probe->pid()) window = &w;
  }
  ASSERT_NE(window, nullptr) << listed.dump();
  EXPECT_EQ((*window)["app"], "Input_probe.py");
  EXPECT_EQ((*window)["title"], "tarvix input probe");
  EXPECT_EQ((*window)["focused"], true);

  // XWayland's root coordinates are sway's layout: the probe's points are
  // global ones.
  const Json& area = ready["area"];
  const int x = area[0].get<int>() + area[2].get<int>() / 3;
  const int y = area[1].get<int>() + area[3].get<int>() / 2;
  EXPECT_EQ(daemon_->Call("input", {{"action", "click"}, {"x", x}, {"y", y}})["ok"], true);
  EXPECT_EQ(probe->NextReportWith("button", 5s),
            Json({{"button", 1}, {"type", "BUTTON_PRESS"}, {"x", x}, {"y", y}}));
  // Keys reach it too (exact text: wayland_input_test.cpp).
  EXPECT_EQ(daemon_->Call("input", {{"action", "key"}, {"name", "Escape"}})["ok"], true);
  EXPECT_EQ(probe->NextReportWith("cleared", 5s), Json({{"cleared", true}}));
}

// Native windows on outputs away from the main one: a HiDPI output at
// scale 2 left of it (negative points) and one turned by 90 degrees below
// right of it.
class WaylandAwayTest : public SwaySuite<WaylandAwayTest> {
 public:
  static SwayOptions SessionOptions() {
    return {.outputs = {{.width = 1920, .height = 1080},
                        {.width = 2560, .height = 1440, .x = -1280, .scale = 2},
                        {.width = 1280, .height = 720, .x = 1920, .y = 1080, .transform = "90"}},
            .accessibility = true};
  }
};

TEST_F(WaylandAwayTest, ClicksLandOnTheirPointAndButtonsBoundsPressThemOnEveryOutput) {
  const struct {
    const char* output;
    int64_t left, top, right, bottom;  // the output in global points
  } cases[] = {
      {"HEADLESS-2", -1280, 0, 0, 720},
      {"HEADLESS-3", 1920, 1080, 2640, 2360},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    // New windows open on the focused output.
    sway_->Run(std::string("swaymsg focus output ") + c.output + " >/dev/null");

    // A click lands at its point of the probe's surface.
    std::string line;
    std::unique_ptr<SessionProcess> probe = OpenGtk(*sway_, "wayland", "input_probe.py", {}, &line);
    ASSERT_NE(probe, nullptr);
    const Json ready = Json::parse(line, nullptr, false);
    ASSERT_TRUE(ready.is_object() && ready.contains("area")) << line;
    const Json tree = Json::parse(sway_->Run("swaymsg -t get_tree -r"), nullptr, false);
    const Json* node = SwayNodeOf(tree, probe->pid());
    ASSERT_NE(node, nullptr) << tree.dump().substr(0, 2000);
    const int64_t origin_x =
        (*node)["rect"]["x"].get<int64_t>() + (*node)["window_rect"]["x"].get<int64_t>();
    const int64_t origin_y =
        (*node)["rect"]["y"].get<int64_t>() + (*node)["window_rect"]["y"].get<int64_t>();
    ASSERT_TRUE(origin_x >= c.left && origin_x < c.right && origin_y >= c.top &&
                origin_y < c.bottom)
        << origin_x << "," << origin_y;
    const Json& area = ready["area"];
    const int64_t x = area[0].get<int64_t>() + area[2].get<int64_t>() / 3 + 1;
    const int64_t y = area[1].get<int64_t>() + area[3].get<int64_t>() / 2 + 1;
    const Json clicked =
        daemon_->Call("input", {{"action", "click"}, {"x", origin_x + x}, {"y", origin_y + y}});
    EXPECT_EQ(clicked["ok"], true) << clicked.dump();
    EXPECT_EQ(probe->NextReportWith("button", 5s),
              Json({{"button", 1}, {"type", "BUTTON_PRESS"}, {"x", x}, {"y", y}}));
    probe.reset();

    // A button's bounds from the tree, clicked at their centre, press it.
    const std::string title = std::string("Away on ") + c.output;
    std::unique_ptr<SessionProcess> window =
        OpenGtk(*sway_, "wayland", "gtk_window.py",
                {"--title", title, "--button-colour", kButtonColour}, &line);
    ASSERT_NE(window, nullptr);
    const Json found = PollUntil([&] { return daemon_->Call("ui_tree")["result"]; },
                                 [&](const Json& t) {
                                   return t["window"] == title &&
                                          FindElement(t, "AXButton", "A button") != nullptr;
                                 },
                                 15s);
    const Json* button = FindElement(found, "AXButton", "A button");
    ASSERT_NE(button, nullptr) << found.dump().substr(0, 2000);
    const Json bounds = (*button)["bounds"];
    const int64_t cx = bounds["x"].get<int64_t>() + bounds["w"].get<int64_t>() / 2;
    const int64_t cy = bounds["y"].get<int64_t>() + bounds["h"].get<int64_t>() / 2;
    EXPECT_TRUE(cx >= c.left && cx < c.right && cy >= c.top && cy < c.bottom) << bounds;
    EXPECT_EQ(daemon_->Call("input", {{"action", "click"}, {"x", cx}, {"y", cy}})["ok"], true);
    EXPECT_EQ(window->ReadLine(5s), "clicked") << "bounds " << bounds;
  }
}

TEST_F(WaylandAwayTest, WaitForTellsChangesOfATurnedOutputWhereTheyShow) {
  // A spinner in a small floating window at the top-left of the turned
  // output: its changes come in the frame's order before the turn, and
  // must show there, not at the output's other end.
  sway_->Run(
      "swaymsg 'for_window [title=\"^Spins\"] "
      "\"floating enable, resize set 200 200, move absolute position 1950 1110\"' >/dev/null");
  std::string line;
  std::unique_ptr<SessionProcess> spinner = OpenGtk(
      *sway_, "wayland", "gtk_window.py", {"--title", "Spins", "--spin", "0"}, &line);
  ASSERT_NE(spinner, nullptr);
  const auto wait = [&](const char* until, const Json& region, int timeout_ms) {
    const Json reply = daemon_->Call(
        "wait_for", {{"until", until}, {"region", region}, {"timeout_ms", timeout_ms}});
    EXPECT_EQ(reply["ok"], true) << reply.dump();
    return reply["result"]["met"] == true;
  };
  const Json at_spinner = {{"x", 2000}, {"y", 1160}, {"w", 100}, {"h", 100}};
  const Json far_end = {{"x", 1950}, {"y", 2100}, {"w", 600}, {"h", 200}};
  EXPECT_TRUE(wait("change", at_spinner, 10000));
  EXPECT_TRUE(wait("settle", far_end, 10000));
  EXPECT_FALSE(wait("change", far_end, 500));
}

}  // namespace
}  // namespace tarvix::testing
