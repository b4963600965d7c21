#include "platform/real_path.h"

#include <errno.h>
#include <unistd.h>

#include <string>

#include "base/os_error.h"

namespace tarvix {

// Linux exposes each descriptor's path as the target of a magic link under
// /proc. The kernel renders it from the open file itself, so it cannot be
// raced by renaming or re-linking the name that was opened.
Result<std::string> RealPathOfDescriptor(int fd) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string target(256, '\0');
  while (true) {
    const ssize_t n = readlink(link.c_str(), target.data(), target.size());
    if (n < 0) return Error(OsErrorText(errno));
    // readlink truncates silently; a full buffer may mean a longer path.
    if (static_cast<size_t>(n) < target.size()) {
      target.resize(static_cast<size_t>(n));
      return target;
    }
    if (target.size() >= 1 << 20) return Error(OsErrorText(ENAMETOOLONG));
    target.resize(target.size() * 2);
  }
}

}  // namespace tarvix
