#include <malloc/malloc.h>

#include "platform/allocator.h"

namespace tarvix {

// The system allocator already maps large blocks on their own and unmaps
// them on free.
void TuneAllocator() {}

// Asks every malloc zone to give back what it can.
void TrimAllocator() { malloc_zone_pressure_relief(nullptr, 0); }

}  // namespace tarvix
