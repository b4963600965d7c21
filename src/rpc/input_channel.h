// The input channel: carries calls of input-loop methods from the request
// workers to the main-thread input loop, which performs them one at a time
// in arrival order.
#ifndef TARVIX_RPC_INPUT_CHANNEL_H_
#define TARVIX_RPC_INPUT_CHANNEL_H_

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "base/one_shot.h"
#include "json/json.h"
#include "rpc/method_entry.h"

namespace tarvix {

struct InputRequest {
  const MethodEntry* method = nullptr;  // a row of the static registry
  Json params;                          // a copy owned by the request
  OneShotSender<ToolResult> reply;      // answered once by the input loop
};

// Unbounded FIFO with many senders and one receiver. The channel counts its
// live senders so that the receiver learns when every worker is gone, and
// senders learn when the receiver is gone. Thread-safe.
class InputChannel {
 public:
  class Sender {
   public:
    explicit Sender(std::shared_ptr<InputChannel> channel);
    Sender(const Sender& other);
    Sender& operator=(const Sender&) = delete;
    ~Sender();
    // False when the receiver is gone; the request is then dropped.
    bool Send(InputRequest request) const;

   private:
    std::shared_ptr<InputChannel> channel_;
  };

  // Blocks for the next request; nullopt once every sender is gone and the
  // queue is empty.
  std::optional<InputRequest> Receive();
  // The same, waiting at most until `deadline`; `timed_out` tells a
  // deadline that passed (nullopt with it true) from the end.
  std::optional<InputRequest> Receive(std::chrono::steady_clock::time_point deadline,
                                      bool* timed_out);
  // Marks the receiver gone; later sends fail.
  void CloseReceiver();

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<InputRequest> queue_;
  int senders_ = 0;
  bool receiver_gone_ = false;
};

}  // namespace tarvix

#endif  // TARVIX_RPC_INPUT_CHANNEL_H_
