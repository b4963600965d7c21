#include "platform/atspi/atspi_peers.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

namespace tarvix {

struct AtspiPeerLease::Peer {
  AtspiPeerKey key;
  SdBusPtr bus;
  bool leased = false;
  // Left the bus while lent: closed when handed back.
  bool forgotten = false;
};

namespace {

using Peer = AtspiPeerLease::Peer;

// Applications kept connected at once; more go over the bus.
constexpr size_t kMaxPeers = 64;
constexpr size_t kMaxAsked = 4096;
// Messages read from one application per wake-up, so one busy application
// does not hold up the others' draining.
constexpr int kMaxReadsPerWake = 256;

class PeerPool {
 public:
  std::mutex mutex;
  std::vector<std::unique_ptr<Peer>> peers;
  std::unordered_set<std::string> asked;

  // The drain thread runs from the first connection kept to the process's
  // end; waking it makes it watch the connections handed back.
  void WakeLocked() {
    if (!drain_started_) {
      wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      if (wake_fd_ < 0) return;
      drain_started_ = true;
      std::thread([this] { Drain(); }).detach();
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake_fd_, &one, sizeof one);
  }
  bool draining() const { return drain_started_; }

 private:
  void Drain();

  bool drain_started_ = false;
  int wake_fd_ = -1;
};

PeerPool& Pool() {
  static auto* pool = new PeerPool;  // lives as long as the process, as its thread
  return *pool;
}

std::string AskedKey(const AtspiPeerKey& key) {
  return key.bus_id + '\n' + key.bus_name + '\n' + std::to_string(key.pid);
}

void PeerPool::Drain() {
  std::vector<pollfd> fds;
  for (;;) {
    fds.assign(1, pollfd{wake_fd_, POLLIN, 0});
    {
      std::lock_guard lock(mutex);
      // Everything ready is read and dropped (events, late replies); a
      // connection that hung up is closed.
      std::erase_if(peers, [](const std::unique_ptr<Peer>& peer) {
        if (peer->leased) return false;
        int r = 0;
        for (int n = 0; n < kMaxReadsPerWake; ++n) {
          r = sd_bus_process(peer->bus.get(), nullptr);
          if (r <= 0) break;
        }
        return r < 0 || sd_bus_is_open(peer->bus.get()) <= 0;
      });
      for (const std::unique_ptr<Peer>& peer : peers) {
        if (peer->leased) continue;
        const int events = sd_bus_get_events(peer->bus.get());
        fds.push_back({sd_bus_get_fd(peer->bus.get()),
                       static_cast<short>(events < 0 ? POLLIN : events), 0});
      }
    }
    // No deadline: this thread only ever waits for the applications.
    if (poll(fds.data(), fds.size(), -1) > 0 && (fds[0].revents & POLLIN)) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = read(wake_fd_, &count, sizeof count);
    }
  }
}

int32_t SocketPeerPid(sd_bus* bus) {
  ucred cred{};
  socklen_t size = sizeof cred;
  if (getsockopt(sd_bus_get_fd(bus), SOL_SOCKET, SO_PEERCRED, &cred, &size) < 0) return 0;
  return cred.pid;
}

}  // namespace

AtspiPeerLease& AtspiPeerLease::operator=(AtspiPeerLease&& other) noexcept {
  if (this != &other) {
    AtspiPeerLease old(std::move(*this));
    peer_ = other.peer_;
    other.peer_ = nullptr;
  }
  return *this;
}

AtspiPeerLease::~AtspiPeerLease() {
  if (!peer_) return;
  PeerPool& pool = Pool();
  std::lock_guard lock(pool.mutex);
  peer_->leased = false;
  if (peer_->forgotten || sd_bus_is_open(peer_->bus.get()) <= 0) {
    std::erase_if(pool.peers, [this](const std::unique_ptr<Peer>& p) { return p.get() == peer_; });
    return;
  }
  pool.WakeLocked();
}

sd_bus* AtspiPeerLease::get() const { return peer_ ? peer_->bus.get() : nullptr; }

AtspiPeerLease LeaseAtspiPeer(const AtspiPeerKey& key) {
  PeerPool& pool = Pool();
  std::lock_guard lock(pool.mutex);
  for (const std::unique_ptr<Peer>& peer : pool.peers) {
    if (peer->key != key) continue;
    if (peer->leased || peer->forgotten || sd_bus_is_open(peer->bus.get()) <= 0) break;
    peer->leased = true;
    return AtspiPeerLease(peer.get());
  }
  return {};
}

bool WantAtspiPeerAddress(const AtspiPeerKey& key) {
  PeerPool& pool = Pool();
  std::lock_guard lock(pool.mutex);
  if (pool.peers.size() >= kMaxPeers) return false;
  for (const std::unique_ptr<Peer>& peer : pool.peers) {
    if (peer->key == key) return false;
  }
  if (pool.asked.size() >= kMaxAsked) pool.asked.clear();
  return pool.asked.insert(AskedKey(key)).second;
}

SdBusPtr ConnectAtspiPeer(const std::string& address) {
  // Only a local socket: the address comes from the application.
  if (!address.starts_with("unix:")) return nullptr;
  sd_bus* raw = nullptr;
  if (sd_bus_new(&raw) < 0) return nullptr;
  SdBusPtr bus(raw);
  if (sd_bus_set_address(raw, address.c_str()) < 0 || sd_bus_set_anonymous(raw, 0) < 0 ||
      sd_bus_start(raw) < 0) {
    return nullptr;
  }
  return bus;
}

AtspiPeerLease AdoptAtspiPeer(const AtspiPeerKey& key, SdBusPtr peer) {
  if (!peer || sd_bus_is_open(peer.get()) <= 0 || SocketPeerPid(peer.get()) != key.pid) return {};
  PeerPool& pool = Pool();
  std::lock_guard lock(pool.mutex);
  if (pool.peers.size() >= kMaxPeers) return {};
  for (const std::unique_ptr<Peer>& kept : pool.peers) {
    if (kept->key == key) return {};  // another caller connected first
  }
  auto owned = std::make_unique<Peer>(Peer{key, std::move(peer), true, false});
  Peer* lent = owned.get();
  pool.peers.push_back(std::move(owned));
  // Started now, so it runs before the connection is first handed back.
  pool.WakeLocked();
  return AtspiPeerLease(lent);
}

void ForgetAtspiPeersExcept(const std::string& bus_id, std::span<const std::string> present) {
  PeerPool& pool = Pool();
  std::lock_guard lock(pool.mutex);
  std::erase_if(pool.peers, [&](const std::unique_ptr<Peer>& peer) {
    const bool gone = peer->key.bus_id != bus_id ||
                      std::find(present.begin(), present.end(), peer->key.bus_name) == present.end();
    if (!gone) return false;
    if (peer->leased) {
      peer->forgotten = true;
      return false;
    }
    return true;
  });
}

size_t AtspiPeerCount() {
  PeerPool& pool = Pool();
  std::lock_guard lock(pool.mutex);
  return pool.peers.size();
}

}  // namespace tarvix
