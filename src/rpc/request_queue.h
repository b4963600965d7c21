// The hand-off of accepted requests from the I/O thread to the request
// workers, with the wake-up rule that keeps a busy daemon from paying a
// futex wake-up per request.
//
// A worker is woken only when no other worker is already awake and about to
// look at the queue ("searching"); a worker that finds more work behind its
// own wakes the next one. A steady stream of short calls is then served by
// as few threads as keep up, while a request arriving when every awake
// worker is busy in a tool still wakes a sleeper at once.
//
// Thread-safe. Close() ends every present and future Pop with nullopt.
#ifndef TARVIX_RPC_REQUEST_QUEUE_H_
#define TARVIX_RPC_REQUEST_QUEUE_H_

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace tarvix {

template <typename T>
class RequestQueue {
 public:
  // False (and `item` dropped) once the queue is closed.
  bool Push(T item) {
    bool wake;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return false;
      items_.push_back(std::move(item));
      wake = GrantWakeLocked();
    }
    if (wake) ready_.notify_one();
    return true;
  }

  // Blocks for the next item; nullopt once closed.
  std::optional<T> Pop() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++searching_;
    while (items_.empty() && !closed_) {
      --searching_;
      ++sleeping_;
      ready_.wait(lock, [&] { return wake_tokens_ > 0 || closed_; });
      if (wake_tokens_ > 0) {
        --wake_tokens_;  // the granter moved us from sleeping to searching
      } else {
        --sleeping_;
        ++searching_;
      }
    }
    --searching_;
    if (closed_) return std::nullopt;
    std::optional<T> item(std::move(items_.front()));
    items_.pop_front();
    const bool wake_next = !items_.empty() && GrantWakeLocked();
    lock.unlock();
    if (wake_next) ready_.notify_one();
    return item;
  }

  // The next item if one is queued, without waiting.
  std::optional<T> TryPop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (items_.empty()) return std::nullopt;
    std::optional<T> item(std::move(items_.front()));
    items_.pop_front();
    return item;
  }

  // Wakes every waiter; items still queued are dropped here.
  void Close() {
    std::deque<T> dropped;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
      dropped.swap(items_);
    }
    ready_.notify_all();
  }

 private:
  // Grants one sleeper a wake-up if nobody is searching; call with the
  // mutex held. True when the caller must notify.
  bool GrantWakeLocked() {
    if (searching_ > 0 || sleeping_ == 0) return false;
    --sleeping_;
    ++searching_;
    ++wake_tokens_;
    return true;
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<T> items_;
  bool closed_ = false;
  int sleeping_ = 0;     // waiting on ready_
  int searching_ = 0;    // awake, between two items
  int wake_tokens_ = 0;  // wake-ups granted to sleepers, not yet taken
};

}  // namespace tarvix

#endif  // TARVIX_RPC_REQUEST_QUEUE_H_
