// Many D-Bus method calls in flight on one sd-bus connection, each with
// its own timeout, all under one deadline.
//
//   BusCalls calls(bus, deadline, std::chrono::seconds(1));
//   calls.Add(name, path, "org.a11y.atspi.Accessible", "GetRole", nullptr,
//             [&](sd_bus_message* reply) { ... });   // reply null on failure
//   calls.Run();
//
// A reply handler may Add further calls, which Run then sends too, so a
// read that depends on another follows it without waiting for the rest.
// Calls to a destination given a direct connection (Route) go over that
// connection instead of the bus, and Run serves all connections at once.
// Not thread-safe, like the sd_bus connections it uses.
#ifndef TARVIX_PLATFORM_ATSPI_BUS_CALLS_H_
#define TARVIX_PLATFORM_ATSPI_BUS_CALLS_H_

#include <systemd/sd-bus.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvix {

using BusClock = std::chrono::steady_clock;

class BusCalls {
 public:
  // Writes a call's arguments; a negative errno fails the call.
  using Append = std::function<int(sd_bus_message* call)>;
  // Runs once per call: with the reply, or with null when the call failed
  // (error reply, timeout, deadline, connection lost). The message is only
  // valid during the handler.
  using OnReply = std::function<void(sd_bus_message* reply)>;

  BusCalls(sd_bus* bus, BusClock::time_point deadline, std::chrono::microseconds per_call)
      : bus_(bus), deadline_(deadline), per_call_(per_call) {}
  ~BusCalls();
  BusCalls(const BusCalls&) = delete;
  BusCalls& operator=(const BusCalls&) = delete;

  // `error`, when given, receives the D-Bus error name of a failed call
  // ("org.freedesktop.DBus.Error.NoReply" for one that went unanswered).
  void Add(std::string_view destination, std::string_view path, const char* interface,
           const char* member, Append append, OnReply on_reply, std::string* error = nullptr);

  // Calls to `destination` sent from now on go over `peer`, a direct
  // connection to the application owning that bus name, which must stay
  // open for the life of this object. Once `peer` closes, calls to
  // `destination` go over the bus again.
  void Route(std::string_view destination, sd_bus* peer);

  // Sends every added call, keeping at most kMaxInFlight unanswered, and
  // processes replies until all are handled or the deadline passes; calls
  // still unanswered then are cancelled and their handlers get null.
  void Run();

  // Whether a call went unanswered in time (the peer's timeout, or the
  // deadline): the peer may be stopped or busy.
  bool stalled() const { return stalled_; }
  // Whether the bus connection failed; it must not be reused.
  bool broken() const { return broken_; }
  // The destinations whose direct connection closed during Run; their
  // calls in flight then failed without counting as unanswered.
  const std::vector<std::string>& closed_routes() const { return closed_routes_; }
  // The destinations of the calls that went unanswered in time.
  const std::vector<std::string>& stalled_destinations() const { return stalled_destinations_; }

  static constexpr size_t kMaxInFlight = 256;

 private:
  struct Call {
    BusCalls* owner;
    std::string destination;
    std::string path;
    const char* interface;
    const char* member;
    Append append;
    OnReply on_reply;
    std::string* error;
    sd_bus* via = nullptr;
    sd_bus_slot* slot = nullptr;
    bool done = false;
  };
  static int OnMessage(sd_bus_message* reply, void* userdata, sd_bus_error* error);
  void Send(Call& call);
  void Finish(Call& call, sd_bus_message* reply);
  void Stalled(Call& call);
  // Handles what is ready on every connection; false when nothing was.
  bool ProcessAll();
  // Waits until a connection has something to handle, a call times out
  // or the deadline passes; false on the deadline.
  bool WaitAny();
  // Fails the calls in flight over `peer`, which closed.
  void RouteClosed(sd_bus* peer);

  sd_bus* bus_;
  BusClock::time_point deadline_;
  std::chrono::microseconds per_call_;
  std::deque<Call> calls_;  // stable addresses: sd-bus holds pointers
  size_t next_to_send_ = 0;
  size_t in_flight_ = 0;
  bool stalled_ = false;
  bool broken_ = false;
  std::vector<std::string> stalled_destinations_;
  // Destination -> direct connection; few entries, searched in order.
  std::vector<std::pair<std::string, sd_bus*>> routes_;
  std::vector<std::string> closed_routes_;
  // Calls in flight by connection (the bus and each route): only these
  // connections are read and waited for.
  std::vector<std::pair<sd_bus*, size_t>> waiting_;
  size_t& WaitingOn(sd_bus* connection);
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_ATSPI_BUS_CALLS_H_
