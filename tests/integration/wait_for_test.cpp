// wait_for through the real daemon against a private X session: a GTK
// spinner draws until it stops, windows come and go.
#include <time.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/x_session.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;

// CLOCK_MONOTONIC in seconds, the clock the spinner window reports in.
double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

class WaitForTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    x_ = XSession::Start(24, 1024, 768).release();
    if (x_ == nullptr || !x_->StartWindowManager()) return;
    daemon_ = TestDaemon::Start({.env = x_->Env()}).release();
  }
  static void TearDownTestSuite() {
    delete daemon_;
    delete x_;
  }
  void SetUp() override {
    if (daemon_ == nullptr) GTEST_SKIP() << "no private X session (Xvfb, openbox)";
  }
  // A spinner window at (x, y) spinning `ms` (0: for ever), once ready.
  static std::unique_ptr<SessionProcess> Spinner(const std::string& title, int ms, int x, int y) {
    auto window = x_->LaunchPython("gtk_window.py", {"--title", title, "--spin", std::to_string(ms),
                                                     "--size", "120x100", "--pos",
                                                     std::to_string(x) + "," + std::to_string(y)},
                                   false);
    const std::optional<std::string> line = window ? window->ReadLine(20s) : std::nullopt;
    if (!line || !line->starts_with("ready ")) return nullptr;
    return window;
  }
  static Json Wait(const Json& params) {
    const Json reply = daemon_->Call("wait_for", params);
    EXPECT_EQ(reply["ok"], true) << reply.dump();
    return reply["result"];
  }

  static inline XSession* x_ = nullptr;
  static inline TestDaemon* daemon_ = nullptr;
};

// Settled means quiet for stable_ms after the spinner's last frame: never
// before it stopped plus stable_ms.
TEST_F(WaitForTest, SettleWaitsForTheSpinnerToStopAndStayStill) {
  auto spinner = Spinner("Stops", 1200, 40, 40);
  ASSERT_NE(spinner, nullptr);
  const Json settled = Wait({{"until", "settle"}, {"stable_ms", 300}, {"timeout_ms", 20000}});
  const double answered = MonotonicSeconds();
  const std::optional<std::string> stopped = spinner->ReadLine(5s);
  ASSERT_TRUE(stopped && stopped->starts_with("stopped ")) << stopped.value_or("nothing");
  EXPECT_EQ(settled["met"], true) << settled.dump();
  EXPECT_GE(answered, std::stod(stopped->substr(8)) + 0.3) << settled.dump();
}

TEST_F(WaitForTest, AScreenThatKeepsChangingTimesOutUnlessTheRegionIsElsewhere) {
  auto spinner = Spinner("Spins", 0, 40, 40);
  ASSERT_NE(spinner, nullptr);
  const Json busy = Wait({{"until", "settle"}, {"stable_ms", 300}, {"timeout_ms", 1000}});
  EXPECT_EQ(busy["met"], false) << busy.dump();
  EXPECT_GE(busy["elapsed_ms"].get<int64_t>(), 1000);
  EXPECT_EQ(Wait({{"until", "change"}, {"timeout_ms", 10000}})["met"], true);
  // Far from the spinner nothing moves.
  const Json region = {{"x", 600}, {"y", 500}, {"w", 300}, {"h", 200}};
  EXPECT_EQ(Wait({{"until", "settle"}, {"region", region}, {"timeout_ms", 10000}})["met"], true);
  EXPECT_EQ(Wait({{"until", "change"}, {"region", region}, {"timeout_ms", 500}})["met"], false);
}

TEST_F(WaitForTest, WindowsAreSeenComingAndGoing) {
  auto appeared = std::async(std::launch::async, [] {
    return Wait({{"until", "window"}, {"title", "latecomer"}, {"timeout_ms", 30000}});
  });
  auto window = Spinner("The Latecomer", 1, 300, 300);
  ASSERT_NE(window, nullptr);
  const Json found = appeared.get();
  EXPECT_EQ(found["met"], true) << found.dump();
  EXPECT_EQ(found["matched"]["title"], "The Latecomer");
  window.reset();  // killed
  const Json gone = Wait({{"until", "window_gone"}, {"title", "LATECOMER"}, {"timeout_ms", 30000}});
  EXPECT_EQ(gone["met"], true) << gone.dump();
  EXPECT_EQ(Wait({{"until", "window"}, {"title", "never opened"}, {"timeout_ms", 300}})["met"],
            false);
}

}  // namespace
}  // namespace tarvix::testing
