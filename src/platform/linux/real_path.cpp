#include "platform/real_path.h"

#include <fcntl.h>

#include <string>

namespace tarvix {

// Linux exposes each descriptor's path as the target of a magic link under
// /proc. The kernel renders it from the open file itself, so it cannot be
// raced by renaming or re-linking the name that was opened.
Result<std::string> RealPathOfDescriptor(int fd) {
  return ReadLinkAt(AT_FDCWD, "/proc/self/fd/" + std::to_string(fd));
}

}  // namespace tarvix
