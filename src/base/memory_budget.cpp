#include "base/memory_budget.h"

namespace tarvix {

MemoryBudget::Grant MemoryBudget::Reserve(size_t bytes) {
  std::unique_lock lock(mutex_);
  const uint64_t ticket = next_ticket_++;
  changed_.wait(lock, [&] { return ticket == serving_ && FitsLocked(bytes); });
  held_ += bytes;
  ++serving_;
  lock.unlock();
  // The next in line may fit beside this one.
  changed_.notify_all();
  return Grant(this, bytes);
}

std::optional<MemoryBudget::Grant> MemoryBudget::TryReserve(size_t bytes) {
  std::lock_guard lock(mutex_);
  if (next_ticket_ != serving_ || !FitsLocked(bytes)) return std::nullopt;
  ++next_ticket_;
  ++serving_;
  held_ += bytes;
  return Grant(this, bytes);
}

size_t MemoryBudget::held() const {
  std::lock_guard lock(mutex_);
  return held_;
}

size_t MemoryBudget::waiting() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(next_ticket_ - serving_);
}

void MemoryBudget::Give(size_t bytes) {
  {
    std::lock_guard lock(mutex_);
    held_ -= bytes;
  }
  changed_.notify_all();
}

}  // namespace tarvix
