// The per-user temporary directory the system reports, where it has one.
#ifndef TARVIX_PLATFORM_TEMP_DIR_H_
#define TARVIX_PLATFORM_TEMP_DIR_H_

#include <optional>
#include <string>

namespace tarvix {

// Raw bytes of the directory, or nullopt when the platform has none.
std::optional<std::string> PerUserTempDir();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_TEMP_DIR_H_
