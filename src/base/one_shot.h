// A one-shot channel: one value from one sender to one receiver.
//
// Dropping the sender without sending closes the channel, so a receiver
// learns that no answer will ever come; dropping the receiver makes Send
// report false. Both ends may live on different threads.
#ifndef TARVIX_BASE_ONE_SHOT_H_
#define TARVIX_BASE_ONE_SHOT_H_

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace tarvix {
namespace one_shot_internal {

template <typename T>
struct State {
  std::mutex mutex;
  std::condition_variable ready;
  std::optional<T> value;
  bool sender_gone = false;
  bool receiver_gone = false;
};

}  // namespace one_shot_internal

template <typename T>
class OneShotSender {
 public:
  explicit OneShotSender(std::shared_ptr<one_shot_internal::State<T>> state)
      : state_(std::move(state)) {}
  OneShotSender(OneShotSender&&) noexcept = default;
  OneShotSender& operator=(OneShotSender&& other) noexcept {
    Close();
    state_ = std::move(other.state_);
    return *this;
  }
  ~OneShotSender() { Close(); }

  // Delivers `value`; false when the receiver is gone (the value is dropped)
  // or a value was already sent.
  bool Send(T value) {
    if (!state_) return false;
    bool delivered = false;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      if (!state_->receiver_gone && !state_->value) {
        state_->value.emplace(std::move(value));
        delivered = true;
      }
      state_->sender_gone = true;
    }
    state_->ready.notify_one();
    state_.reset();
    return delivered;
  }

 private:
  void Close() {
    if (!state_) return;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->sender_gone = true;
    }
    state_->ready.notify_one();
    state_.reset();
  }

  std::shared_ptr<one_shot_internal::State<T>> state_;
};

template <typename T>
class OneShotReceiver {
 public:
  enum class Status { kValue, kClosed, kTimedOut };

  explicit OneShotReceiver(std::shared_ptr<one_shot_internal::State<T>> state)
      : state_(std::move(state)) {}
  OneShotReceiver(OneShotReceiver&&) noexcept = default;
  OneShotReceiver& operator=(OneShotReceiver&&) = delete;
  ~OneShotReceiver() {
    if (!state_) return;
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->receiver_gone = true;
  }

  // Blocks until the value arrives (returned) or the sender is dropped
  // without sending (nullopt).
  std::optional<T> Receive() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->ready.wait(lock, [&] { return state_->value || state_->sender_gone; });
    return Take();
  }

  // Like Receive, but gives up at `deadline` (steady clock); `*status` says
  // which of the three outcomes happened.
  std::optional<T> ReceiveUntil(std::chrono::steady_clock::time_point deadline, Status* status) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (!state_->ready.wait_until(lock, deadline,
                                  [&] { return state_->value || state_->sender_gone; })) {
      *status = Status::kTimedOut;
      return std::nullopt;
    }
    std::optional<T> out = Take();
    *status = out ? Status::kValue : Status::kClosed;
    return out;
  }

 private:
  std::optional<T> Take() {
    std::optional<T> out = std::move(state_->value);
    state_->value.reset();
    return out;
  }

  std::shared_ptr<one_shot_internal::State<T>> state_;
};

template <typename T>
std::pair<OneShotSender<T>, OneShotReceiver<T>> MakeOneShot() {
  auto state = std::make_shared<one_shot_internal::State<T>>();
  return {OneShotSender<T>(state), OneShotReceiver<T>(state)};
}

}  // namespace tarvix

#endif  // TARVIX_BASE_ONE_SHOT_H_
