// Shared pieces of the file tools: descriptor ownership, the screens applied
// to what was actually opened, and bounded waits on pipes and devices.
#ifndef TARVIX_TOOLS_HOST_OPENED_FILE_H_
#define TARVIX_TOOLS_HOST_OPENED_FILE_H_

#include <chrono>
#include <string>
#include <string_view>
#include <utility>

#include "base/result.h"

namespace tarvix {

// Owns one descriptor and closes it when destroyed. Move-only.
class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : fd_(fd) {}
  ScopedFd(ScopedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept;
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ~ScopedFd();

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Gives up ownership without closing.
  [[nodiscard]] int Release() { return std::exchange(fd_, -1); }
  // Closes now; returns 0 or the errno of a failed close (a deferred write
  // error on some file systems). Closing an invalid descriptor returns 0.
  int Close();

 private:
  int fd_ = -1;
};

// True when `path` holds a NUL byte and so cannot be handed to the system.
bool ContainsNul(std::string_view path);

// GuardPath, and GuardWritePath when `for_write`, applied to a resolved path
// (one without links, "." or ".." components). Refusals carry the screens'
// own messages.
Result<void> ScreenResolvedPath(std::string_view resolved, bool for_write);

// ScreenResolvedPath applied to the real path of what `fd` refers to, so a
// symbolic link, a relative path or a doubled slash cannot lead a tool to a
// place the same screens refuse by name. When the real path cannot be found
// the call fails with `failure_prefix` + error text: a tool that cannot
// screen does not go ahead.
Result<void> ScreenOpened(int fd, bool for_write, std::string_view failure_prefix);

// Switches a descriptor opened with O_NONBLOCK back to blocking I/O; returns
// 0 or an errno value.
int ClearNonBlocking(int fd);

// Waits until `fd` is ready for `events` (POLLIN or POLLOUT), for at most
// `max_wait` and never past `deadline`. True when ready, or when the
// descriptor reports hang-up or an error that the next read or write will
// surface; false when the time ran out.
bool WaitReady(int fd, short events, std::chrono::milliseconds max_wait,
               std::chrono::steady_clock::time_point deadline);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_HOST_OPENED_FILE_H_
