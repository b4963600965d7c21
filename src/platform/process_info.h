// Process and system information: a snapshot of the machine (process table,
// memory figures, processor list) that callers refresh part by part, plus
// live reads of host facts and a kill operation.
//
// One snapshot belongs to one caller: it is not safe to share between
// threads, but any number of snapshots may live at once on different
// threads. A snapshot caches nothing across snapshots; every Create*() call
// reads the system afresh. Nothing here ever fails outright: a figure that
// cannot be read is reported as absent (nullopt), zero or an empty table,
// and the next refresh tries again.
//
// The platform file defines the factories; the interface is shaped so that
// the same calls map onto Linux (libproc2, uname, os-release) and macOS
// (sysctl, libproc, host VM statistics).
#ifndef TARVIX_PLATFORM_PROCESS_INFO_H_
#define TARVIX_PLATFORM_PROCESS_INFO_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvix {

// The largest id a process can have: pid_t is a signed 32-bit integer on
// every supported platform. Ids above it (and 0) name no single process.
inline constexpr uint64_t kMaxProcessId = 0x7fffffff;

// One process of the table.
struct ProcessEntry {
  uint32_t pid = 0;
  // The short name the kernel keeps for the process, its bytes decoded as
  // lossy UTF-8.
  std::string name;
  // Processor usage in percent of one processor, measured between the two
  // most recent samples of this process; 0 until a refresh followed the
  // sample that first found it.
  float cpu_percent = 0.0f;
  // Resident memory in bytes.
  uint64_t resident_bytes = 0;
  // Ended but not yet reaped by its parent.
  bool zombie = false;
  // When the process started, in a platform unit that only grows: two
  // processes that held the same id at different times have different
  // stamps, and an earlier start has a smaller one. 0 when unknown.
  uint64_t start_stamp = 0;
};

class ProcessInfo {
 public:
  // A snapshot with the process table, the memory figures and the processor
  // list loaded.
  static std::unique_ptr<ProcessInfo> CreateFull();
  // A snapshot with nothing loaded yet; refreshes load what they name.
  static std::unique_ptr<ProcessInfo> CreateEmpty();

  virtual ~ProcessInfo() = default;

  // --- Refreshes -----------------------------------------------------------

  // Re-reads total and used memory.
  virtual void RefreshMemory() = 0;
  // Re-reads the processor list.
  virtual void RefreshProcessors() = 0;
  // Re-reads every process: processes that ended leave the table, new ones
  // join it, and cpu_percent becomes the usage since the previous sample.
  virtual void RefreshProcesses() = 0;
  // Re-reads the one entry for `pid` (adding, updating or dropping it) and
  // returns whether a process with that id exists. A zombie exists. When
  // the table cannot be read the answer comes from a null-signal probe.
  virtual bool RefreshProcess(uint32_t pid) = 0;

  // --- Snapshot contents ---------------------------------------------------

  // The process table in the platform's iteration order (no defined order).
  virtual const std::vector<ProcessEntry>& processes() const = 0;
  // The entry for `pid`, or null; valid until the next refresh.
  virtual const ProcessEntry* FindProcess(uint32_t pid) const = 0;
  // Number of logical processors in the processor list (0 until loaded).
  virtual uint32_t ProcessorCount() const = 0;
  // Physical memory and memory in use, in bytes (0 until loaded or when
  // unreadable). "In use" is what the platform's own tools call used.
  virtual uint64_t TotalMemoryBytes() const = 0;
  virtual uint64_t UsedMemoryBytes() const = 0;

  // --- Host facts (read live) ----------------------------------------------

  virtual std::optional<std::string> HostName() const = 0;
  // The kernel's name for the operating system; when it cannot be read,
  // the platform's fixed name ("Linux", "Darwin").
  virtual std::string OsName() const = 0;
  // The product version of the operating system, e.g. "12" or "14.4".
  virtual std::optional<std::string> OsVersion() const = 0;
  virtual std::optional<std::string> KernelRelease() const = 0;
  // The processor architecture the daemon was built for, e.g. "x86_64".
  virtual std::string Architecture() const = 0;
  // Boot time in whole seconds since the Unix epoch.
  virtual std::optional<uint64_t> BootTime() const = 0;

  // --- Acting on a process -------------------------------------------------

  // Sends SIGKILL to the process that the table holds under `pid` and
  // returns whether the system accepted it. False, with nothing sent, when
  // the table has no such entry, when `pid` is 0 or above kMaxProcessId,
  // or when the process has ended since it was sampled (even if its id now
  // names another process).
  virtual bool Kill(uint32_t pid) = 0;
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_PROCESS_INFO_H_
