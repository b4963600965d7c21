#include <malloc.h>

#include "platform/allocator.h"

namespace tarvix {

// glibc's allocator keeps what the daemon frees in per-thread arenas and
// raises its mmap threshold after every large free, so the memory of one
// large file read or reply would stay resident while the daemon idles.
// Large buffers get their own mappings (returned on free), and the HTTP
// front trims the rest when it goes idle.
void TuneAllocator() {
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
}

void TrimAllocator() { malloc_trim(0); }

}  // namespace tarvix
