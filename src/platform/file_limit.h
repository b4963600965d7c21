// The open-file limit.
#ifndef TARVIX_PLATFORM_FILE_LIMIT_H_
#define TARVIX_PLATFORM_FILE_LIMIT_H_

#include <sys/resource.h>

#include <optional>

namespace tarvix {

// Raises the soft limit on open descriptors to the hard limit, so many
// client connections fit, and remembers the limit found before. Failure
// leaves the limit as it was. Call at start-up, before any thread starts.
void RaiseOpenFileLimit();

// The limit that the last RaiseOpenFileLimit found, which is what commands
// get back before they start: a shell has no use for the daemon's
// allowance, and programs that size tables by it would suffer. nullopt
// before any call, or when the limit could not be read.
std::optional<struct rlimit> OriginalOpenFileLimit();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_FILE_LIMIT_H_
