// ProcessInfo on macOS: host facts by sysctl, memory from the host's
// virtual-memory statistics, processes through libproc.
#include <errno.h>
#include <libproc.h>
#include <mach/mach.h>
#include <mach/mach_time.h>
#include <signal.h>
#include <sys/proc_info.h>
#include <sys/sysctl.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "base/utf8.h"
#include "platform/process_info.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;

// Status of a process that ended and waits for its parent (sys/proc.h).
constexpr uint32_t kZombieStatus = 5;

std::optional<std::string> SysctlText(std::vector<int> name) {
  size_t size = 0;
  if (sysctl(name.data(), static_cast<u_int>(name.size()), nullptr, &size, nullptr, 0) != 0) {
    return std::nullopt;
  }
  std::string text(size, '\0');
  if (sysctl(name.data(), static_cast<u_int>(name.size()), text.data(), &size, nullptr, 0) != 0) {
    return std::nullopt;
  }
  text.resize(strnlen(text.data(), size));
  return LossyUtf8(std::move(text));
}

std::optional<std::string> SysctlTextByName(const char* name) {
  size_t size = 0;
  if (sysctlbyname(name, nullptr, &size, nullptr, 0) != 0) return std::nullopt;
  std::string text(size, '\0');
  if (sysctlbyname(name, text.data(), &size, nullptr, 0) != 0) return std::nullopt;
  text.resize(strnlen(text.data(), size));
  return LossyUtf8(std::move(text));
}

// Mach absolute time units (the unit of task times) per nanosecond.
double NanosecondsPerTick() {
  mach_timebase_info_data_t timebase{};
  if (mach_timebase_info(&timebase) != KERN_SUCCESS || timebase.denom == 0) return 1.0;
  return static_cast<double>(timebase.numer) / timebase.denom;
}

// One process as read from the system, before it joins the table.
struct RawProcess {
  ProcessEntry entry;
  uint64_t ticks = 0;  // user + system time so far
};

// What the table remembers about an entry to measure the next delta.
struct Sample {
  uint64_t ticks = 0;
  Clock::time_point taken;
};

// Reads one process; nullopt when it is gone. Figures that only the
// owner (or root) may read stay 0.
std::optional<RawProcess> ReadProcess(uint32_t pid) {
  struct proc_bsdinfo bsd;
  if (proc_pidinfo(static_cast<int>(pid), PROC_PIDTBSDINFO, 0, &bsd, sizeof bsd) !=
      static_cast<int>(sizeof bsd)) {
    return std::nullopt;
  }
  RawProcess raw;
  raw.entry.pid = pid;
  raw.entry.zombie = bsd.pbi_status == kZombieStatus;
  raw.entry.start_stamp = bsd.pbi_start_tvsec * 1000000 + bsd.pbi_start_tvusec;
  char name[2 * MAXCOMLEN + 1] = {};
  const int length = proc_name(static_cast<int>(pid), name, sizeof name);
  raw.entry.name = length > 0
                       ? LossyUtf8(std::string_view(name, strnlen(name, sizeof name)))
                       : LossyUtf8(std::string_view(bsd.pbi_comm,
                                                    strnlen(bsd.pbi_comm, sizeof bsd.pbi_comm)));
  struct proc_taskinfo task;
  if (proc_pidinfo(static_cast<int>(pid), PROC_PIDTASKINFO, 0, &task, sizeof task) ==
      static_cast<int>(sizeof task)) {
    raw.entry.resident_bytes = task.pti_resident_size;
    raw.ticks = task.pti_total_user + task.pti_total_system;
  }
  return raw;
}

std::vector<uint32_t> ListProcessIds() {
  const int needed = proc_listpids(PROC_ALL_PIDS, 0, nullptr, 0);
  if (needed <= 0) return {};
  // Room for processes that start between the two calls.
  std::vector<pid_t> pids(static_cast<size_t>(needed) / sizeof(pid_t) + 64);
  const int bytes = proc_listpids(PROC_ALL_PIDS, 0, pids.data(),
                                  static_cast<int>(pids.size() * sizeof(pid_t)));
  if (bytes <= 0) return {};
  std::vector<uint32_t> ids;
  for (size_t i = 0; i < static_cast<size_t>(bytes) / sizeof(pid_t); ++i) {
    if (pids[i] > 0) ids.push_back(static_cast<uint32_t>(pids[i]));
  }
  return ids;
}

class MacProcessInfo final : public ProcessInfo {
 public:
  MacProcessInfo() : nanoseconds_per_tick_(NanosecondsPerTick()) {}

  void RefreshMemory() override {
    mem_total_ = mem_used_ = 0;
    uint64_t total = 0;
    size_t size = sizeof total;
    int name[] = {CTL_HW, HW_MEMSIZE};
    if (sysctl(name, 2, &total, &size, nullptr, 0) == 0) mem_total_ = total;

    const mach_port_t host = mach_host_self();
    vm_size_t page_size = 0;
    vm_statistics64_data_t vm{};
    mach_msg_type_number_t count = HOST_VM_INFO64_COUNT;
    if (host_page_size(host, &page_size) == KERN_SUCCESS &&
        host_statistics64(host, HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&vm), &count) ==
            KERN_SUCCESS) {
      const uint64_t pages = uint64_t{vm.active_count} + vm.wire_count +
                             vm.compressor_page_count + vm.speculative_count;
      mem_used_ = pages * page_size;
    }
    mach_port_deallocate(mach_task_self(), host);
  }

  void RefreshProcessors() override {
    int count = 0;
    size_t size = sizeof count;
    int name[] = {CTL_HW, HW_NCPU};
    processors_ = sysctl(name, 2, &count, &size, nullptr, 0) == 0 && count > 0
                      ? static_cast<uint32_t>(count)
                      : 0;
  }

  void RefreshProcesses() override {
    const std::vector<uint32_t> ids = ListProcessIds();
    if (ids.empty()) return;  // keep the last table; the next refresh tries again
    const Clock::time_point now = Clock::now();
    std::vector<ProcessEntry> entries;
    std::vector<Sample> samples;
    std::unordered_map<uint32_t, size_t> index;
    entries.reserve(ids.size());
    samples.reserve(ids.size());
    for (const uint32_t pid : ids) {
      std::optional<RawProcess> raw = ReadProcess(pid);
      if (!raw) continue;
      MeasureCpu(now, &*raw);
      index.emplace(pid, entries.size());
      samples.push_back(Sample{raw->ticks, now});
      entries.push_back(std::move(raw->entry));
    }
    entries_ = std::move(entries);
    samples_ = std::move(samples);
    index_ = std::move(index);
  }

  bool RefreshProcess(uint32_t pid) override {
    if (pid == 0 || pid > kMaxProcessId) return false;
    const Clock::time_point now = Clock::now();
    std::optional<RawProcess> raw = ReadProcess(pid);
    if (!raw) {
      Drop(pid);
      // libproc also fails for processes it may not look at; the null
      // signal tells "no such process" apart.
      return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
    }
    MeasureCpu(now, &*raw);
    const auto it = index_.find(pid);
    if (it == index_.end()) {
      index_.emplace(pid, entries_.size());
      samples_.push_back(Sample{raw->ticks, now});
      entries_.push_back(std::move(raw->entry));
    } else {
      samples_[it->second] = Sample{raw->ticks, now};
      entries_[it->second] = std::move(raw->entry);
    }
    return true;
  }

  const std::vector<ProcessEntry>& processes() const override { return entries_; }
  const ProcessEntry* FindProcess(uint32_t pid) const override {
    const auto it = index_.find(pid);
    return it == index_.end() ? nullptr : &entries_[it->second];
  }
  uint32_t ProcessorCount() const override { return processors_; }
  uint64_t TotalMemoryBytes() const override { return mem_total_; }
  uint64_t UsedMemoryBytes() const override { return mem_used_; }

  std::optional<std::string> HostName() const override {
    return SysctlText({CTL_KERN, KERN_HOSTNAME});
  }
  std::string OsName() const override {
    std::optional<std::string> name = SysctlText({CTL_KERN, KERN_OSTYPE});
    return name && !name->empty() ? *name : "Darwin";
  }
  std::optional<std::string> OsVersion() const override {
    return SysctlTextByName("kern.osproductversion");
  }
  std::optional<std::string> KernelRelease() const override {
    return SysctlText({CTL_KERN, KERN_OSRELEASE});
  }
  std::string Architecture() const override {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__aarch64__)
    return "aarch64";
#else
    return "unknown";
#endif
  }
  std::optional<uint64_t> BootTime() const override {
    struct timeval boot{};
    size_t size = sizeof boot;
    int name[] = {CTL_KERN, KERN_BOOTTIME};
    if (sysctl(name, 2, &boot, &size, nullptr, 0) != 0 || boot.tv_sec <= 0) return std::nullopt;
    return static_cast<uint64_t>(boot.tv_sec);
  }

  bool Kill(uint32_t pid) override {
    if (pid == 0 || pid > kMaxProcessId) return false;
    const ProcessEntry* entry = FindProcess(pid);
    if (entry == nullptr) return false;
    // The id must still name the process the table saw, not a newer one
    // that inherited it. macOS has no descriptor that pins a process, so
    // the check and the signal follow each other as closely as they can.
    const std::optional<RawProcess> now = ReadProcess(pid);
    if (!now || now->entry.start_stamp != entry->start_stamp) return false;
    return kill(static_cast<pid_t>(pid), SIGKILL) == 0;
  }

 private:
  void MeasureCpu(Clock::time_point now, RawProcess* raw) const {
    const auto it = index_.find(raw->entry.pid);
    if (it == index_.end()) return;
    const ProcessEntry& before = entries_[it->second];
    const Sample& sample = samples_[it->second];
    // Another process under a recycled id starts from nothing.
    if (before.start_stamp != raw->entry.start_stamp || raw->ticks < sample.ticks) return;
    const double wall_ns = std::chrono::duration<double, std::nano>(now - sample.taken).count();
    if (wall_ns <= 0) return;
    const double busy_ns = static_cast<double>(raw->ticks - sample.ticks) * nanoseconds_per_tick_;
    raw->entry.cpu_percent = static_cast<float>(busy_ns / wall_ns * 100.0);
  }

  void Drop(uint32_t pid) {
    const auto it = index_.find(pid);
    if (it == index_.end()) return;
    const size_t slot = it->second;
    index_.erase(it);
    if (slot + 1 != entries_.size()) {
      entries_[slot] = std::move(entries_.back());
      samples_[slot] = samples_.back();
      index_[entries_[slot].pid] = slot;
    }
    entries_.pop_back();
    samples_.pop_back();
  }

  const double nanoseconds_per_tick_;
  std::vector<ProcessEntry> entries_;
  std::vector<Sample> samples_;
  std::unordered_map<uint32_t, size_t> index_;
  uint32_t processors_ = 0;
  uint64_t mem_total_ = 0;
  uint64_t mem_used_ = 0;
};

}  // namespace

std::unique_ptr<ProcessInfo> ProcessInfo::CreateFull() {
  auto info = std::make_unique<MacProcessInfo>();
  info->RefreshProcesses();
  info->RefreshMemory();
  info->RefreshProcessors();
  return info;
}

std::unique_ptr<ProcessInfo> ProcessInfo::CreateEmpty() { return std::make_unique<MacProcessInfo>(); }

}  // namespace tarvix
