// The open-file limit.
#ifndef TARVIX_PLATFORM_FILE_LIMIT_H_
#define TARVIX_PLATFORM_FILE_LIMIT_H_

namespace tarvix {

// Raises the soft limit on open descriptors to the hard limit, so many
// client connections fit. Failure leaves the limit as it was.
void RaiseOpenFileLimit();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_FILE_LIMIT_H_
