// get_system_info, list_processes and kill_process: the logic over scripted
// snapshots, then the entry points against the real system.
#include "tools/host/system_tools.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <limits>

#include "fakes/fake_process_info.h"
#include "fakes/spawned_child.h"
#include "tools/host/host_tools.h"

namespace tarvix {
namespace {

// Hands out one scripted snapshot per call; `next` is the one to come.
class SystemToolsTest : public ::testing::Test {
 protected:
  SnapshotSource Source() {
    return [this] {
      ++snapshots_;
      return std::exchange(next_, std::make_unique<FakeProcessInfo>(log_));
    };
  }
  std::vector<uint64_t> ListedPids(const Json& params) {
    const ToolResult result = ListProcessesFrom(Source(), params);
    std::vector<uint64_t> pids;
    for (const Json& entry : result->at("processes")) pids.push_back(entry.at("pid"));
    return pids;
  }
  ToolResult Kill(const Json& params) {
    return KillProcessFrom(Source(), params);
  }

  std::shared_ptr<FakeProcessInfoLog> log_ = std::make_shared<FakeProcessInfoLog>();
  std::unique_ptr<FakeProcessInfo> next_ = std::make_unique<FakeProcessInfo>(log_);
  int snapshots_ = 0;
};

TEST_F(SystemToolsTest, ListSortsTheRefreshedTableByMemoryStably) {
  const std::vector<ProcessEntry> table = {FakeProcess(1, "a", 10), FakeProcess(2, "b", 30),
                                           FakeProcess(3, "c", 20), FakeProcess(4, "d", 30),
                                           FakeProcess(5, "e", 5),  FakeProcess(6, "f", 30)};
  next_->table = {FakeProcess(9, "before the refresh", 99)};
  next_->table_after_refresh = table;
  EXPECT_EQ(ListedPids(Json::object()), (std::vector<uint64_t>{2, 4, 6, 3, 1, 5}));
  EXPECT_EQ(log_->process_refreshes, 1);
  next_->table = table;
  EXPECT_EQ(ListedPids(Json{{"limit", 3}}), (std::vector<uint64_t>{2, 4, 6}));
  next_->table = table;
  EXPECT_EQ(ListedPids(Json{{"limit", 0}}), std::vector<uint64_t>{});
  next_->table = table;
  EXPECT_EQ(ListedPids(Json{{"limit", std::numeric_limits<uint64_t>::max()}}).size(), 6u);

  // Enough ties that an unstable sort would shuffle them: sizes 10, 20, 30,
  // 0 in turn, so pids 3, 7, ... come first, in table order.
  std::vector<ProcessEntry> ties;
  for (uint32_t pid = 1; pid <= 200; ++pid) ties.push_back(FakeProcess(pid, "t", pid % 4 * 10));
  std::vector<uint64_t> expected;
  for (uint32_t first : {3, 2, 1, 4}) {
    for (uint32_t pid = first; pid <= 200; pid += 4) expected.push_back(pid);
  }
  next_->table = ties;
  EXPECT_EQ(ListedPids(Json{{"limit", 200}}), expected);
}

TEST_F(SystemToolsTest, ListLimitOtherThanANonNegativeIntegerMeans25) {
  std::vector<ProcessEntry> table;
  for (uint32_t pid = 1; pid <= 40; ++pid) table.push_back(FakeProcess(pid, "p", pid * 100));
  for (const Json& params : {Json{{"limit", -5}}, Json{{"limit", 2.5}}, Json{{"limit", "10"}},
                             Json{{"limit", 3.0}}, Json::array({Json{{"limit", 3}}})}) {
    next_->table = table;
    const std::vector<uint64_t> pids = ListedPids(params);
    ASSERT_EQ(pids.size(), 25u) << params.dump();
    EXPECT_EQ(pids.back(), 16u);
  }
  next_->table = {FakeProcess(1, "a", 1), FakeProcess(2, "b", 2)};
  EXPECT_EQ(ListedPids(Json::object()), (std::vector<uint64_t>{2, 1}));
}

TEST_F(SystemToolsTest, ListWritesWidenedCpuAndNullForNonFiniteUsage) {
  next_->table = {FakeProcess(7, "caf\xC3\xA9", 4096, 12.3f),
                  FakeProcess(8, "n", 2048, std::numeric_limits<float>::quiet_NaN()),
                  FakeProcess(9, "i", 1024, std::numeric_limits<float>::infinity())};
  EXPECT_EQ(ToJsonText(*ListProcessesFrom(Source(), Json::object())),
            "{\"processes\":["
            "{\"cpu\":12.300000190734863,\"mem_bytes\":4096,\"name\":\"caf\xC3\xA9\",\"pid\":7},"
            "{\"cpu\":null,\"mem_bytes\":2048,\"name\":\"n\",\"pid\":8},"
            "{\"cpu\":null,\"mem_bytes\":1024,\"name\":\"i\",\"pid\":9}]}");
}

TEST_F(SystemToolsTest, KillRefusesWithoutAnIntegerPid) {
  for (const Json& params :
       {Json::object(), Json{{"pid", "7"}}, Json{{"pid", -7}}, Json{{"pid", 7.0}}, Json::array()}) {
    EXPECT_EQ(Kill(params).error(), "missing param: pid") << params.dump();
  }
  EXPECT_TRUE(log_->kills.empty());
}

TEST_F(SystemToolsTest, KillAnswersNoSuchProcessForIdsOutsideTheSnapshotOrTheRange) {
  next_->table = {FakeProcess(7, "victim", 1)};
  EXPECT_EQ(Kill(Json{{"pid", 4242}}).error(), "no such process: 4242");
  // Ids that do not fit a process id, one of them 7 in its low 32 bits,
  // never reach a snapshot, let alone the system.
  const int snapshots = snapshots_;
  for (uint64_t pid : {uint64_t{0}, uint64_t{1} << 31, (uint64_t{1} << 32) + 7, uint64_t{1} << 63,
                       std::numeric_limits<uint64_t>::max()}) {
    next_->table = {FakeProcess(7, "victim", 1)};
    EXPECT_EQ(Kill(Json{{"pid", pid}}).error(), "no such process: " + std::to_string(pid));
  }
  EXPECT_EQ(snapshots_, snapshots);
  EXPECT_TRUE(log_->kills.empty());
}

TEST_F(SystemToolsTest, KillRefusesTheDaemonItself) {
  const auto self = static_cast<uint32_t>(getpid());
  next_->table = {FakeProcess(self, "tarvix-agentd", 1)};
  EXPECT_EQ(Kill(Json{{"pid", self}}).error(),
            "kill_process refused: pid " + std::to_string(self) + " is tarvix-agentd itself");
  EXPECT_TRUE(log_->kills.empty());
}

TEST_F(SystemToolsTest, KillReportsWhetherTheSignalWasDelivered) {
  next_->table = {FakeProcess(7, "victim", 1)};
  EXPECT_EQ(ToJsonText(*Kill(Json{{"pid", 7}})), R"({"killed":true,"pid":7})");
  EXPECT_EQ(log_->kills, std::vector<uint32_t>{7});
  next_->table = {FakeProcess(0x7fffffff, "highest", 1)};
  next_->kill_succeeds = false;
  EXPECT_EQ(ToJsonText(*Kill(Json{{"pid", 0x7fffffff}})), R"({"killed":false,"pid":2147483647})");
}

TEST_F(SystemToolsTest, SystemInfoHasTheNineFactsWithNullForUnreadableText) {
  next_->processor_count = 8;
  next_->total_memory = 17179869184;
  next_->used_memory = 4294967296;
  next_->host_name = "box";
  next_->os_version = "12";
  next_->boot_time = time(nullptr) - 1000;
  Json info = *GetSystemInfoFrom(Source());
  EXPECT_EQ(log_->memory_refreshes, 1);
  EXPECT_EQ(log_->processor_refreshes, 1);
  EXPECT_NEAR(info.at("uptime_secs").get<double>(), 1000, 2);
  info.erase("uptime_secs");
  EXPECT_EQ(ToJsonText(info),
            R"({"arch":"x86_64","cpu_cores":8,"hostname":"box","kernel":null,)"
            R"("mem_total_bytes":17179869184,"mem_used_bytes":4294967296,"os":"Linux",)"
            R"("os_version":"12"})");
}

TEST(UptimeSecondsTest, ClampsAndDropsTheFraction) {
  EXPECT_EQ(UptimeSeconds(100, 250.9), 150u);
  EXPECT_EQ(UptimeSeconds(std::nullopt, 250.9), 250u);
  EXPECT_EQ(UptimeSeconds(300, 250.0), 0u);
  EXPECT_EQ(UptimeSeconds(0, std::nan("")), 0u);
  EXPECT_EQ(UptimeSeconds(0, 1e30), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(UptimeSeconds(0, 18446744073709549568.0), 18446744073709549568u);
}

// The entry point against the real system: a signal really goes out.
TEST(SystemToolsLiveTest, KillProcessEndsAChildAndKnowsUnusedIds) {
  SpawnedChild child({"sleep", "30"});
  ASSERT_GT(child.pid(), 0);
  EXPECT_EQ(*KillProcess(Json{{"pid", child.pid()}}),
            (Json{{"killed", true}, {"pid", child.pid()}}));
  const std::optional<int> status = child.WaitFor(std::chrono::seconds(5));
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);

  // Above the system's largest id yet inside the process-id range, so the
  // lookup in the snapshot (not the range check) answers.
  uint64_t pid_max = 4194304;
  std::ifstream("/proc/sys/kernel/pid_max") >> pid_max;
  EXPECT_EQ(KillProcess(Json{{"pid", pid_max + 1}}).error(),
            "no such process: " + std::to_string(pid_max + 1));
}

}  // namespace
}  // namespace tarvix
