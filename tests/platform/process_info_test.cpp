// The Linux process-information facility against the real system.
#include "platform/process_info.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "fakes/spawned_child.h"

namespace tarvix {
namespace {

using std::chrono::milliseconds;

TEST(ProcessInfoTest, FindsItselfWithPlausibleResidentMemory) {
  const auto info = ProcessInfo::CreateFull();
  const ProcessEntry* self = info->FindProcess(static_cast<uint32_t>(getpid()));
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(self->name, std::string(program_invocation_short_name).substr(0, 15));
  EXPECT_FALSE(self->zombie);
  struct rusage usage;
  ASSERT_EQ(getrusage(RUSAGE_SELF, &usage), 0);
  EXPECT_GT(self->resident_bytes, 1u << 20);
  EXPECT_LE(self->resident_bytes, static_cast<uint64_t>(usage.ru_maxrss) * 1024 + (4u << 20));
}

TEST(ProcessInfoTest, ChildAppearsBecomesZombieAndLeavesWhenReaped) {
  SpawnedChild child({"sleep", "30"}), other({"sleep", "30"});
  ASSERT_GT(child.pid(), 0);
  const auto info = ProcessInfo::CreateEmpty();
  info->RefreshProcesses();
  const ProcessEntry* entry = info->FindProcess(child.id());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->name, "sleep");
  EXPECT_FALSE(entry->zombie);
  const uint64_t started = entry->start_stamp;

  ASSERT_EQ(kill(child.pid(), SIGKILL), 0);
  ASSERT_TRUE(child.WaitUntilZombie(milliseconds(5000)));
  EXPECT_TRUE(info->RefreshProcess(child.id()));  // a zombie still exists, marked as one
  ASSERT_NE(info->FindProcess(child.id()), nullptr);
  EXPECT_TRUE(info->FindProcess(child.id())->zombie);
  EXPECT_EQ(info->FindProcess(child.id())->start_stamp, started);

  ASSERT_TRUE(child.WaitFor(milliseconds(5000)));
  EXPECT_FALSE(info->RefreshProcess(child.id()));
  EXPECT_EQ(info->FindProcess(child.id()), nullptr);
  // Dropping one entry leaves every other lookup on its own entry.
  for (const ProcessEntry& e : info->processes()) EXPECT_EQ(info->FindProcess(e.pid)->pid, e.pid);
  EXPECT_NE(info->FindProcess(other.id()), nullptr);
  EXPECT_FALSE(info->RefreshProcess(0));
  EXPECT_FALSE(info->RefreshProcess(0x80000000u));
}

TEST(ProcessInfoTest, CpuUsageIsMeasuredBetweenSnapshotAndRefresh) {
  SpawnedChild busy({"sh", "-c", "while :; do :; done"}), idle({"sleep", "30"});
  const auto info = ProcessInfo::CreateFull();
  for (const ProcessEntry& entry : info->processes()) EXPECT_EQ(entry.cpu_percent, 0.0f);
  std::this_thread::sleep_for(milliseconds(500));
  info->RefreshProcesses();
  ASSERT_NE(info->FindProcess(busy.id()), nullptr);
  ASSERT_NE(info->FindProcess(idle.id()), nullptr);
  // The machine is shared: the spinner may get less than a processor, but
  // not more than one (bar a tick of rounding).
  EXPECT_GT(info->FindProcess(busy.id())->cpu_percent, 10.0f);
  EXPECT_LT(info->FindProcess(busy.id())->cpu_percent, 110.0f);
  EXPECT_EQ(info->FindProcess(idle.id())->cpu_percent, 0.0f);
}

TEST(ProcessInfoTest, KillSignalsOnlyProcessesOfTheTableThatStillRun) {
  const auto before = ProcessInfo::CreateFull();
  SpawnedChild child({"sleep", "30"});
  EXPECT_FALSE(before->Kill(child.id()));  // not in that table: nothing sent
  EXPECT_FALSE(child.WaitFor(milliseconds(100)).has_value());

  const auto info = ProcessInfo::CreateFull();
  EXPECT_TRUE(info->Kill(child.id()));
  const std::optional<int> status = child.WaitFor(milliseconds(5000));
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
  EXPECT_FALSE(info->Kill(child.id()));  // sampled, then ended and reaped
  EXPECT_FALSE(info->Kill(0));
}

// Names are the kernel's bytes decoded as lossy UTF-8, not a terminal's
// escaped rendering of them.
TEST(ProcessInfoTest, NamesAreTheKernelsBytes) {
  const struct {
    const char* printf_octal;  // what the shell writes to its own comm
    std::string raw;
    std::string expected;
  } cases[] = {
      {R"(tvx \303\251\342\234\223\377)", "tvx \xC3\xA9\xE2\x9C\x93\xFF",
       "tvx \xC3\xA9\xE2\x9C\x93\xEF\xBF\xBD"},
      {"a?b\\tc", "a?b\tc", "a?b\tc"},
  };
  for (const auto& c : cases) {
    SpawnedChild child({"sh", "-c", std::string("printf '") + c.printf_octal +
                                        "' > /proc/self/comm; while :; do sleep 1; done"});
    ASSERT_GT(child.pid(), 0);
    const std::string comm = "/proc/" + std::to_string(child.pid()) + "/comm";
    for (int i = 0; i < 500; ++i) {
      std::ifstream in(comm, std::ios::binary);
      std::string name;
      std::getline(in, name);
      if (name == c.raw) break;
      std::this_thread::sleep_for(milliseconds(10));
    }
    const auto info = ProcessInfo::CreateFull();
    const ProcessEntry* entry = info->FindProcess(child.id());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->name, c.expected);
    ASSERT_TRUE(info->RefreshProcess(child.id()));
    EXPECT_EQ(info->FindProcess(child.id())->name, c.expected);
  }
}

TEST(ProcessInfoTest, HostFactsMatchTheSystem) {
  const auto info = ProcessInfo::CreateFull();
  struct utsname names;
  ASSERT_EQ(uname(&names), 0);
  EXPECT_EQ(info->HostName(), std::string(names.nodename));
  EXPECT_EQ(info->KernelRelease(), std::string(names.release));
  EXPECT_EQ(info->OsName(), "Linux");
#if defined(__x86_64__)
  EXPECT_EQ(info->Architecture(), "x86_64");
#endif
  std::ifstream os_release("/etc/os-release");
  std::string line, version;
  while (std::getline(os_release, line)) {
    if (line.starts_with("VERSION_ID=")) version = line.substr(11);
  }
  if (version.starts_with('"')) version = version.substr(1, version.size() - 2);
  EXPECT_EQ(info->OsVersion().value_or(""), version);
  EXPECT_EQ(info->ProcessorCount(), static_cast<uint32_t>(sysconf(_SC_NPROCESSORS_ONLN)));

  struct sysinfo sys;
  ASSERT_EQ(sysinfo(&sys), 0);
  EXPECT_EQ(info->TotalMemoryBytes(), static_cast<uint64_t>(sys.totalram) * sys.mem_unit);
  EXPECT_GT(info->UsedMemoryBytes(), 0u);
  EXPECT_LT(info->UsedMemoryBytes(), info->TotalMemoryBytes());
  ASSERT_TRUE(info->BootTime().has_value());
  EXPECT_NEAR(static_cast<double>(*info->BootTime()),
              static_cast<double>(time(nullptr) - sys.uptime), 2.0);
}

}  // namespace
}  // namespace tarvix
