// A scripted ProcessInfo: tests fill in the table and host facts, and read
// back which refreshes and kills the code under test asked for.
#ifndef TARVIX_TESTS_FAKES_FAKE_PROCESS_INFO_H_
#define TARVIX_TESTS_FAKES_FAKE_PROCESS_INFO_H_

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/process_info.h"

namespace tarvix {

// What the fake saw; shared so a test can read it after the tool dropped
// the snapshot.
struct FakeProcessInfoLog {
  int memory_refreshes = 0;
  int processor_refreshes = 0;
  int process_refreshes = 0;
  std::vector<uint32_t> kills;
};

class FakeProcessInfo : public ProcessInfo {
 public:
  explicit FakeProcessInfo(
      std::shared_ptr<FakeProcessInfoLog> log = std::make_shared<FakeProcessInfoLog>())
      : log_(std::move(log)) {}

  // Scripted contents.
  std::vector<ProcessEntry> table;
  // Replaces `table` on RefreshProcesses when set (the second pass).
  std::optional<std::vector<ProcessEntry>> table_after_refresh;
  uint32_t processor_count = 0;
  uint64_t total_memory = 0;
  uint64_t used_memory = 0;
  std::optional<std::string> host_name;
  std::string os_name = "Linux";
  std::optional<std::string> os_version;
  std::optional<std::string> kernel_release;
  std::string architecture = "x86_64";
  std::optional<uint64_t> boot_time;
  bool kill_succeeds = true;

  void RefreshMemory() override { ++log_->memory_refreshes; }
  void RefreshProcessors() override { ++log_->processor_refreshes; }
  void RefreshProcesses() override {
    ++log_->process_refreshes;
    if (table_after_refresh) table = *table_after_refresh;
  }
  bool RefreshProcess(uint32_t pid) override { return FindProcess(pid) != nullptr; }

  const std::vector<ProcessEntry>& processes() const override { return table; }
  const ProcessEntry* FindProcess(uint32_t pid) const override {
    const auto it = std::find_if(table.begin(), table.end(),
                                 [pid](const ProcessEntry& e) { return e.pid == pid; });
    return it == table.end() ? nullptr : &*it;
  }
  uint32_t ProcessorCount() const override { return processor_count; }
  uint64_t TotalMemoryBytes() const override { return total_memory; }
  uint64_t UsedMemoryBytes() const override { return used_memory; }
  std::optional<std::string> HostName() const override { return host_name; }
  std::string OsName() const override { return os_name; }
  std::optional<std::string> OsVersion() const override { return os_version; }
  std::optional<std::string> KernelRelease() const override { return kernel_release; }
  std::string Architecture() const override { return architecture; }
  std::optional<uint64_t> BootTime() const override { return boot_time; }
  bool Kill(uint32_t pid) override {
    log_->kills.push_back(pid);
    return kill_succeeds && FindProcess(pid) != nullptr;
  }

 private:
  std::shared_ptr<FakeProcessInfoLog> log_;
};

inline ProcessEntry FakeProcess(uint32_t pid, std::string name, uint64_t resident_bytes,
                                float cpu_percent = 0.0f) {
  ProcessEntry entry;
  entry.pid = pid;
  entry.name = std::move(name);
  entry.resident_bytes = resident_bytes;
  entry.cpu_percent = cpu_percent;
  return entry;
}

}  // namespace tarvix

#endif  // TARVIX_TESTS_FAKES_FAKE_PROCESS_INFO_H_
