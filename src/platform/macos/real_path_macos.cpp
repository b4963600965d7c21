#include <errno.h>
#include <fcntl.h>
#include <sys/param.h>

#include <cstring>

#include "base/os_error.h"
#include "platform/real_path.h"

namespace tarvix {

// The kernel renders the path from the open file itself, so renaming or
// re-linking the name that was opened cannot fool it.
Result<std::string> RealPathOfDescriptor(int fd) {
  char path[MAXPATHLEN];
  if (fcntl(fd, F_GETPATH, path) == -1) return Error(OsErrorText(errno));
  return std::string(path, strnlen(path, sizeof path));
}

}  // namespace tarvix
