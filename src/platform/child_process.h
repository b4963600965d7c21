// A shell child for the command tool: `sh -c <command>` found on the search
// path, leader of a new process group, standard input on the null device and
// standard output and standard error on two pipes that its owner drains.
//
// The child starts with every signal at its default disposition and nothing
// blocked (the daemon ignores SIGPIPE, and an ignored disposition would
// survive exec), and with no descriptor of the daemon beyond 0, 1 and 2.
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
#include <optional>
#include <string>

#include "base/result.h"

namespace tarvix {

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

  // SIGKILL to the whole process group; nothing once the shell is reaped
  // (its id could then name someone else's group).
  void KillGroup();

  // Reaps the shell and returns its exit status (0 to 255), or nullopt when
  // a signal ended it. Until `give_up` it waits for the shell to end by
  // itself; after that it kills the shell (not its group) and reaps it, so
  // the wait is bounded whatever the shell does. The error is the bare error
  // text of a failed waitpid; the shell then counts as reaped (it is not
  // ours to signal any more).
  Result<std::optional<int>> Wait(Clock::time_point give_up);

 private:
  ChildProcess(pid_t pid, int stdout_fd, int stderr_fd)
      : pid_(pid), stdout_fd_(stdout_fd), stderr_fd_(stderr_fd) {}

  pid_t pid_;
  bool reaped_ = false;
  int stdout_fd_;
  int stderr_fd_;
  std::string stdout_bytes_;
  std::string stderr_bytes_;
};

// SIGKILL to the process group `pgid`, ignoring the result. For a caller
// that kept only the id of a child owned elsewhere.
void KillProcessGroup(pid_t pgid);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_CHILD_PROCESS_H_
