#include "platform/pointer_location.h"

namespace tarvix {

// No pointer service is wired up on this platform yet: the input backend's
// open failure.
Result<PointerLocation> LocatePointer() {
  return Error("no connection could be established: (failed creating event source)");
}

}  // namespace tarvix
