// The path of the object an open descriptor refers to, as the system sees it.
#ifndef TARVIX_PLATFORM_REAL_PATH_H_
#define TARVIX_PLATFORM_REAL_PATH_H_

#include <string>

#include "base/result.h"

namespace tarvix {

// Absolute path of what `fd` refers to, with every symbolic link and "."
// or ".." resolved, as raw bytes (not necessarily UTF-8). Lets the file tools
// screen what they actually opened rather than the name they were given.
// A file that was unlinked after opening may carry a system-specific marker
// (" (deleted)" on Linux). Fails with an error text when the system cannot
// tell. Thread-safe; does not take ownership of `fd`.
Result<std::string> RealPathOfDescriptor(int fd);

// The target of the symbolic link `name` (relative to `dir_fd`, or
// AT_FDCWD), whatever its length up to 1 MiB. Thread-safe.
Result<std::string> ReadLinkAt(int dir_fd, const std::string& name);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_REAL_PATH_H_
