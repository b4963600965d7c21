// A lane that at most `capacity` request workers may be in at once. A
// worker that finds it full parks its call and goes back for the next
// request; a worker leaving the lane first serves whatever is parked, in
// arrival order. So calls that can stall (a stopped display server) hold at
// most `capacity` workers and never starve the others, and nothing parked is
// lost as long as the workers in the lane live.
#ifndef TARVIX_RPC_WORKER_LANE_H_
#define TARVIX_RPC_WORKER_LANE_H_

#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

namespace tarvix {

// Thread-safe. `Item` is what a call needs to be served by any worker (the
// pending request and its decoded call); it must be movable.
template <typename Item>
class WorkerLane {
 public:
  explicit WorkerLane(size_t capacity) : capacity_(capacity) {}
  WorkerLane(const WorkerLane&) = delete;
  WorkerLane& operator=(const WorkerLane&) = delete;

  // Serves `item` with `serve(Item&)` on this thread when a place is free,
  // then every item parked meanwhile; else parks it and returns at once.
  // `serve` must not throw.
  template <typename Serve>
  void Enter(Item item, Serve&& serve) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (inside_ >= capacity_) {
        parked_.push_back(std::move(item));
        return;
      }
      ++inside_;
    }
    for (;;) {
      serve(item);
      std::lock_guard<std::mutex> lock(mutex_);
      if (parked_.empty()) {
        --inside_;
        return;
      }
      item = std::move(parked_.front());
      parked_.pop_front();
    }
  }

  size_t parked() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return parked_.size();
  }

 private:
  const size_t capacity_;
  mutable std::mutex mutex_;
  size_t inside_ = 0;
  std::deque<Item> parked_;
};

}  // namespace tarvix

#endif  // TARVIX_RPC_WORKER_LANE_H_
