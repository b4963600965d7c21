// Memory for many objects of one size that come and go in floods (client
// connections), kept apart from the general heap.
//
// Slots are carved from regions of kRegionBytes, each its own mapping; a
// region whose slots are all free is unmapped. A flood of connections then
// leaves nothing behind, where the general heap would stay fragmented by
// the long-lived small objects allocated between them. Thread-safe.
#ifndef TARVIX_BASE_REGION_POOL_H_
#define TARVIX_BASE_REGION_POOL_H_

#include <cstddef>
#include <mutex>
#include <new>

namespace tarvix {

class RegionPool {
 public:
  static constexpr size_t kRegionBytes = size_t{256} * 1024;

  // `slot_bytes` at most kRegionBytes / 4.
  explicit RegionPool(size_t slot_bytes);
  ~RegionPool();  // every slot must have been freed
  RegionPool(const RegionPool&) = delete;
  RegionPool& operator=(const RegionPool&) = delete;

  // Throws std::bad_alloc when no region can be mapped.
  void* Allocate();
  void Free(void* slot);

  size_t regions() const;

 private:
  struct Region;
  Region* MapRegion();

  const size_t slot_bytes_;
  mutable std::mutex mutex_;
  Region* with_room_ = nullptr;  // regions that have a free slot, linked
  size_t regions_ = 0;
};

// A std allocator over one RegionPool per allocated type (for
// std::allocate_shared, whose control block is the allocated type).
template <typename T>
class RegionAllocator {
 public:
  using value_type = T;
  RegionAllocator() = default;
  template <typename U>
  RegionAllocator(const RegionAllocator<U>&) {}  // NOLINT

  T* allocate(size_t n) {
    if (n != 1) return static_cast<T*>(::operator new(n * sizeof(T)));
    return static_cast<T*>(Pool().Allocate());
  }
  void deallocate(T* p, size_t n) {
    if (n != 1) {
      ::operator delete(p);
      return;
    }
    Pool().Free(p);
  }
  template <typename U>
  bool operator==(const RegionAllocator<U>&) const { return true; }

 private:
  static RegionPool& Pool() {
    // Never destroyed: objects may be freed during static destruction.
    static RegionPool* pool = new RegionPool(sizeof(T) < 16 ? 16 : (sizeof(T) + 15) / 16 * 16);
    return *pool;
  }
};

}  // namespace tarvix

#endif  // TARVIX_BASE_REGION_POOL_H_
