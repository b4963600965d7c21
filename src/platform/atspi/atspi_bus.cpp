#include "platform/atspi/atspi_bus.h"

#include <poll.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/x11/x_connection.h"

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

// The AT_SPI_BUS property the bus launcher puts on the root window.
std::optional<std::string> RootWindowBusAddress(const XConnection& x) {
  xcb_connection_t* c = x.get();
  constexpr std::string_view kName = "AT_SPI_BUS";
  XcbReply<xcb_intern_atom_reply_t> atom = x.ReplyOrNull<xcb_intern_atom_reply_t>(
      xcb_intern_atom(c, 1, static_cast<uint16_t>(kName.size()), kName.data()));
  if (!atom || atom->atom == XCB_ATOM_NONE) return std::nullopt;
  XcbReply<xcb_get_property_reply_t> value = x.ReplyOrNull<xcb_get_property_reply_t>(
      xcb_get_property(c, 0, x.root(), atom->atom, XCB_ATOM_ANY, 0, 1024));
  if (!value || value->format != 8 || xcb_get_property_value_length(value.get()) <= 0) {
    return std::nullopt;
  }
  std::string address(static_cast<const char*>(xcb_get_property_value(value.get())),
                      static_cast<size_t>(xcb_get_property_value_length(value.get())));
  address.resize(strnlen(address.c_str(), address.size()));
  if (address.empty()) return std::nullopt;
  return address;
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

AtspiBusLease LeaseDesktopAtspiBus(BusClock::time_point deadline) {
  return LeaseAtspiBus(deadline, []() -> std::optional<std::string> {
    Result<std::unique_ptr<XConnection>> x = XConnection::Open();
    if (!x) return std::nullopt;
    return RootWindowBusAddress(**x);
  });
}

}  // namespace tarvix
