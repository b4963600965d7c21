// The parent watchdog: ends the daemon once the program that started it
// (named by --parent-pid) is gone.
//
// The watchdog runs on its own detached thread. Every interval it asks a
// probe about the parent's id; when the parent is gone it ends the process
// at once with status 0 (no message, no cleanup, requests in progress are
// cut off). Between checks it sleeps on the kernel's notice of the
// parent's end where the platform gives one, so it ends within moments of
// the parent instead of at the next check. The parent counts as gone when
//   - the kernel reported its end,
//   - no process has its id any more,
//   - the process has ended but its own parent has not reaped it yet (a
//     zombie will never run again), or
//   - the id now belongs to another process: one that started later than
//     the parent first seen, or later than the daemon itself (the program
//     that started the daemon cannot be younger than it).
#ifndef TARVIX_DAEMON_PARENT_WATCHDOG_H_
#define TARVIX_DAEMON_PARENT_WATCHDOG_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace tarvix {

// What a probe found under one process id.
struct ProcessSighting {
  bool zombie = false;
  // Start time in a unit that only grows; 0 when unknown (never compared).
  uint64_t start_stamp = 0;
};

// Answers for one id: nullopt when no process has it. Called only from the
// watchdog thread; must stay usable for the life of that thread.
using ProcessProbe = std::function<std::optional<ProcessSighting>(uint32_t pid)>;

// Sleeps up to the given time between two checks; true when it learnt
// that the parent has ended, which ends the wait at once.
using ParentExitWait = std::function<bool(std::chrono::nanoseconds)>;

inline constexpr std::chrono::seconds kParentPollInterval{3};

// Plain sleep: never learns anything.
bool SleepOnly(std::chrono::nanoseconds duration);

// Blocks until the parent `parent_pid` is gone, sleeping `interval` before
// each check (the first check comes one interval after the call) through
// `wait`. `self_pid` is the daemon's own id, probed once at the start.
void WaitForParentToGo(uint32_t parent_pid, uint32_t self_pid, const ProcessProbe& probe,
                       std::chrono::nanoseconds interval,
                       const ParentExitWait& wait = SleepOnly);

// Sleeps on the kernel's notice of `pid`'s end (ProcessExitWatch), or
// plainly where there is none. Made before the first sleep, so it watches
// the process that held the id at the start.
ParentExitWait SystemParentExitWait(uint32_t pid);

// A probe over the system's process table (one table for the life of the
// probe, loaded one entry at a time).
ProcessProbe SystemProcessProbe();

// Starts the detached watchdog thread with SystemProcessProbe(),
// SystemParentExitWait(), a 3 second interval and _exit(0) once the parent
// is gone.
void StartParentWatchdog(uint32_t parent_pid);

// The same thread with everything injected: `on_gone` runs on the watchdog
// thread once the parent is gone, after which the thread ends. `make_wait`
// runs first on that thread (null: plain sleep).
void StartParentWatchdog(uint32_t parent_pid, ProcessProbe probe, std::chrono::nanoseconds interval,
                         std::function<void()> on_gone,
                         std::function<ParentExitWait()> make_wait = nullptr);

}  // namespace tarvix

#endif  // TARVIX_DAEMON_PARENT_WATCHDOG_H_
