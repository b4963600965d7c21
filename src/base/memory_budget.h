// A budget of bytes shared by work that needs a lot of memory for a short
// time (screen captures): each piece reserves its estimate before it
// allocates and waits while the budget is taken, so many at once run one
// after another instead of side by side.
//
// Reservations are granted in arrival order, so a large one is not
// starved by a stream of small ones. A reservation larger than the whole
// budget is granted when nothing else is held: it runs alone rather than never.
// Thread-safe.
#ifndef TARVIX_BASE_MEMORY_BUDGET_H_
#define TARVIX_BASE_MEMORY_BUDGET_H_

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

namespace tarvix {

class MemoryBudget {
 public:
  // Bytes held until destroyed (or moved from). Must not outlive its
  // budget. An empty grant holds nothing.
  class Grant {
   public:
    Grant() = default;
    ~Grant() { Release(); }
    Grant(Grant&& other) noexcept
        : budget_(std::exchange(other.budget_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}
    Grant& operator=(Grant&& other) noexcept {
      if (this != &other) {
        Release();
        budget_ = std::exchange(other.budget_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
      }
      return *this;
    }
    size_t bytes() const { return bytes_; }

   private:
    friend class MemoryBudget;
    Grant(MemoryBudget* budget, size_t bytes) : budget_(budget), bytes_(bytes) {}
    void Release() {
      if (budget_ != nullptr) budget_->Give(bytes_);
      budget_ = nullptr;
      bytes_ = 0;
    }
    MemoryBudget* budget_ = nullptr;
    size_t bytes_ = 0;
  };

  explicit MemoryBudget(size_t limit) : limit_(limit) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  // Waits until every earlier reservation is granted and `bytes` fit
  // beside what is held (or nothing is held), then holds them. The wait
  // has no deadline of its own: it lasts as long as the holders' work,
  // which is bounded by theirs.
  Grant Reserve(size_t bytes);
  // The same without waiting: nullopt when it would have to wait.
  std::optional<Grant> TryReserve(size_t bytes);

  size_t limit() const { return limit_; }
  size_t held() const;
  // Reservations waiting now.
  size_t waiting() const;

 private:
  bool FitsLocked(size_t bytes) const { return held_ == 0 || bytes <= limit_ - std::min(held_, limit_); }
  void Give(size_t bytes);

  const size_t limit_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  size_t held_ = 0;
  uint64_t next_ticket_ = 0;  // the next arrival's place in line
  uint64_t serving_ = 0;      // the first place not yet granted
};

}  // namespace tarvix

#endif  // TARVIX_BASE_MEMORY_BUDGET_H_
