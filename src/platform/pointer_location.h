// Where the pointer is, read without the input backend (so a read-only
// daemon can tell, and a held backend's input lock is not needed).
#ifndef TARVIX_PLATFORM_POINTER_LOCATION_H_
#define TARVIX_PLATFORM_POINTER_LOCATION_H_

#include <cstdint>
#include <optional>

#include "base/result.h"

namespace tarvix {

struct PointerLocation {
  // Global points: origin at the main display's top-left corner.
  int32_t x = 0;
  int32_t y = 0;
  // The display holding the point: on X11 the RandR monitor's 1-based place
  // in the server's monitor list, on macOS the CGDirectDisplayID; nullopt
  // when none holds it.
  std::optional<int64_t> display;
};

// Fails with the input backend's open text ("no connection could be
// established: (<reason>)") when the display server cannot be reached.
Result<PointerLocation> LocatePointer();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_POINTER_LOCATION_H_
