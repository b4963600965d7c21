#include "platform/atspi/bus_calls.h"

#include <algorithm>
#include <cerrno>

namespace tarvix {

BusCalls::~BusCalls() {
  for (Call& call : calls_) sd_bus_slot_unref(call.slot);
}

void BusCalls::Add(std::string_view destination, std::string_view path, const char* interface,
                   const char* member, Append append, OnReply on_reply, std::string* error) {
  calls_.push_back(Call{this, std::string(destination), std::string(path), interface, member,
                        std::move(append), std::move(on_reply), error});
}

void BusCalls::Stalled(Call& call) {
  stalled_ = true;
  if (call.error) *call.error = SD_BUS_ERROR_NO_REPLY;
  if (std::find(stalled_destinations_.begin(), stalled_destinations_.end(), call.destination) ==
      stalled_destinations_.end()) {
    stalled_destinations_.push_back(call.destination);
  }
}

void BusCalls::Finish(Call& call, sd_bus_message* reply) {
  call.done = true;
  OnReply on_reply = std::move(call.on_reply);
  if (on_reply) on_reply(reply);
}

int BusCalls::OnMessage(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  Call& call = *static_cast<Call*>(userdata);
  BusCalls& self = *call.owner;
  --self.in_flight_;
  if (sd_bus_message_is_method_error(reply, nullptr)) {
    if (sd_bus_message_is_method_error(reply, SD_BUS_ERROR_NO_REPLY) ||
        sd_bus_message_is_method_error(reply, SD_BUS_ERROR_TIMEOUT)) {
      self.Stalled(call);
    } else if (call.error) {
      const sd_bus_error* error = sd_bus_message_get_error(reply);
      *call.error = error && error->name ? error->name : "";
    }
    self.Finish(call, nullptr);
  } else {
    self.Finish(call, reply);
  }
  // Positive: sd_bus_process then reports the work done. After a reply
  // timeout it would otherwise report nothing, and Run would wait for the
  // whole budget although no call is left.
  return 1;
}

void BusCalls::Send(Call& call) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
      deadline_ - BusClock::now());
  if (left.count() <= 0 || broken_) {
    stalled_ = stalled_ || !broken_;
    Finish(call, nullptr);
    return;
  }
  sd_bus_message* message = nullptr;
  int r = sd_bus_message_new_method_call(bus_, &message, call.destination.c_str(),
                                         call.path.c_str(), call.interface, call.member);
  if (r >= 0 && call.append) r = call.append(message);
  if (r >= 0) {
    const uint64_t timeout = static_cast<uint64_t>(std::min(left, per_call_).count());
    r = sd_bus_call_async(bus_, &call.slot, message, &BusCalls::OnMessage, &call,
                          std::max<uint64_t>(timeout, 1));
  }
  sd_bus_message_unref(message);
  if (r < 0) {
    // Bad names or paths from a peer fail here; a closed connection too.
    if (r == -ENOTCONN || r == -ECONNRESET || r == -EPIPE) broken_ = true;
    Finish(call, nullptr);
    return;
  }
  ++in_flight_;
}

void BusCalls::Run() {
  for (;;) {
    while (in_flight_ < kMaxInFlight && next_to_send_ < calls_.size()) {
      Send(calls_[next_to_send_++]);
    }
    if (in_flight_ == 0 && next_to_send_ == calls_.size()) break;
    const int processed = sd_bus_process(bus_, nullptr);
    if (processed < 0) {
      broken_ = true;
      break;
    }
    if (processed > 0) continue;
    if (in_flight_ == 0 && next_to_send_ == calls_.size()) break;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        deadline_ - BusClock::now());
    if (left.count() <= 0) {
      stalled_ = true;
      break;
    }
    const int waited = sd_bus_wait(bus_, static_cast<uint64_t>(left.count()));
    if (waited < 0 && waited != -EINTR) {
      broken_ = true;
      break;
    }
  }
  // Whatever is left is given up: cancelling the slot drops a late reply.
  for (size_t i = 0; i < calls_.size(); ++i) {
    Call& call = calls_[i];
    if (call.done) continue;
    call.slot = sd_bus_slot_unref(call.slot);
    if (i < next_to_send_) {
      --in_flight_;
      Stalled(call);
    }
    Finish(call, nullptr);
  }
  next_to_send_ = calls_.size();
}

}  // namespace tarvix
