// The desktop tools on a wlroots compositor other than sway: cage, a kiosk
// with no IPC that shows its newest window fullscreen. cage 0.1.4 offers
// screencopy and xdg-output but no virtual pointer or keyboard, no
// clipboard control and no foreign toplevel list; what it offers must
// serve pixel for pixel, and what it lacks must be refused with a text
// naming the missing protocol, never answered with a wrong result.
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/sway_session.h"
#include "integration/sway_suite.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;

class WaylandOtherTest : public SwaySuite<WaylandOtherTest> {
 public:
  static SwayOptions SessionOptions() { return {.compositor = "cage"}; }

 protected:
  static void SetUpTestSuite() {
    SwaySuite::SetUpTestSuite();
    if (sway_ == nullptr) return;
    // A native GTK 3 window, fullscreen as cage shows it.
    probe_ = sway_->Launch({"GDK_BACKEND=wayland", "NO_AT_BRIDGE=1", "/usr/bin/python3",
                            std::string(TARVIX_TEST_SOURCE_DIR) + "/input_probe.py"})
                 .release();
    if (probe_ != nullptr) ready_ = probe_->NextReportWith("ready", 10s);
  }
  static void TearDownTestSuite() {
    delete probe_;
    probe_ = nullptr;
    SwaySuite::TearDownTestSuite();
  }
  void SetUp() override {
    SwaySuite::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_FALSE(ready_.is_null()) << "the probe window did not come up";
  }

  // grim's image of the output once the scene holds still: two captures
  // in a row agree and show more than one colour.
  static std::string StillGrim() {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    std::string last;
    while (std::chrono::steady_clock::now() < deadline) {
      std::string now = Rgb(sway_->Run("grim -t png -l 1 -"));
      if (!now.empty() && now == last && now.find_first_not_of(now[0]) != std::string::npos) {
        return now;
      }
      last = std::move(now);
    }
    ADD_FAILURE() << "grim never held still";
    return "";
  }

  static inline SessionProcess* probe_ = nullptr;
  static inline Json ready_;
};

TEST_F(WaylandOtherTest, ScreenshotAndDisplaysAreTheOutputsGrimSees) {
  const Json displays = daemon_->Call("displays");
  ASSERT_EQ(displays["ok"], true) << displays.dump();
  ASSERT_EQ(displays["result"]["displays"].size(), 1u) << displays.dump();
  const Json& display = displays["result"]["displays"][0];
  EXPECT_EQ(display["name"], "HEADLESS-1");
  EXPECT_EQ(display["x"], 0);
  EXPECT_EQ(display["y"], 0);
  EXPECT_EQ(display["width"], 1280);
  EXPECT_EQ(display["height"], 720);
  EXPECT_EQ(display["scale"], 1);
  EXPECT_EQ(display["primary"], true);

  const std::string expected = StillGrim();
  const Json shot = daemon_->Call("screenshot");
  ASSERT_EQ(shot["ok"], true) << shot.dump().substr(0, 300);
  EXPECT_EQ(shot["result"]["width"], 1280);
  EXPECT_EQ(shot["result"]["height"], 720);
  EXPECT_TRUE(Rgb(DecodeBase64(shot["result"]["base64"])) == expected) << "screenshot differs from grim";
}

TEST_F(WaylandOtherTest, WaitForSeesASpinnerThroughTheCompositorsDamage) {
  // A spinning window over the probe, for as long as this test runs.
  const auto spinner = sway_->Launch({"GDK_BACKEND=wayland", "NO_AT_BRIDGE=1", "/usr/bin/python3",
                                      std::string(TARVIX_TEST_SOURCE_DIR) + "/gtk_window.py",
                                      "--title", "Spinner", "--spin", "0"});
  ASSERT_NE(spinner, nullptr);
  ASSERT_TRUE(spinner->ReadLine(10s).value_or("").starts_with("ready")) << "no spinner window";
  const Json changed = daemon_->Call("wait_for", {{"until", "change"}, {"timeout_ms", 10000}});
  EXPECT_EQ(changed["result"]["met"], true) << changed.dump();
  const Json settled =
      daemon_->Call("wait_for", {{"until", "settle"}, {"stable_ms", 300}, {"timeout_ms", 1000}});
  EXPECT_EQ(settled["result"]["met"], false) << settled.dump();
}

TEST_F(WaylandOtherTest, WhatTheCompositorLacksIsRefusedByName) {
  const std::string no_devices =
      "input unavailable: no connection could be established: (the Wayland compositor offers no "
      "virtual pointer (zwlr_virtual_pointer_manager_v1))";
  const std::string no_clipboard =
      "unavailable: the Wayland compositor offers no clipboard control "
      "(zwlr_data_control_manager_v1)";
  const std::string no_windows =
      "this Wayland compositor offers neither sway's IPC (SWAYSOCK) nor wlr foreign toplevel "
      "management";
  const struct {
    const char* method;
    Json params;
    std::string error;
  } cases[] = {
      {"input", {{"action", "click"}, {"x", 100}, {"y", 100}}, no_devices},
      {"input", {{"action", "type"}, {"text", "Gr\xC3\xBC\xC3\x9F" "e"}}, no_devices},
      {"key_combo", {{"keys", "ctrl+a"}}, no_devices},
      {"pointer", {{"op", "click"}, {"x", 10}, {"y", 10}}, no_devices},
      {"drag", {{"path", {{10, 10}, {50, 50}}}}, no_devices},
      {"clipboard_read", Json::object(), no_clipboard},
      {"clipboard_write", {{"text", "hello"}}, no_clipboard},
      {"list_windows", Json::object(), "window list unavailable - " + no_windows},
      {"window_action", {{"window", 1}, {"action", "activate"}}, "unavailable: " + no_windows},
      // The wlroots backend serves, and says so where it has no answer.
      {"cursor", Json::object(),
       "unavailable: the pointer position is not supported on Wayland yet (wlroots compositor)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(daemon_->Call(c.method, c.params), (Json{{"error", c.error}, {"ok", false}}))
        << c.method << " " << c.params.dump();
  }
  // Nothing reached the window.
  EXPECT_EQ(probe_->Drain(300ms), std::vector<Json>());
}

}  // namespace
}  // namespace tarvix::testing
