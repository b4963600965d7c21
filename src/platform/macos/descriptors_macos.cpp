#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/descriptors.h"

namespace tarvix {
namespace {

bool SetCloexec(int fd) { return fcntl(fd, F_SETFD, FD_CLOEXEC) == 0; }

}  // namespace

int OpenCloexecPipe(int fds[2]) {
  if (pipe(fds) != 0) return errno;
  if (!SetCloexec(fds[0]) || !SetCloexec(fds[1])) {
    const int error = errno;
    close(fds[0]);
    close(fds[1]);
    return error;
  }
  return 0;
}

int AcceptNonBlocking(int listen_fd) {
  const int fd = accept(listen_fd, nullptr, nullptr);
  if (fd < 0) return -1;
  const int flags = fcntl(fd, F_GETFL);
  if (!SetCloexec(fd) || flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

void CloseDescriptorsFrom(int first) {
  // Darwin reports an unlimited hard limit, and closing up to it would take
  // minutes. A process's descriptors lie below its soft limit; at least
  // 10240 are tried in case the limit was lowered after they were opened.
  constexpr rlim_t kCeiling = 1 << 20;
  struct rlimit limit;
  const rlim_t end = getrlimit(RLIMIT_NOFILE, &limit) == 0
                         ? std::min(std::max(limit.rlim_cur, rlim_t{10240}), kCeiling)
                         : 10240;
  for (rlim_t fd = static_cast<rlim_t>(first); fd < end; ++fd) close(static_cast<int>(fd));
}

}  // namespace tarvix
