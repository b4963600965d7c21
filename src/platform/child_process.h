// A shell child for the command tool: `sh -c <command>` found on the search
// path, leader of a new process group, standard input on the null device and
// standard output and standard error on two pipes that its owner drains.
//
// The child starts with every signal at its default disposition and nothing
// blocked (the daemon ignores SIGPIPE, and an ignored disposition would
// survive exec), with no descriptor of the daemon beyond 0, 1 and 2, and
// with the open-file limit the daemon started with (OriginalOpenFileLimit),
// not the one it raised for itself.
//
// One ChildProcess belongs to one thread at a time; it may be moved to
// another thread as a whole. Destroying a child that was never reaped kills
// its process group and reaps it, so no error path leaves a zombie behind.
#ifndef TARVIX_PLATFORM_CHILD_PROCESS_H_
#define TARVIX_PLATFORM_CHILD_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/result.h"
#include "platform/process_exit.h"

namespace tarvix {

// The shell's process group, for whoever may kill it: the thread that owns
// the child and any thread that kept only this. The group id names our
// group only until the shell is reaped (an emptied group's id may then go
// to a stranger's new group), so killing the group and reaping the shell
// exclude each other here. Thread-safe; outlives the child if kept.
class ProcessGroup {
 public:
  explicit ProcessGroup(pid_t pgid) : pgid_(pgid) {}
  ProcessGroup(const ProcessGroup&) = delete;
  ProcessGroup& operator=(const ProcessGroup&) = delete;

  // SIGKILL to the whole group, unless the shell has been reaped. Returns
  // whether the signal was sent.
  bool Kill();

 private:
  friend class ChildProcess;
  std::mutex mutex_;
  const pid_t pgid_;
  bool reaped_ = false;  // guarded by mutex_
};

class ChildProcess {
 public:
  using Clock = std::chrono::steady_clock;

  // Why DrainOutput stopped.
  enum class DrainEnd {
    kEndOfFile,   // both pipes reached end of file
    kOutputCap,   // one stream would have grown past the cap
    kGaveUp,      // `give_up` passed with a pipe still open
    kReadFailed,  // poll or read failed; the errno is in *error
  };

  // Starts the shell. The error is the bare error text (OsErrorText of the
  // failed step), or kNulInPathText when `command` holds a NUL byte, which
  // the shell could never receive intact.
  static Result<std::unique_ptr<ChildProcess>> SpawnShell(const std::string& command);

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // The shell's process id, which is also its process group id.
  pid_t pid() const { return pid_; }
  // The shell's process group, to kill from another thread.
  std::shared_ptr<ProcessGroup> group() const { return group_; }

  // Reads both pipes concurrently into the two buffers until both reach end
  // of file, until a stream would pass `cap` bytes (the bytes that would
  // pass it are not kept), or until `give_up`. Pipes that reached end of
  // file are closed; others stay open for another call or ClosePipes.
  DrainEnd DrainOutput(size_t cap, Clock::time_point give_up, int* error);

  // The bytes read so far; the buffer is left empty.
  std::string TakeStdout() { return std::move(stdout_bytes_); }
  std::string TakeStderr() { return std::move(stderr_bytes_); }

  // Closes whatever pipe ends are still open. Writers still holding them
  // then get EPIPE (or SIGPIPE) instead of a reader.
  void ClosePipes();

  // SIGKILL to the whole process group; nothing once the shell is reaped.
  void KillGroup() { group_->Kill(); }

  // Reaps the shell and returns its exit status (0 to 255), or nullopt when
  // a signal ended it. Until `give_up` it waits for the shell to end by
  // itself, asleep on the kernel's notice of its end (ProcessExitWatch; or,
  // where the system gives none, polling with growing pauses); after that it kills the shell (not its
  // group) and reaps it, so the wait is bounded whatever the shell does.
  // The error is the bare error text of a failed wait; the shell then
  // counts as reaped (it is not ours to signal any more).
  Result<std::optional<int>> Wait(Clock::time_point give_up);

 private:
  ChildProcess(pid_t pid, std::unique_ptr<ProcessExitWatch> exit_watch, int stdout_fd,
               int stderr_fd)
      : pid_(pid),
        exit_watch_(std::move(exit_watch)),
        stdout_fd_(stdout_fd),
        stderr_fd_(stderr_fd),
        group_(std::make_shared<ProcessGroup>(pid)) {}

  // Outcome of one non-blocking reap attempt.
  enum class Reap { kReaped, kRunning, kFailed };
  // Reaps the shell if it has ended, under the group's lock; *status or
  // *error tell how it ended or why the wait failed.
  Reap TryReap(int* status, int* error);
  // Sleeps until the shell has ended (not reaped) or `until` passes;
  // nullopt waits as long as it takes.
  void AwaitExit(std::optional<Clock::time_point> until);

  pid_t pid_;
  std::unique_ptr<ProcessExitWatch> exit_watch_;  // null where the exit cannot be watched
  int stdout_fd_;
  int stderr_fd_;
  std::shared_ptr<ProcessGroup> group_;
  std::string stdout_bytes_;
  std::string stderr_bytes_;
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_CHILD_PROCESS_H_
