#include "platform/atspi/bus_calls.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace tarvix {

BusCalls::~BusCalls() {
  for (Call& call : calls_) sd_bus_slot_unref(call.slot);
}

void BusCalls::Add(std::string_view destination, std::string_view path, const char* interface,
                   const char* member, Append append, OnReply on_reply, std::string* error) {
  calls_.push_back(Call{this, std::string(destination), std::string(path), interface, member,
                        std::move(append), std::move(on_reply), error});
}

void BusCalls::Route(std::string_view destination, sd_bus* peer) {
  for (auto& route : routes_) {
    if (route.first == destination) {
      route.second = peer;
      return;
    }
  }
  routes_.emplace_back(std::string(destination), peer);
}

size_t& BusCalls::WaitingOn(sd_bus* connection) {
  for (auto& waiting : waiting_) {
    if (waiting.first == connection) return waiting.second;
  }
  return waiting_.emplace_back(connection, 0).second;
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
  --self.WaitingOn(call.via);
  if (call.via != self.bus_ && sd_bus_is_open(call.via) <= 0) {
    // sd-bus fails the calls of a closed connection as unanswered; the
    // application quit, it did not stall. Finished first: RouteClosed
    // fails only the calls still counted in flight.
    self.Finish(call, nullptr);
    self.RouteClosed(call.via);
  } else if (sd_bus_message_is_method_error(reply, nullptr)) {
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
  call.via = bus_;
  // A direct connection carries no destination: its peer is the application.
  const char* destination = call.destination.c_str();
  for (const auto& route : routes_) {
    if (route.first == call.destination && route.second) {
      call.via = route.second;
      destination = nullptr;
    }
  }
  sd_bus_message* message = nullptr;
  int r = sd_bus_message_new_method_call(call.via, &message, destination, call.path.c_str(),
                                         call.interface, call.member);
  if (r >= 0 && call.append) r = call.append(message);
  if (r >= 0) {
    const uint64_t timeout = static_cast<uint64_t>(std::min(left, per_call_).count());
    r = sd_bus_call_async(call.via, &call.slot, message, &BusCalls::OnMessage, &call,
                          std::max<uint64_t>(timeout, 1));
  }
  sd_bus_message_unref(message);
  if (r < 0) {
    // Bad names or paths from a peer fail here; a closed connection too.
    // This call was never in flight: finished before RouteClosed.
    const bool closed = r == -ENOTCONN || r == -ECONNRESET || r == -EPIPE;
    Finish(call, nullptr);
    if (closed && call.via != bus_) {
      RouteClosed(call.via);
    } else if (closed) {
      broken_ = true;
    }
    return;
  }
  ++in_flight_;
  ++WaitingOn(call.via);
}

void BusCalls::RouteClosed(sd_bus* peer) {
  for (auto& route : routes_) {
    if (route.second != peer) continue;
    route.second = nullptr;
    closed_routes_.push_back(route.first);
  }
  // By index: a handler may add calls.
  for (size_t i = 0; i < next_to_send_ && i < calls_.size(); ++i) {
    Call& call = calls_[i];
    if (call.done || call.via != peer) continue;
    call.slot = sd_bus_slot_unref(call.slot);
    --in_flight_;
    --WaitingOn(peer);
    Finish(call, nullptr);
  }
}

bool BusCalls::ProcessAll() {
  bool any = false;
  // Only connections with calls in flight: a direct connection's other
  // traffic (its application's events) is drained between calls. By
  // index: a closed route is cleared, and a handler may add calls.
  for (size_t i = 0; i < waiting_.size(); ++i) {
    if (waiting_[i].second == 0) continue;
    sd_bus* connection = waiting_[i].first;
    const int r = sd_bus_process(connection, nullptr);
    if (r < 0 && connection == bus_) {
      broken_ = true;
      return false;
    }
    if (r < 0) RouteClosed(connection);
    any = any || r != 0;
  }
  return any;
}

bool BusCalls::WaitAny() {
  const auto now = BusClock::now();
  if (now >= deadline_) return false;
  uint64_t wake = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(deadline_.time_since_epoch()).count());
  std::vector<pollfd> fds;
  auto watch = [&](sd_bus* bus) {
    const int fd = sd_bus_get_fd(bus);
    const int events = sd_bus_get_events(bus);
    if (fd < 0 || events < 0) return;
    fds.push_back({fd, static_cast<short>(events), 0});
    uint64_t timeout = UINT64_MAX;
    if (sd_bus_get_timeout(bus, &timeout) >= 0) wake = std::min(wake, timeout);
  };
  for (const auto& waiting : waiting_) {
    if (waiting.second > 0) watch(waiting.first);
  }
  // sd-bus gives its timeouts on CLOCK_MONOTONIC, the steady clock's.
  const uint64_t now_us = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count());
  const uint64_t wait_us = wake > now_us ? wake - now_us : 0;
  const timespec wait{static_cast<time_t>(wait_us / 1000000),
                      static_cast<long>(wait_us % 1000000 * 1000)};
  ppoll(fds.data(), fds.size(), &wait, nullptr);
  return true;
}

void BusCalls::Run() {
  for (;;) {
    while (in_flight_ < kMaxInFlight && next_to_send_ < calls_.size()) {
      Send(calls_[next_to_send_++]);
    }
    if (in_flight_ == 0 && next_to_send_ == calls_.size()) break;
    // The deadline holds even while replies keep coming.
    if (BusClock::now() >= deadline_) {
      stalled_ = true;
      break;
    }
    if (ProcessAll()) continue;
    if (broken_) break;
    if (in_flight_ == 0 && next_to_send_ == calls_.size()) break;
    if (!WaitAny()) {
      stalled_ = true;
      break;
    }
  }
  // Whatever is left is given up: cancelling the slot drops a late reply.
  waiting_.clear();
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
