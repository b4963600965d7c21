#include "platform/atspi/atspi_bus.h"

#include <poll.h>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace tarvix {
namespace {

using std::chrono::seconds;

// As many idle connections as tree reads can use at once.
constexpr size_t kMaxIdle = 2;

std::mutex pool_mutex;
std::vector<SdBusPtr>& Pool() {
  static auto* pool = new std::vector<SdBusPtr>;  // lives as long as the process
  return *pool;
}

BusClock::time_point SourceDeadline(BusClock::time_point deadline) {
  return std::min(deadline, BusClock::now() + seconds(1));
}

// A bus client connection to `address` that has answered a ping.
SdBusPtr Connect(const std::string& address, BusClock::time_point deadline) {
  sd_bus* raw = nullptr;
  if (sd_bus_new(&raw) < 0) return nullptr;
  SdBusPtr bus(raw);
  if (sd_bus_set_address(raw, address.c_str()) < 0 || sd_bus_set_bus_client(raw, 1) < 0 ||
      sd_bus_set_anonymous(raw, 0) < 0 || sd_bus_start(raw) < 0) {
    return nullptr;
  }
  bool answered = false;
  BusCalls calls(raw, deadline, seconds(1));
  calls.Add("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Peer", "Ping",
            nullptr, [&](sd_bus_message* reply) { answered = reply != nullptr; });
  calls.Run();
  if (!answered) return nullptr;
  return bus;
}

std::optional<std::string> SessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
    return std::string(address);
  }
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    return "unix:path=" + std::string(runtime) + "/bus";
  }
  return std::nullopt;
}

// The accessibility bus address the session bus's launcher hands out.
std::optional<std::string> AskSessionBus(BusClock::time_point deadline) {
  const std::optional<std::string> session_address = SessionBusAddress();
  if (!session_address) return std::nullopt;
  SdBusPtr session = Connect(*session_address, deadline);
  if (!session) return std::nullopt;
  std::optional<std::string> address;
  BusCalls calls(session.get(), deadline, seconds(1));
  calls.Add("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
            [&](sd_bus_message* reply) {
              const char* text = nullptr;
              if (reply && sd_bus_message_read(reply, "s", &text) >= 0 && text && *text) {
                address = text;
              }
            });
  calls.Run();
  return address;
}

// Whether the connection is open with nothing unread, neither queued in
// sd-bus nor waiting on its socket (a late reply, a peer's message, a
// hang-up). Nothing is read: an unread message may be large.
bool OpenAndQuiet(sd_bus* bus) {
  uint64_t queued = 0;
  if (sd_bus_is_open(bus) <= 0 || sd_bus_get_n_queued_read(bus, &queued) < 0 || queued != 0) {
    return false;
  }
  pollfd p{sd_bus_get_fd(bus), POLLIN, 0};
  return p.fd >= 0 && poll(&p, 1, 0) == 0;
}

SdBusPtr Discover(BusClock::time_point deadline, const RootBusAddress& root_address) {
  if (const char* address = std::getenv("AT_SPI_BUS_ADDRESS"); address && *address) {
    if (SdBusPtr bus = Connect(address, SourceDeadline(deadline))) return bus;
  }
  if (std::optional<std::string> address = AskSessionBus(SourceDeadline(deadline))) {
    if (SdBusPtr bus = Connect(*address, SourceDeadline(deadline))) return bus;
  }
  if (root_address) {
    if (std::optional<std::string> address = root_address()) {
      if (SdBusPtr bus = Connect(*address, SourceDeadline(deadline))) return bus;
    }
  }
  return nullptr;
}

}  // namespace

AtspiBusLease::~AtspiBusLease() {
  if (!bus_ || !reusable_ || !OpenAndQuiet(bus_.get())) return;
  std::lock_guard lock(pool_mutex);
  if (Pool().size() < kMaxIdle) Pool().push_back(std::move(bus_));
}

AtspiBusLease LeaseAtspiBus(BusClock::time_point deadline, const RootBusAddress& root_address) {
  for (;;) {
    SdBusPtr bus;
    {
      std::lock_guard lock(pool_mutex);
      if (Pool().empty()) break;
      bus = std::move(Pool().back());
      Pool().pop_back();
    }
    if (OpenAndQuiet(bus.get())) return AtspiBusLease(std::move(bus));
  }
  return AtspiBusLease(Discover(deadline, root_address));
}

}  // namespace tarvix
