#include "base/region_pool.h"

#include <sys/mman.h>

#include <cassert>
#include <cstdint>

namespace tarvix {

// A region begins with this header; its slots follow. Regions are aligned
// to their size, so a slot finds its region by masking its address.
struct RegionPool::Region {
  Region* next_with_room;
  Region* prev_with_room;
  void* free_slots;  // singly linked through the slots themselves
  size_t used;
  size_t capacity;
  bool listed;
};

namespace {

constexpr size_t kHeaderBytes = (sizeof(void*) * 6 + 63) / 64 * 64;

}  // namespace

RegionPool::RegionPool(size_t slot_bytes) : slot_bytes_(slot_bytes) {
  assert(slot_bytes_ >= sizeof(void*) && slot_bytes_ <= kRegionBytes / 4);
}

RegionPool::~RegionPool() = default;

size_t RegionPool::regions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return regions_;
}

RegionPool::Region* RegionPool::MapRegion() {
  // Map twice the size and trim to an aligned region.
  void* raw = mmap(nullptr, 2 * kRegionBytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kRegionBytes - 1) & ~(kRegionBytes - 1);
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t end = start + 2 * kRegionBytes;
  if (end > aligned + kRegionBytes) {
    munmap(reinterpret_cast<void*>(aligned + kRegionBytes), end - aligned - kRegionBytes);
  }
  auto* region = reinterpret_cast<Region*>(aligned);
  region->capacity = (kRegionBytes - kHeaderBytes) / slot_bytes_;
  region->used = 0;
  region->free_slots = nullptr;
  // Slots are threaded onto the free list lazily (see Allocate), so a fresh
  // region touches only the pages it hands out.
  region->listed = false;
  region->next_with_room = region->prev_with_room = nullptr;
  ++regions_;
  return region;
}

void* RegionPool::Allocate() {
  std::lock_guard<std::mutex> lock(mutex_);
  Region* region = with_room_;
  if (region == nullptr) {
    region = MapRegion();
    if (region == nullptr) throw std::bad_alloc();
    region->next_with_room = nullptr;
    region->listed = true;
    with_room_ = region;
  }
  void* slot;
  if (region->free_slots != nullptr) {
    slot = region->free_slots;
    region->free_slots = *static_cast<void**>(slot);
  } else {
    // With no slot on the free list every slot below the high-water mark
    // is in use, so `used` is that mark: the next never-used slot.
    slot = reinterpret_cast<char*>(region) + kHeaderBytes + region->used * slot_bytes_;
  }
  ++region->used;
  if (region->used == region->capacity) {
    // Full: leaves the list of regions with room.
    with_room_ = region->next_with_room;
    if (with_room_ != nullptr) with_room_->prev_with_room = nullptr;
    region->listed = false;
  }
  return slot;
}

void RegionPool::Free(void* slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto* region = reinterpret_cast<Region*>(reinterpret_cast<uintptr_t>(slot) & ~(kRegionBytes - 1));
  *static_cast<void**>(slot) = region->free_slots;
  region->free_slots = slot;
  --region->used;
  // The last region stays, so a daemon serving one connection at a time
  // does not map and unmap a region per connection.
  if (region->used == 0 && regions_ > 1) {
    if (region->listed) {
      if (region->prev_with_room != nullptr) {
        region->prev_with_room->next_with_room = region->next_with_room;
      } else {
        with_room_ = region->next_with_room;
      }
      if (region->next_with_room != nullptr) {
        region->next_with_room->prev_with_room = region->prev_with_room;
      }
    }
    munmap(region, kRegionBytes);
    --regions_;
    return;
  }
  if (!region->listed) {
    region->listed = true;
    region->prev_with_room = nullptr;
    region->next_with_room = with_room_;
    if (with_room_ != nullptr) with_room_->prev_with_room = region;
    with_room_ = region;
  }
}

}  // namespace tarvix
