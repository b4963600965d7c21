#include "tools/host/opened_file.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include "base/os_error.h"
#include "platform/real_path.h"
#include "tools/host/policy.h"

namespace tarvix {

ScopedFd& ScopedFd::operator=(ScopedFd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

ScopedFd::~ScopedFd() { Close(); }

int ScopedFd::Close() {
  if (fd_ < 0) return 0;
  const int fd = std::exchange(fd_, -1);
  // On Linux the descriptor is released even when close reports EINTR, so
  // retrying could close a descriptor another thread has just been given.
  if (close(fd) != 0 && errno != EINTR) return errno;
  return 0;
}

bool ContainsNul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

Result<void> ScreenResolvedPath(std::string_view resolved, bool for_write) {
  if (auto read_screen = GuardPath(resolved); !read_screen) return read_screen;
  if (for_write) return GuardWritePath(resolved);
  return {};
}

Result<void> ScreenOpened(int fd, bool for_write, std::string_view failure_prefix) {
  Result<std::string> real = RealPathOfDescriptor(fd);
  if (!real) return Error(std::string(failure_prefix) + real.error());
  return ScreenResolvedPath(*real, for_write);
}

int ClearNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return errno;
  if ((flags & O_NONBLOCK) == 0) return 0;
  if (fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
  return 0;
}

bool WaitReady(int fd, short events, std::chrono::milliseconds max_wait,
               std::chrono::steady_clock::time_point deadline) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  const auto until = std::min(deadline, std::chrono::steady_clock::now() + max_wait);
  while (true) {
    const auto left = duration_cast<milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready == 0) return false;
    // Anything but a signal means poll itself cannot help; give up waiting
    // rather than spin.
    if (errno != EINTR) return false;
  }
}

}  // namespace tarvix
