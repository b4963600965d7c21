#include "daemon/parent_watchdog.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "fakes/spawned_child.h"

namespace tarvix {
namespace {

using std::chrono::milliseconds;
using Sightings = std::vector<std::optional<ProcessSighting>>;

constexpr uint32_t kParent = 4000;
constexpr uint32_t kSelf = 5000;

ProcessSighting Running(uint64_t start) { return ProcessSighting{false, start}; }

// Answers the parent's checks from a script, then "no such process" (so a
// loop that misses the end stops one check late instead of never), and
// any other id (the daemon's own) with a fixed answer; counts the parent's
// checks.
ProcessProbe ScriptedProbe(Sightings parent, std::shared_ptr<size_t> checks,
                           std::optional<ProcessSighting> self = Running(100)) {
  auto mutex = std::make_shared<std::mutex>();
  return [=](uint32_t pid) {
    std::lock_guard<std::mutex> lock(*mutex);
    if (pid != kParent) return self;
    const size_t check = (*checks)++;
    return check < parent.size() ? parent[check] : std::nullopt;
  };
}

size_t ChecksUntilGone(Sightings parent, std::optional<ProcessSighting> self = Running(100)) {
  auto checks = std::make_shared<size_t>(0);
  WaitForParentToGo(kParent, kSelf, ScriptedProbe(std::move(parent), checks, self),
                    milliseconds(1));
  return *checks;
}

TEST(ParentWatchdogTest, TheParentIsGoneWhenAbsentAZombieOrARecycledId) {
  EXPECT_EQ(ChecksUntilGone({Running(50), Running(50), Running(50), std::nullopt}), 4u);
  EXPECT_EQ(ChecksUntilGone({Running(50), ProcessSighting{true, 50}}), 2u);
  // The id went to a process that started after the parent first seen, or
  // (before the first check) after the daemon itself.
  EXPECT_EQ(ChecksUntilGone({Running(50), Running(50), Running(60)}), 3u);
  EXPECT_EQ(ChecksUntilGone({Running(101)}), 1u);
}

TEST(ParentWatchdogTest, UnknownOrEqualStartTimesAreNotTakenForRecycling) {
  EXPECT_EQ(ChecksUntilGone({Running(0), Running(0), Running(70), Running(70), std::nullopt}), 5u);
  EXPECT_EQ(ChecksUntilGone({Running(500), Running(500), std::nullopt}, std::nullopt), 3u);
  EXPECT_EQ(ChecksUntilGone({Running(100), std::nullopt}), 2u);  // started in the daemon's tick
}

TEST(ParentWatchdogTest, ThreadSleepsBeforeEachCheckAndCallsOnGoneOnItself) {
  auto checks = std::make_shared<size_t>(0);
  auto gone = std::make_shared<std::promise<std::thread::id>>();
  std::future<std::thread::id> gone_on = gone->get_future();
  const auto start = std::chrono::steady_clock::now();
  StartParentWatchdog(kParent,
                      ScriptedProbe({Running(50), Running(50), std::nullopt}, checks, Running(50)),
                      milliseconds(40), [gone] { gone->set_value(std::this_thread::get_id()); });
  ASSERT_EQ(gone_on.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(120));
  EXPECT_NE(gone_on.get(), std::this_thread::get_id());
  EXPECT_EQ(*checks, 3u);
}

TEST(SystemProcessProbeTest, WatchdogNoticesARealParentEnding) {
  SpawnedChild parent({"sleep", "30"});
  ASSERT_GT(parent.pid(), 0);
  auto gone = std::make_shared<std::promise<void>>();
  std::future<void> gone_future = gone->get_future();
  // This "parent" is younger than the process running the watchdog, so the
  // probe keeps the test process's own start time to itself.
  ProcessProbe probe = [parent_pid = parent.id(), system = SystemProcessProbe()](uint32_t pid) {
    return pid == parent_pid ? system(pid) : std::nullopt;
  };
  // Like the real _exit, on_gone never returns: libproc2 keeps per-thread
  // read buffers that a thread ending would leak (the daemon's threads that
  // read the process table live as long as the process).
  StartParentWatchdog(parent.id(), std::move(probe), milliseconds(20), [gone] {
    gone->set_value();
    std::promise<void>().get_future().wait();
  });
  EXPECT_EQ(gone_future.wait_for(milliseconds(200)), std::future_status::timeout);
  ASSERT_EQ(kill(parent.pid(), SIGKILL), 0);  // not reaped: a zombie already counts as gone
  EXPECT_EQ(gone_future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

TEST(ParentWatchdogTest, KernelNoticeOfTheEndStopsTheWaitWithoutAnotherCheck) {
  auto checks = std::make_shared<size_t>(0);
  std::vector<std::chrono::nanoseconds> sleeps;
  size_t waits = 0;
  const ParentExitWait wait = [&](std::chrono::nanoseconds timeout) {
    sleeps.push_back(timeout);
    return ++waits == 3;  // the parent ends during the third sleep
  };
  WaitForParentToGo(kParent, kSelf, ScriptedProbe({Running(50), Running(50), Running(50)}, checks),
                    milliseconds(7), wait);
  EXPECT_EQ(*checks, 2u);
  EXPECT_EQ(sleeps, std::vector<std::chrono::nanoseconds>(3, milliseconds(7)));
}

TEST(SystemParentExitWaitTest, WakesAtTheEndOfARealParentLongBeforeTheInterval) {
  SpawnedChild parent({"sleep", "30"});
  ASSERT_GT(parent.pid(), 0);
  const ParentExitWait wait = SystemParentExitWait(parent.id());
  EXPECT_FALSE(wait(milliseconds(50)));
  std::thread killer([&] {
    std::this_thread::sleep_for(milliseconds(100));
    kill(parent.pid(), SIGKILL);  // not reaped: a zombie has ended too
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(wait(std::chrono::seconds(20)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  killer.join();
  EXPECT_TRUE(wait(milliseconds(1)));
}

TEST(SystemParentExitWaitTest, AnIdNoProcessHoldsFallsBackToSleeping) {
  for (const uint32_t pid : {0u, 0x7fffffffu}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SystemParentExitWait(pid)(milliseconds(30)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(30));
  }
}

}  // namespace
}  // namespace tarvix
