// Word from the kernel that a process has ended, where the platform can
// give it: a pidfd on Linux, a kqueue process filter on macOS. The parent
// watchdog sleeps on it between its checks, so it learns of the parent's
// end at once instead of at the next check.
#ifndef TARVIX_PLATFORM_PROCESS_EXIT_H_
#define TARVIX_PLATFORM_PROCESS_EXIT_H_

#include <chrono>
#include <cstdint>
#include <memory>

namespace tarvix {

// Watches the process that holds `pid` when the watch is made. One watch
// belongs to one thread.
class ProcessExitWatch {
 public:
  // Null when the process is already gone (reaped) or the platform cannot
  // watch it; callers then fall back to polling.
  static std::unique_ptr<ProcessExitWatch> Create(uint32_t pid);

  virtual ~ProcessExitWatch() = default;
  // Sleeps until the process has ended (a zombie has ended) or `timeout`
  // has passed; true when it has ended. A failed wait sleeps out the
  // timeout and answers false, leaving the verdict to the caller's check.
  virtual bool WaitForExit(std::chrono::nanoseconds timeout) = 0;
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_PROCESS_EXIT_H_
