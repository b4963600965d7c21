// A test suite on a headless sway (or other wlroots compositor) session of
// its own, with the daemon under test (exec allowed) running as the
// session's user:
//
//   class WaylandInputTest : public SwaySuite<WaylandInputTest> { ... };
//
// A suite shapes its session by declaring `static SwayOptions
// SessionOptions()`; one that needs more set-up calls
// SwaySuite::SetUpTestSuite() from its own.
#ifndef TARVIX_TESTS_INTEGRATION_SWAY_SUITE_H_
#define TARVIX_TESTS_INTEGRATION_SWAY_SUITE_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include "integration/daemon_harness.h"
#include "integration/sway_session.h"

namespace tarvix::testing {

template <typename Suite>
class SwaySuite : public ::testing::Test {
 protected:
  static SwayOptions SessionOptions() { return {}; }
  static void SetUpTestSuite() {
    const SwayOptions options = Suite::SessionOptions();
    compositor_ = options.compositor;
    sway_ = SwaySession::Start(options).release();
    if (sway_ == nullptr) return;
    daemon_ = TestDaemon::Start({.allow_exec = true, .env = sway_->Env(), .user = sway_->user()})
                  .release();
  }
  static void TearDownTestSuite() {
    delete daemon_;
    daemon_ = nullptr;
    delete sway_;
    sway_ = nullptr;
  }
  void SetUp() override {
    if (access(("/usr/bin/" + compositor_).c_str(), X_OK) != 0) {
      GTEST_SKIP() << compositor_ << " is not installed";
    }
    ASSERT_NE(sway_, nullptr) << "headless " << compositor_ << " did not start";
    ASSERT_NE(daemon_, nullptr);
  }

  static inline std::string compositor_ = "sway";
  static inline SwaySession* sway_ = nullptr;
  static inline TestDaemon* daemon_ = nullptr;
};

}  // namespace tarvix::testing

#endif  // TARVIX_TESTS_INTEGRATION_SWAY_SUITE_H_
