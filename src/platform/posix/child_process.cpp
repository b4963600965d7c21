#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/os_error.h"
#include "platform/descriptors.h"
#include "platform/file_limit.h"
#include "platform/process_exit.h"

extern char** environ;

namespace tarvix {
namespace {

// Owns one descriptor until released.
class Fd {
 public:
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(-1); }
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// A daemon started with 0, 1 or 2 closed would get pipe ends there, and the
// child's redirections would then overwrite one stream with another; keeping
// every pipe end at 3 or above makes the dup2 steps independent.
int MoveAboveStandardStreams(Fd* fd) {
  if (fd->get() > STDERR_FILENO) return 0;
  const int moved = fcntl(fd->get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (moved < 0) return errno;
  fd->Reset(moved);
  return 0;
}

int OpenPipe(Fd* read_end, Fd* write_end) {
  int fds[2];
  if (const int e = OpenCloexecPipe(fds); e != 0) return e;
  read_end->Reset(fds[0]);
  write_end->Reset(fds[1]);
  if (const int e = MoveAboveStandardStreams(read_end); e != 0) return e;
  return MoveAboveStandardStreams(write_end);
}

// Everything the child needs between vfork and exec, prepared by the parent:
// the child shares the parent's memory and may only make system calls.
struct ExecPlan {
  std::vector<std::string> programs;  // "sh" in each search-path directory
  std::vector<char*> program_ptrs;
  char* argv[4];
  char** envp;
  int stdout_fd;
  int stderr_fd;
  std::optional<struct rlimit> file_limit;
  volatile int error = 0;  // set by the child when it could not exec
};

// Where execvp would look for `name`: each directory of PATH in order (an
// empty one is the working directory), or glibc's default path without it.
std::vector<std::string> SearchPath(const std::string& name) {
  const char* path = getenv("PATH");
  const std::string_view dirs = path != nullptr ? path : "/bin:/usr/bin";
  std::vector<std::string> programs;
  size_t start = 0;
  while (true) {
    const size_t colon = dirs.find(':', start);
    const std::string_view dir =
        dirs.substr(start, colon == std::string_view::npos ? colon : colon - start);
    programs.push_back(dir.empty() ? name : std::string(dir) + "/" + name);
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  return programs;
}

// The child's side of vfork: only async-signal-safe calls, no allocation,
// and it never returns. A failure is left in plan->error for the parent.
[[noreturn]] void ExecChild(ExecPlan* plan) {
  // Handlers and ignored dispositions are the daemon's, not the command's.
  // The parent blocked every signal before vfork, so no handler can run on
  // the shared memory before this.
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &default_action, nullptr);

  int error = 0;
  if (setpgid(0, 0) != 0) error = errno;
  if (error == 0 && plan->file_limit) setrlimit(RLIMIT_NOFILE, &*plan->file_limit);
  if (error == 0) {
    const int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd < 0) {
      error = errno;
    } else if (null_fd != STDIN_FILENO && dup2(null_fd, STDIN_FILENO) < 0) {
      error = errno;
    }
  }
  // The pipe ends are above 2 (see MoveAboveStandardStreams), so these
  // cannot overwrite each other.
  if (error == 0 && dup2(plan->stdout_fd, STDOUT_FILENO) < 0) error = errno;
  if (error == 0 && dup2(plan->stderr_fd, STDERR_FILENO) < 0) error = errno;
  if (error != 0) {
    plan->error = error;
    _exit(127);
  }
  // Our own descriptors are close-on-exec, but a library or a racing thread
  // may have opened one without the flag; the child gets none of them.
  CloseDescriptorsFrom(STDERR_FILENO + 1);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);

  // The search of execvp: go on past names that are missing or unusable,
  // and report a denied one over a missing one.
  bool denied = false;
  for (char* program : plan->program_ptrs) {
    execve(program, plan->argv, plan->envp);
    if (errno == EACCES) {
      denied = true;
    } else if (errno != ENOENT && errno != ENOTDIR && errno != ESTALE && errno != ENODEV &&
               errno != ETIMEDOUT) {
      denied = false;
      break;
    }
  }
  plan->error = denied ? EACCES : errno;
  _exit(127);
}

// Appends `n` bytes unless that would take `buffer` past `cap`. Growth is
// clamped to the cap so that a stream at its limit never holds a block
// twice its size.
bool AppendCapped(std::string* buffer, const char* data, size_t n, size_t cap) {
  if (n > cap - buffer->size()) return false;
  const size_t needed = buffer->size() + n;
  if (needed > buffer->capacity()) {
    buffer->reserve(std::min(cap, std::max(needed, 2 * buffer->capacity())));
  }
  buffer->append(data, n);
  return true;
}

// Poll timeout for `deadline`, rounded up so that the loop never spins on
// zero-length waits just before it.
int MillisecondsUntil(ChildProcess::Clock::time_point deadline,
                      ChildProcess::Clock::time_point now) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

}  // namespace

Result<std::unique_ptr<ChildProcess>> ChildProcess::SpawnShell(const std::string& command) {
  if (command.find('\0') != std::string::npos) return Error(kNulInPathText);

  Fd stdout_read, stdout_write, stderr_read, stderr_write;
  if (int e = OpenPipe(&stdout_read, &stdout_write); e != 0) return Error(OsErrorText(e));
  if (int e = OpenPipe(&stderr_read, &stderr_write); e != 0) return Error(OsErrorText(e));

  // vfork rather than posix_spawn: the child must lower the open-file limit
  // before exec, which posix_spawn has no step for.
  ExecPlan plan;
  plan.programs = SearchPath("sh");
  for (std::string& program : plan.programs) plan.program_ptrs.push_back(program.data());
  plan.argv[0] = const_cast<char*>("sh");
  plan.argv[1] = const_cast<char*>("-c");
  plan.argv[2] = const_cast<char*>(command.c_str());
  plan.argv[3] = nullptr;
  plan.envp = environ;
  plan.stdout_fd = stdout_write.get();
  plan.stderr_fd = stderr_write.get();
  plan.file_limit = OriginalOpenFileLimit();

  sigset_t all_signals, saved_mask;
  sigfillset(&all_signals);
  pthread_sigmask(SIG_SETMASK, &all_signals, &saved_mask);
  // macOS marks vfork deprecated but keeps it; fork would copy the page
  // tables of a daemon with many threads and mappings for every command.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const pid_t pid = vfork();
#pragma GCC diagnostic pop
  if (pid == 0) ExecChild(&plan);
  const int vfork_error = errno;
  pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
  if (pid < 0) return Error(OsErrorText(vfork_error));
  if (plan.error != 0) {
    // The child has already ended (vfork returns once it execs or exits).
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return Error(OsErrorText(plan.error));
  }
  // Our unreaped child, so the id cannot have passed to anyone else. A
  // system that cannot watch it (before Linux 5.3, or a filter) gets the
  // polling wait.
  std::unique_ptr<ProcessExitWatch> exit_watch = ProcessExitWatch::Create(static_cast<uint32_t>(pid));
  // The write ends close here, so end of file comes when the last writer in
  // the child's tree is done.
  return std::unique_ptr<ChildProcess>(new ChildProcess(
      pid, std::move(exit_watch), stdout_read.Release(), stderr_read.Release()));
}

ChildProcess::~ChildProcess() {
  ClosePipes();
  int status = 0, error = 0;
  if (TryReap(&status, &error) == Reap::kRunning) {
    KillGroup();
    kill(pid_, SIGKILL);  // in case the shell moved out of its own group
    do {
      AwaitExit(std::nullopt);
    } while (TryReap(&status, &error) == Reap::kRunning);
  }
}

ChildProcess::DrainEnd ChildProcess::DrainOutput(size_t cap, Clock::time_point give_up,
                                                 int* error) {
  int* const fds[2] = {&stdout_fd_, &stderr_fd_};
  std::string* const buffers[2] = {&stdout_bytes_, &stderr_bytes_};
  char chunk[64 * 1024];  // one default pipe buffer per read

  while (stdout_fd_ >= 0 || stderr_fd_ >= 0) {
    const Clock::time_point now = Clock::now();
    if (now >= give_up) return DrainEnd::kGaveUp;
    // A closed stream keeps fd -1, which poll skips.
    pollfd polled[2] = {{stdout_fd_, POLLIN, 0}, {stderr_fd_, POLLIN, 0}};
    if (poll(polled, 2, MillisecondsUntil(give_up, now)) < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return DrainEnd::kReadFailed;
    }
    for (int i = 0; i < 2; ++i) {
      if (polled[i].fd < 0 || polled[i].revents == 0) continue;
      if (polled[i].revents & POLLNVAL) {
        *error = EBADF;
        return DrainEnd::kReadFailed;
      }
      const ssize_t n = read(*fds[i], chunk, sizeof chunk);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        *error = errno;
        return DrainEnd::kReadFailed;
      }
      if (n == 0) {
        CloseFd(fds[i]);
      } else if (!AppendCapped(buffers[i], chunk, static_cast<size_t>(n), cap)) {
        return DrainEnd::kOutputCap;
      }
    }
  }
  return DrainEnd::kEndOfFile;
}

void ChildProcess::ClosePipes() {
  CloseFd(&stdout_fd_);
  CloseFd(&stderr_fd_);
}

bool ProcessGroup::Kill() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !reaped_ && pgid_ > 0 && kill(-pgid_, SIGKILL) == 0;
}

ChildProcess::Reap ChildProcess::TryReap(int* status, int* error) {
  std::lock_guard<std::mutex> lock(group_->mutex_);
  if (group_->reaped_) return Reap::kReaped;
  while (true) {
    const pid_t waited = waitpid(pid_, status, WNOHANG);
    if (waited == pid_) {
      group_->reaped_ = true;
      return Reap::kReaped;
    }
    if (waited == 0) return Reap::kRunning;
    if (errno == EINTR) continue;
    *error = errno;
    group_->reaped_ = true;
    return Reap::kFailed;
  }
}

void ChildProcess::AwaitExit(std::optional<Clock::time_point> until) {
  if (!until) {
    // Blocks until the shell can be reaped, but leaves the reaping to
    // TryReap, which does it under the group's lock.
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 &&
           errno == EINTR) {
    }
    return;
  }
  exit_watch_->WaitForExit(std::max<Clock::duration>(*until - Clock::now(), Clock::duration::zero()));
}

Result<std::optional<int>> ChildProcess::Wait(Clock::time_point give_up) {
  // Where the exit cannot be watched: the shell normally becomes waitable moments
  // after its pipes close, so pauses start short and grow up to 10 ms.
  constexpr auto kLongestPause = std::chrono::milliseconds(10);
  std::chrono::microseconds pause(50);
  bool killed = false;
  while (true) {
    int status = 0, error = 0;
    switch (TryReap(&status, &error)) {
      case Reap::kReaped:
        if (WIFEXITED(status)) return std::optional<int>(WEXITSTATUS(status));
        return std::optional<int>();
      case Reap::kFailed:
        return Error(OsErrorText(error));
      case Reap::kRunning:
        break;
    }
    if (killed) {
      AwaitExit(std::nullopt);
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (now >= give_up) {
      // Our unreaped child, so the id is still ours to signal; after SIGKILL
      // it ends promptly.
      kill(pid_, SIGKILL);
      killed = true;
    } else if (exit_watch_) {
      AwaitExit(give_up);
    } else {
      std::this_thread::sleep_for(std::min<Clock::duration>(pause, give_up - now));
      pause = std::min<std::chrono::microseconds>(pause * 2, kLongestPause);
    }
  }
}

}  // namespace tarvix
