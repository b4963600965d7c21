#include <errno.h>
#include <unistd.h>

#include "base/os_error.h"
#include "platform/real_path.h"

namespace tarvix {

Result<std::string> ReadLinkAt(int dir_fd, const std::string& name) {
  std::string target(256, '\0');
  while (true) {
    const ssize_t n = readlinkat(dir_fd, name.c_str(), target.data(), target.size());
    if (n < 0) return Error(OsErrorText(errno));
    // readlink truncates silently; a full buffer may mean a longer target.
    if (static_cast<size_t>(n) < target.size()) {
      target.resize(static_cast<size_t>(n));
      return target;
    }
    if (target.size() >= 1 << 20) return Error(OsErrorText(ENAMETOOLONG));
    target.resize(target.size() * 2);
  }
}

}  // namespace tarvix
