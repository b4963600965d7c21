// Direct connections to accessible applications, past the accessibility
// bus daemon: an application's reads then cost one hop instead of two.
//
// The ATK bridge (GTK 3) serves such connections on the address its
// org.a11y.atspi.Application.GetApplicationBusAddress gives, but never
// lets one go: a connection closed by the daemon stays open in the
// application, which goes on copying every event to it. So there is one
// connection per application for the daemon's life, closed only once the
// application has gone (the socket hangs up) or left the bus. Between
// calls a drain thread reads and drops whatever the application sends, so
// it never fills the socket and nothing piles up in either process.
//
// A connection is keyed by the bus it was found on, the application's
// unique name there, and the process id behind both the name and the
// socket, so a connection is never lent for another application. At most
// one caller holds a connection at a time; a second caller meanwhile goes
// over the bus. Thread-safe.
#ifndef TARVIX_PLATFORM_ATSPI_ATSPI_PEERS_H_
#define TARVIX_PLATFORM_ATSPI_ATSPI_PEERS_H_

#include <systemd/sd-bus.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/atspi/atspi_bus.h"

namespace tarvix {

// Which application a direct connection reaches.
struct AtspiPeerKey {
  std::string bus_id;    // the accessibility bus's id (sd_bus_get_bus_id)
  std::string bus_name;  // the application's unique name on it
  int32_t pid = 0;

  bool operator==(const AtspiPeerKey&) const = default;
};

// A direct connection lent to one caller; handed back to the drain
// thread on destruction (closed there once it has hung up).
class AtspiPeerLease {
 public:
  AtspiPeerLease() = default;
  AtspiPeerLease(AtspiPeerLease&& other) noexcept : peer_(other.peer_) { other.peer_ = nullptr; }
  AtspiPeerLease& operator=(AtspiPeerLease&& other) noexcept;
  AtspiPeerLease(const AtspiPeerLease&) = delete;
  AtspiPeerLease& operator=(const AtspiPeerLease&) = delete;
  ~AtspiPeerLease();

  sd_bus* get() const;
  explicit operator bool() const { return peer_ != nullptr; }

  struct Peer;
  explicit AtspiPeerLease(Peer* peer) : peer_(peer) {}

 private:
  Peer* peer_ = nullptr;
};

// The open connection to `key`'s application, unless none was made or
// another caller holds it.
AtspiPeerLease LeaseAtspiPeer(const AtspiPeerKey& key);

// Whether the application of `key` should be asked for its direct
// address: it has no connection and was not asked before (an application
// that offers none, or whose connection failed, is asked once).
bool WantAtspiPeerAddress(const AtspiPeerKey& key);

// Connects to `address` (the application's answer) without waiting for
// the handshake; null when the address is unusable. The connection is
// usable once Adopted.
SdBusPtr ConnectAtspiPeer(const std::string& address);

// Keeps `peer`, which answered a call, for `key`'s application and lends
// it to the caller; empty (and `peer` closed) when the process at the
// other end of its socket is not `key.pid` or too many are kept.
AtspiPeerLease AdoptAtspiPeer(const AtspiPeerKey& key, SdBusPtr peer);

// Closes the connections to applications on bus `bus_id` whose names are
// not in `present` (the registry's list of applications).
void ForgetAtspiPeersExcept(const std::string& bus_id, std::span<const std::string> present);

// The number of connections kept (held or idle), for tests.
size_t AtspiPeerCount();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_ATSPI_ATSPI_PEERS_H_
