#include "platform/temp_dir.h"

namespace tarvix {

// Linux has no per-user temporary directory of the system's own; callers
// fall back to /tmp.
std::optional<std::string> PerUserTempDir() { return std::nullopt; }

}  // namespace tarvix
