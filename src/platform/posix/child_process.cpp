#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <thread>
#include <utility>

#include "base/os_error.h"

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
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
  read_end->Reset(fds[0]);
  write_end->Reset(fds[1]);
  if (const int e = MoveAboveStandardStreams(read_end); e != 0) return e;
  return MoveAboveStandardStreams(write_end);
}

// posix_spawn attributes and file actions, destroyed on every path.
class SpawnSetup {
 public:
  SpawnSetup() = default;
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  ~SpawnSetup() {
    if (actions_ready_) posix_spawn_file_actions_destroy(&actions_);
    if (attr_ready_) posix_spawnattr_destroy(&attr_);
  }

  // Returns 0 or the error number of the step that failed.
  int Init(int stdout_fd, int stderr_fd) {
    if (int e = posix_spawn_file_actions_init(&actions_); e != 0) return e;
    actions_ready_ = true;
    if (int e = posix_spawnattr_init(&attr_); e != 0) return e;
    attr_ready_ = true;

    int e = posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (e == 0) e = posix_spawn_file_actions_adddup2(&actions_, stdout_fd, STDOUT_FILENO);
    if (e == 0) e = posix_spawn_file_actions_adddup2(&actions_, stderr_fd, STDERR_FILENO);
    // Our own descriptors are close-on-exec, but a library or a racing thread
    // may have opened one without the flag; the child gets none of them.
    if (e == 0) e = posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
    if (e != 0) return e;

    sigset_t all_signals;
    sigset_t no_signals;
    sigfillset(&all_signals);
    sigemptyset(&no_signals);
    e = posix_spawnattr_setflags(
        &attr_, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (e == 0) e = posix_spawnattr_setpgroup(&attr_, 0);
    if (e == 0) e = posix_spawnattr_setsigdefault(&attr_, &all_signals);
    if (e == 0) e = posix_spawnattr_setsigmask(&attr_, &no_signals);
    return e;
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attr() const { return &attr_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
  bool actions_ready_ = false;
  bool attr_ready_ = false;
};

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

  SpawnSetup setup;
  if (int e = setup.Init(stdout_write.get(), stderr_write.get()); e != 0) {
    return Error(OsErrorText(e));
  }
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                  const_cast<char*>(command.c_str()), nullptr};
  pid_t pid = -1;
  const int e = posix_spawnp(&pid, "sh", setup.actions(), setup.attr(), argv, environ);
  if (e != 0) return Error(OsErrorText(e));
  // The write ends close here, so end of file comes when the last writer in
  // the child's tree is done.
  return std::unique_ptr<ChildProcess>(
      new ChildProcess(pid, stdout_read.Release(), stderr_read.Release()));
}

ChildProcess::~ChildProcess() {
  ClosePipes();
  if (reaped_) return;
  KillGroup();
  kill(pid_, SIGKILL);  // in case the shell moved out of its own group
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
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

void ChildProcess::KillGroup() {
  if (!reaped_) KillProcessGroup(pid_);
}

Result<std::optional<int>> ChildProcess::Wait(Clock::time_point give_up) {
  // The shell normally becomes waitable microseconds after its pipes close,
  // so a few yields usually suffice; after them, pauses that grow up to
  // 10 ms. Unlike a plain blocking waitpid this keeps the wait bounded when
  // the shell lingers.
  constexpr int kYields = 32;
  constexpr auto kLongestPause = std::chrono::milliseconds(10);
  std::chrono::microseconds pause(50);
  bool killed = false;
  for (int attempt = 0;; ++attempt) {
    int status = 0;
    const pid_t waited = waitpid(pid_, &status, killed ? 0 : WNOHANG);
    if (waited == pid_) {
      reaped_ = true;
      if (WIFEXITED(status)) return std::optional<int>(WEXITSTATUS(status));
      return std::optional<int>();
    }
    if (waited < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      reaped_ = true;
      return Error(OsErrorText(e));
    }
    const Clock::time_point now = Clock::now();
    if (now >= give_up) {
      // Our unreaped child, so the id is still ours to signal; after SIGKILL
      // a blocking wait ends promptly.
      kill(pid_, SIGKILL);
      killed = true;
      continue;
    }
    if (attempt < kYields) {
      std::this_thread::yield();
      continue;
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, give_up - now));
    pause = std::min<std::chrono::microseconds>(pause * 2, kLongestPause);
  }
}

void KillProcessGroup(pid_t pgid) {
  if (pgid > 0) kill(-pgid, SIGKILL);
}

}  // namespace tarvix
