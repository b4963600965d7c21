#include "rpc/input_channel.h"

namespace tarvix {

InputChannel::Sender::Sender(std::shared_ptr<InputChannel> channel)
    : channel_(std::move(channel)) {
  std::lock_guard<std::mutex> lock(channel_->mutex_);
  ++channel_->senders_;
}

InputChannel::Sender::Sender(const Sender& other) : Sender(other.channel_) {}

InputChannel::Sender::~Sender() {
  bool last;
  {
    std::lock_guard<std::mutex> lock(channel_->mutex_);
    last = --channel_->senders_ == 0;
  }
  if (last) channel_->ready_.notify_all();
}

bool InputChannel::Sender::Send(InputRequest request) const {
  {
    std::lock_guard<std::mutex> lock(channel_->mutex_);
    if (channel_->receiver_gone_) return false;
    channel_->queue_.push_back(std::move(request));
  }
  channel_->ready_.notify_one();
  return true;
}

std::optional<InputRequest> InputChannel::Receive() {
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait(lock, [&] { return !queue_.empty() || senders_ == 0; });
  if (queue_.empty()) return std::nullopt;
  InputRequest request = std::move(queue_.front());
  queue_.pop_front();
  return request;
}

std::optional<InputRequest> InputChannel::Receive(std::chrono::steady_clock::time_point deadline,
                                                  bool* timed_out) {
  std::unique_lock<std::mutex> lock(mutex_);
  *timed_out = !ready_.wait_until(lock, deadline, [&] { return !queue_.empty() || senders_ == 0; });
  if (queue_.empty()) return std::nullopt;
  InputRequest request = std::move(queue_.front());
  queue_.pop_front();
  return request;
}

void InputChannel::CloseReceiver() {
  std::deque<InputRequest> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    receiver_gone_ = true;
    dropped.swap(queue_);
  }
  // `dropped` dies here, outside the lock: its reply senders close, so any
  // waiting worker learns its request was dropped.
}

}  // namespace tarvix
