#include <fcntl.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/descriptors.h"

namespace tarvix {

int OpenCloexecPipe(int fds[2]) { return pipe2(fds, O_CLOEXEC) == 0 ? 0 : errno; }

int AcceptNonBlocking(int listen_fd) {
  return accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

void CloseDescriptorsFrom(int first) {
  if (close_range(static_cast<unsigned>(first), ~0U, 0) == 0) return;
  // Before Linux 5.9 (or behind a filter): every descriptor the limit allows.
  struct rlimit limit;
  const rlim_t end = getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_max : 65536;
  for (rlim_t fd = static_cast<rlim_t>(first); fd < end && fd <= INT_MAX; ++fd) {
    close(static_cast<int>(fd));
  }
}

}  // namespace tarvix
