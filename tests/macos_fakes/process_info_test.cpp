// Process and host facts on macOS from libproc, sysctl and the Mach host
// port's statistics.
#include <signal.h>
#include <sys/sysctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "fake_test.h"
#include "platform/process_info.h"

namespace tarvix {
namespace {

template <typename T>
std::string Bytes(const T& value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

macfake::Process Proc(uint32_t pid, const char* name, uint64_t started, uint64_t ticks,
                      uint32_t status = 2) {
  macfake::Process p;
  p.bsd.pbi_pid = pid;
  p.bsd.pbi_status = status;
  p.bsd.pbi_start_tvsec = started;
  p.bsd.pbi_start_tvusec = 5;
  std::strncpy(p.bsd.pbi_comm, "comm", sizeof p.bsd.pbi_comm);
  p.name = name;
  p.task = proc_taskinfo{};
  p.task->pti_resident_size = 4096 * pid;
  p.task->pti_total_user = ticks;
  p.task->pti_total_system = ticks;
  return p;
}

class MacProcessInfoTest : public MacFakeTest {};

TEST_F(MacProcessInfoTest, ProcessTable) {
  auto& table = macfake::Processes();
  table[1] = Proc(1, "launchd", 100, 0);
  table[77] = Proc(77, "", 200, 0);            // proc_name fails: the short name
  table[88] = Proc(88, "zombie", 300, 0, 5);   // ended, not reaped
  table[88].task.reset();                      // task figures refused
  table[99] = Proc(99, "bad\xFF", 400, 0);     // not UTF-8
  const std::unique_ptr<ProcessInfo> info = ProcessInfo::CreateFull();
  std::vector<std::string> rows;
  for (const ProcessEntry& e : info->processes()) {
    rows.push_back(std::to_string(e.pid) + " " + e.name + " " + std::to_string(e.resident_bytes) +
                   (e.zombie ? " zombie" : "") + " @" + std::to_string(e.start_stamp));
  }
  EXPECT_THAT(rows, ::testing::ElementsAre("1 launchd 4096 @100000005", "77 comm 315392 @200000005",
                                           "88 zombie 0 zombie @300000005",
                                           "99 bad\xEF\xBF\xBD 405504 @400000005"));
  ASSERT_NE(info->FindProcess(77), nullptr);
  EXPECT_EQ(info->FindProcess(5), nullptr);
}

// Usage is the task time between two samples over the wall time between
// them, in Mach time units (125/3 ns each here, as on Apple silicon).
TEST_F(MacProcessInfoTest, ProcessorUsageBetweenSamples) {
  auto& table = macfake::Processes();
  table[10] = Proc(10, "busy", 100, 1000);
  table[11] = Proc(11, "recycled", 100, 1000);
  table[12] = Proc(12, "idle", 100, 1000);
  const std::unique_ptr<ProcessInfo> info = ProcessInfo::CreateFull();
  EXPECT_EQ(info->FindProcess(10)->cpu_percent, 0.0f);
  table[10] = Proc(10, "busy", 100, 1000 + 24000000);  // 2 s of task time
  table[11] = Proc(11, "recycled", 999, 5000);         // another process, same id
  info->RefreshProcesses();
  EXPECT_GT(info->FindProcess(10)->cpu_percent, 0.0f);
  EXPECT_EQ(info->FindProcess(11)->cpu_percent, 0.0f);
  EXPECT_EQ(info->FindProcess(12)->cpu_percent, 0.0f);
  // One process refreshed alone; one that is gone leaves the table.
  table[12] = Proc(12, "idle", 100, 2000);
  EXPECT_TRUE(info->RefreshProcess(12));
  EXPECT_GT(info->FindProcess(12)->cpu_percent, 0.0f);
  table[13] = Proc(13, "new", 100, 0);
  EXPECT_TRUE(info->RefreshProcess(13));
  EXPECT_EQ(info->FindProcess(13)->name, "new");
  table.erase(10);
  EXPECT_FALSE(info->RefreshProcess(0x3FFFFE));  // no such process here either
  EXPECT_TRUE(info->RefreshProcess(getpid()));   // exists, though libproc refuses it
  EXPECT_FALSE(info->RefreshProcess(0));
  info->RefreshProcess(10);
  EXPECT_EQ(info->FindProcess(10), nullptr);
  EXPECT_EQ(info->processes().size(), 3u);
  EXPECT_EQ(info->FindProcess(13)->name, "new");
  // An empty listing keeps the last table.
  table.clear();
  info->RefreshProcesses();
  EXPECT_EQ(info->processes().size(), 3u);
}

TEST_F(MacProcessInfoTest, HostFacts) {
  const uint64_t memory = 16ull << 30;
  const int ncpu = 10;
  struct timeval boot {};
  boot.tv_sec = 1700000000;
  macfake::SysctlValues() = {{{CTL_HW, HW_MEMSIZE}, Bytes(memory)},
                             {{CTL_HW, HW_NCPU}, Bytes(ncpu)},
                             {{CTL_KERN, KERN_HOSTNAME}, std::string("mac.local\0", 10)},
                             {{CTL_KERN, KERN_OSRELEASE}, std::string("23.2.0\0", 7)},
                             {{CTL_KERN, KERN_BOOTTIME}, Bytes(boot)}};
  macfake::SysctlNames() = {{"kern.osproductversion", std::string("14.2.1\0", 7)}};
  macfake::Host().vm.active_count = 100;
  macfake::Host().vm.wire_count = 50;
  macfake::Host().vm.compressor_page_count = 25;
  macfake::Host().vm.speculative_count = 5;
  macfake::Host().vm.free_count = 1000;
  std::unique_ptr<ProcessInfo> info = ProcessInfo::CreateFull();
  EXPECT_EQ(info->TotalMemoryBytes(), memory);
  EXPECT_EQ(info->UsedMemoryBytes(), 180u * 16384);
  EXPECT_EQ(info->ProcessorCount(), 10u);
  EXPECT_EQ(info->HostName(), "mac.local");
  EXPECT_EQ(info->OsName(), "Darwin");  // KERN_OSTYPE unanswered
  EXPECT_EQ(info->OsVersion(), "14.2.1");
  EXPECT_EQ(info->KernelRelease(), "23.2.0");
  EXPECT_EQ(info->BootTime(), 1700000000u);
  EXPECT_EQ(info->Architecture(), "x86_64");

  macfake::SysctlValues() = {{{CTL_KERN, KERN_OSTYPE}, std::string("Darwin\0", 7)}};
  macfake::SysctlNames().clear();
  macfake::Host().fail_statistics = true;
  info = ProcessInfo::CreateFull();
  EXPECT_EQ(info->TotalMemoryBytes(), 0u);
  EXPECT_EQ(info->UsedMemoryBytes(), 0u);
  EXPECT_EQ(info->ProcessorCount(), 0u);
  EXPECT_EQ(info->HostName(), std::nullopt);
  EXPECT_EQ(info->OsVersion(), std::nullopt);
  EXPECT_EQ(info->BootTime(), std::nullopt);
  EXPECT_EQ(info->OsName(), "Darwin");
  EXPECT_EQ(macfake::HostPortRights(), 0);  // every right taken was given back
}

// Kill signals only the process the table saw: a recycled id (another
// start) is left alone.
TEST_F(MacProcessInfoTest, KillChecksTheStartFirst) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    pause();
    _exit(0);
  }
  auto& table = macfake::Processes();
  table[child] = Proc(static_cast<uint32_t>(child), "sleeper", 100, 0);
  const std::unique_ptr<ProcessInfo> info = ProcessInfo::CreateFull();
  table[child] = Proc(static_cast<uint32_t>(child), "sleeper", 101, 0);
  EXPECT_FALSE(info->Kill(static_cast<uint32_t>(child)));
  EXPECT_FALSE(info->Kill(0));
  EXPECT_FALSE(info->Kill(12345678));
  table[child] = Proc(static_cast<uint32_t>(child), "sleeper", 100, 0);
  EXPECT_TRUE(info->Kill(static_cast<uint32_t>(child)));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

}  // namespace
}  // namespace tarvix
