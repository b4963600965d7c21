// The element tree on headless sway in the one space of captures and
// input, against the real binary running as the session's user on the
// session's accessibility bus: a GTK 3 button, as ui_tree and ui_snapshot
// bound it, shows in a capture of those bounds and is pressed by a click at
// their centre. Native Wayland windows tiled and floating (drawing their
// own title bar and shadow), and an X11 window through XWayland, which is
// also listed and takes clicks and keys.
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

  // A GTK 3 test script (GDK_BACKEND `backend`) on the accessibility bus,
  // once it reports its first line; that line in `first`.
  static std::unique_ptr<SessionProcess> Open(const std::string& backend, const std::string& script,
                                              const std::vector<std::string>& args,
                                              std::string* first) {
    std::vector<std::string> argv = {"GDK_BACKEND=" + backend, "/usr/bin/python3",
                                     std::string(TARVIX_TEST_SOURCE_DIR) + "/" + script};
    argv.insert(argv.end(), args.begin(), args.end());
    std::unique_ptr<SessionProcess> window = sway_->Launch(argv);
    if (!window) return nullptr;
    const std::optional<std::string> line = window->ReadLine(30s);
    if (!line) return nullptr;
    *first = *line;
    return window;
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

}  // namespace
}  // namespace tarvix::testing
