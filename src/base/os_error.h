// The one place where an errno value becomes the daemon's error text.
#ifndef TARVIX_BASE_OS_ERROR_H_
#define TARVIX_BASE_OS_ERROR_H_

#include <string>

namespace tarvix {

// "<strerror text> (os error <n>)", e.g. "No such file or directory (os error 2)".
// Thread-safe (uses strerror_r).
std::string OsErrorText(int error_number);

// Fixed texts for failures that never reach the system.
inline constexpr char kNulInPathText[] = "file name contained an unexpected NUL byte";
inline constexpr char kWriteZeroText[] = "failed to write whole buffer";

}  // namespace tarvix

#endif  // TARVIX_BASE_OS_ERROR_H_
