// The memory allocator's settings for a long-running server.
#ifndef TARVIX_PLATFORM_ALLOCATOR_H_
#define TARVIX_PLATFORM_ALLOCATOR_H_

namespace tarvix {

// Gives large buffers their own mappings (returned to the system when
// freed) where the allocator would otherwise keep them. Call once at
// start-up, before any thread starts.
void TuneAllocator();

// Hands memory the allocator keeps after frees back to the system; for an
// idle moment, since it may take a while. Thread-safe.
void TrimAllocator();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_ALLOCATOR_H_
