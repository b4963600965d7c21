// ProcessInfo on Linux: the process table and memory figures come from
// libproc2 (the library behind ps, top and free), host facts from uname(2)
// and os-release.
#include <libproc2/meminfo.h>
#include <libproc2/misc.h>
#include <libproc2/pids.h>
#include <libproc2/stat.h>
#include <signal.h>
// glibc 2.36 declares these without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}
#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <mutex>
#include <unordered_map>

#include "base/utf8.h"
#include "platform/linux/os_release.h"
#include "platform/process_info.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;

// Every item is read from /proc/<pid>/stat, so a pass costs one small file
// per process (ps reads stat and status for the same columns).
constexpr pids_item kItems[] = {PIDS_ID_PID, PIDS_CMD,      PIDS_STATE,
                                PIDS_RSS,    PIDS_TICS_ALL, PIDS_TICS_BEGAN};
enum ItemSlot { kPidSlot, kCmdSlot, kStateSlot, kRssSlot, kTicsSlot, kBeganSlot };

// libproc2 keeps a process-wide reference count for its optional NUMA
// support in procps_pids_new/unref and procps_stat_new/unref; creating and
// dropping those contexts from several request workers at once must not
// race on it.
std::mutex& ContextLifetimeMutex() {
  static std::mutex mutex;
  return mutex;
}

// One process as read from the system, before it joins the table.
struct RawProcess {
  ProcessEntry entry;
  unsigned long long tics = 0;  // user + system clock ticks so far
};

// What the table remembers about an entry to measure the next delta.
struct Sample {
  unsigned long long tics = 0;
  Clock::time_point taken;
};

uint64_t KibibytesOf(const meminfo_result* result) {
  return result != nullptr ? static_cast<uint64_t>(result->result.ul_int) * 1024 : 0;
}

// The kernel's name of the process, from /proc/<pid>/comm; nullopt when
// the process is gone or the file unreadable.
std::optional<std::string> ReadKernelName(uint32_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/comm";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[64];  // the kernel keeps at most 15 bytes, then a line feed
  ssize_t n;
  do {
    n = read(fd, buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  close(fd);
  if (n <= 0) return std::nullopt;
  std::string_view name(buffer, static_cast<size_t>(n));
  if (name.ends_with('\n')) name.remove_suffix(1);
  return std::string(name);
}

// libproc2 escapes names for a terminal (non-ASCII and control bytes come
// back as '?' or '.'), so the name is read from /proc/<pid>/comm as the
// kernel keeps it. libproc2's rendering stands in only when the process is
// gone by then.
std::string ProcessName(uint32_t pid, const char* escaped) {
  if (const std::optional<std::string> raw = ReadKernelName(pid)) return LossyUtf8(*raw);
  return LossyUtf8(escaped != nullptr ? std::string_view(escaped) : std::string_view());
}

std::string UnameField(const char* field, size_t size) {
  return LossyUtf8(std::string_view(field, strnlen(field, size)));
}

class LinuxProcessInfo final : public ProcessInfo {
 public:
  LinuxProcessInfo()
      : page_size_(static_cast<uint64_t>(sysconf(_SC_PAGESIZE))), hertz_(procps_hertz_get()) {}

  ~LinuxProcessInfo() override {
    if (pids_ != nullptr) {
      std::lock_guard<std::mutex> lock(ContextLifetimeMutex());
      procps_pids_unref(&pids_);
    }
  }

  LinuxProcessInfo(const LinuxProcessInfo&) = delete;
  LinuxProcessInfo& operator=(const LinuxProcessInfo&) = delete;

  void RefreshMemory() override {
    // A fresh context each time: libproc2 re-reads /proc/meminfo at most
    // once a second per context, and a refresh must read it now.
    meminfo_info* info = nullptr;
    mem_total_ = mem_used_ = 0;
    if (procps_meminfo_new(&info) < 0) return;
    // Each get reuses one result slot of the context: copy before the next.
    mem_total_ = KibibytesOf(procps_meminfo_get(info, MEMINFO_MEM_TOTAL));
    mem_used_ = KibibytesOf(procps_meminfo_get(info, MEMINFO_MEM_USED));  // total - available
    procps_meminfo_unref(&info);
  }

  void RefreshProcessors() override {
    const long count = procps_cpu_count();
    processors_ = count > 0 ? static_cast<uint32_t>(count) : 0;
  }

  void RefreshProcesses() override {
    if (!EnsurePids()) return;  // keep the last table; the next refresh tries again
    const Clock::time_point now = Clock::now();
    const pids_fetch* fetched = procps_pids_reap(pids_, PIDS_FETCH_TASKS_ONLY);
    if (fetched == nullptr) return;
    std::vector<ProcessEntry> entries;
    std::vector<Sample> samples;
    std::unordered_map<uint32_t, size_t> index;
    const int total = fetched->counts->total;
    entries.reserve(static_cast<size_t>(total));
    samples.reserve(static_cast<size_t>(total));
    index.reserve(static_cast<size_t>(total));
    for (int i = 0; i < total; ++i) {
      RawProcess raw = Convert(fetched->stacks[i]);
      MeasureCpu(now, &raw);
      index.emplace(raw.entry.pid, entries.size());
      samples.push_back(Sample{raw.tics, now});
      entries.push_back(std::move(raw.entry));
    }
    entries_ = std::move(entries);
    samples_ = std::move(samples);
    index_ = std::move(index);
    last_pass_ = now;
  }

  bool RefreshProcess(uint32_t pid) override {
    if (pid == 0 || pid > kMaxProcessId) return false;
    const Clock::time_point now = Clock::now();
    bool unreadable = false;
    std::optional<RawProcess> raw = ReadOne(pid, &unreadable);
    if (unreadable) {
      // The table cannot be read (no /proc, out of memory): fall back to the
      // null signal, which tells "no such process" from everything else.
      if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) return true;
      Drop(pid);
      return false;
    }
    if (!raw) {
      Drop(pid);
      return false;
    }
    MeasureCpu(now, &*raw);
    const auto it = index_.find(pid);
    if (it == index_.end()) {
      index_.emplace(pid, entries_.size());
      samples_.push_back(Sample{raw->tics, now});
      entries_.push_back(std::move(raw->entry));
    } else {
      samples_[it->second] = Sample{raw->tics, now};
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
    struct utsname names;
    if (uname(&names) != 0) return std::nullopt;
    return UnameField(names.nodename, sizeof(names.nodename));
  }

  std::string OsName() const override {
    struct utsname names;
    if (uname(&names) != 0 || names.sysname[0] == '\0') return "Linux";
    return UnameField(names.sysname, sizeof(names.sysname));
  }

  std::optional<std::string> OsVersion() const override { return SystemOsVersionId(); }

  std::optional<std::string> KernelRelease() const override {
    struct utsname names;
    if (uname(&names) != 0) return std::nullopt;
    return UnameField(names.release, sizeof(names.release));
  }

  std::string Architecture() const override {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__aarch64__)
    return "aarch64";
#elif defined(__i386__)
    return "x86";
#elif defined(__arm__)
    return "arm";
#elif defined(__riscv) && __riscv_xlen == 64
    return "riscv64";
#else
    struct utsname names;
    if (uname(&names) != 0) return "unknown";
    return UnameField(names.machine, sizeof(names.machine));
#endif
  }

  std::optional<uint64_t> BootTime() const override {
    stat_info* info = nullptr;
    {
      std::lock_guard<std::mutex> lock(ContextLifetimeMutex());
      if (procps_stat_new(&info) < 0) return std::nullopt;
    }
    const stat_result* boot = procps_stat_get(info, STAT_SYS_TIME_OF_BOOT);
    const uint64_t seconds = boot != nullptr ? boot->result.ul_int : 0;
    {
      std::lock_guard<std::mutex> lock(ContextLifetimeMutex());
      procps_stat_unref(&info);
    }
    if (seconds == 0) return std::nullopt;
    return seconds;
  }

  bool Kill(uint32_t pid) override {
    if (pid == 0 || pid > kMaxProcessId) return false;
    const ProcessEntry* entry = FindProcess(pid);
    if (entry == nullptr) return false;
    // Pin the process first, then check that the id still belongs to the
    // process the table saw: between the sample and now it may have ended
    // and its id gone to an unrelated process, which must not be killed.
    const int pidfd = pidfd_open(static_cast<pid_t>(pid), 0);  // always close-on-exec
    if (pidfd < 0 && errno == ESRCH) return false;
    bool unreadable = false;
    const std::optional<RawProcess> now = ReadOne(pid, &unreadable);
    bool sent = false;
    if (!unreadable && now && now->entry.start_stamp == entry->start_stamp) {
      if (pidfd >= 0) {
        sent = pidfd_send_signal(pidfd, SIGKILL, nullptr, 0) == 0;
        if (!sent && errno == ENOSYS) sent = kill(static_cast<pid_t>(pid), SIGKILL) == 0;
      } else {
        // No pidfds (old kernel or a filter): the plain signal, right after
        // the identity check, is the best that remains.
        sent = kill(static_cast<pid_t>(pid), SIGKILL) == 0;
      }
    }
    if (pidfd >= 0) close(pidfd);
    return sent;
  }

 private:
  bool EnsurePids() {
    if (pids_ != nullptr) return true;
    pids_item items[std::size(kItems)];
    std::copy(std::begin(kItems), std::end(kItems), items);
    std::lock_guard<std::mutex> lock(ContextLifetimeMutex());
    if (procps_pids_new(&pids_, items, static_cast<int>(std::size(items))) < 0) {
      pids_ = nullptr;
      return false;
    }
    return true;
  }

  RawProcess Convert(const pids_stack* stack) const {
    const pids_result* r = stack->head;
    RawProcess raw;
    raw.entry.pid = static_cast<uint32_t>(r[kPidSlot].result.s_int);
    raw.entry.name = ProcessName(raw.entry.pid, r[kCmdSlot].result.str);
    const char state = static_cast<char>(r[kStateSlot].result.s_ch);
    raw.entry.zombie = state == 'Z' || state == 'X';
    raw.entry.resident_bytes = static_cast<uint64_t>(r[kRssSlot].result.ul_int) * page_size_;
    raw.entry.start_stamp = r[kBeganSlot].result.ull_int;
    raw.tics = r[kTicsSlot].result.ull_int;
    return raw;
  }

  // Reads one process without touching the table. Sets *unreadable when
  // libproc2 could not answer at all (as opposed to "no such process").
  std::optional<RawProcess> ReadOne(uint32_t pid, bool* unreadable) {
    *unreadable = false;
    if (!EnsurePids()) {
      *unreadable = true;
      return std::nullopt;
    }
    unsigned wanted = pid;
    const pids_fetch* fetched = procps_pids_select(pids_, &wanted, 1, PIDS_SELECT_PID);
    if (fetched == nullptr) {
      *unreadable = true;
      return std::nullopt;
    }
    for (int i = 0; i < fetched->counts->total; ++i) {
      RawProcess raw = Convert(fetched->stacks[i]);
      if (raw.entry.pid == pid) return raw;
    }
    return std::nullopt;
  }

  // Usage since the process's previous sample. A process the table has not
  // sampled (or whose id now belongs to a newer process) started after the
  // last full pass, so all of its ticks fall into the interval since then.
  void MeasureCpu(Clock::time_point now, RawProcess* raw) const {
    Clock::time_point since;
    unsigned long long used = raw->tics;
    const auto it = index_.find(raw->entry.pid);
    if (it != index_.end() && entries_[it->second].start_stamp == raw->entry.start_stamp) {
      const Sample& before = samples_[it->second];
      since = before.taken;
      used = raw->tics >= before.tics ? raw->tics - before.tics : 0;
    } else if (last_pass_) {
      since = *last_pass_;
    } else {
      return;  // first sample of this process: nothing to measure against
    }
    const double seconds = std::chrono::duration<double>(now - since).count();
    // Zero elapsed time gives NaN or infinity, which the tools show as null.
    raw->entry.cpu_percent = static_cast<float>(static_cast<double>(used) /
                                                static_cast<double>(hertz_) / seconds * 100.0);
  }

  void Drop(uint32_t pid) {
    const auto it = index_.find(pid);
    if (it == index_.end()) return;
    const size_t slot = it->second;
    index_.erase(it);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(slot));
    samples_.erase(samples_.begin() + static_cast<std::ptrdiff_t>(slot));
    for (auto& [other_pid, other_slot] : index_) {
      if (other_slot > slot) --other_slot;
    }
  }

  const uint64_t page_size_;
  const long hertz_;
  pids_info* pids_ = nullptr;
  std::vector<ProcessEntry> entries_;
  std::vector<Sample> samples_;  // parallel to entries_
  std::unordered_map<uint32_t, size_t> index_;
  std::optional<Clock::time_point> last_pass_;
  uint64_t mem_total_ = 0;
  uint64_t mem_used_ = 0;
  uint32_t processors_ = 0;
};

}  // namespace

std::unique_ptr<ProcessInfo> ProcessInfo::CreateEmpty() {
  return std::make_unique<LinuxProcessInfo>();
}

std::unique_ptr<ProcessInfo> ProcessInfo::CreateFull() {
  auto info = std::make_unique<LinuxProcessInfo>();
  info->RefreshProcesses();
  info->RefreshMemory();
  info->RefreshProcessors();
  return info;
}

}  // namespace tarvix
