#include "mcp/progress_tracker.h"

#include <gtest/gtest.h>

namespace tarvix::mcp {
namespace {

using std::chrono::milliseconds;
using Clock = ProgressTracker::Clock;

TEST(ProgressTrackerTest, NotifiesEverySecondAfterTheFirstWhileRunning) {
  ProgressTracker tracker;
  const Clock::time_point t0{};
  EXPECT_EQ(tracker.NextDue(), std::nullopt);
  tracker.Begin(1, "tok", "run_command", t0);
  tracker.Begin(2, 7, "read_file", t0 + milliseconds(500));
  EXPECT_EQ(tracker.NextDue(), t0 + milliseconds(1000));

  // (time in ms, expected notifications as compact JSON)
  const std::pair<int, std::vector<std::string>> steps[] = {
      {999, {}},
      {1000,
       {R"({"jsonrpc":"2.0","method":"notifications/progress","params":{"message":"run_command running for 1 s","progress":1,"progressToken":"tok"}})"}},
      {1400, {}},
      {1500,
       {R"({"jsonrpc":"2.0","method":"notifications/progress","params":{"message":"read_file running for 1 s","progress":1,"progressToken":7}})"}},
      // A late wake-up sends one notification per call, not a backlog, and
      // keeps each call on its own grid.
      {4700,
       {R"({"jsonrpc":"2.0","method":"notifications/progress","params":{"message":"run_command running for 4 s","progress":4,"progressToken":"tok"}})",
        R"({"jsonrpc":"2.0","method":"notifications/progress","params":{"message":"read_file running for 4 s","progress":4,"progressToken":7}})"}},
      {4900, {}},
  };
  for (const auto& [ms, expected] : steps) {
    std::vector<std::string> got;
    for (const Json& n : tracker.TakeDue(t0 + milliseconds(ms))) got.push_back(ToJsonText(n));
    EXPECT_EQ(got, expected) << ms << " ms";
  }
  EXPECT_EQ(tracker.NextDue(), t0 + milliseconds(5000));
  tracker.End(1);
  EXPECT_EQ(tracker.NextDue(), t0 + milliseconds(5500));
  EXPECT_TRUE(tracker.TakeDue(t0 + milliseconds(5200)).empty());
  tracker.End(2);
  EXPECT_EQ(tracker.NextDue(), std::nullopt);
  EXPECT_TRUE(tracker.TakeDue(t0 + milliseconds(9000)).empty());
}

}  // namespace
}  // namespace tarvix::mcp
