#include <unistd.h>

#include "platform/temp_dir.h"

namespace tarvix {

// The per-user directory under /var/folders that the system hands each
// user; confstr reports the length it needs, terminator included.
std::optional<std::string> PerUserTempDir() {
  const size_t size = confstr(_CS_DARWIN_USER_TEMP_DIR, nullptr, 0);
  if (size <= 1) return std::nullopt;
  std::string dir(size, '\0');
  const size_t written = confstr(_CS_DARWIN_USER_TEMP_DIR, dir.data(), dir.size());
  if (written == 0 || written > dir.size()) return std::nullopt;
  dir.resize(written - 1);
  return dir;
}

}  // namespace tarvix
