// The open connections of the HTTP front, with the order in which idle ones
// are given up at the connection cap and the line of connections waiting
// for body budget. I/O thread only.
//
// Eviction order: the longest-idle keep-alive connection (one that has been
// answered and waits for its next request) goes first, then the
// longest-idle connection that has never sent a byte. A connection is a
// candidate only from its first read on, and never while a request is under
// way, so a client whose request is already in flight is never dropped to
// make room for a flood.
#ifndef TARVIX_RPC_CONNECTION_REGISTRY_H_
#define TARVIX_RPC_CONNECTION_REGISTRY_H_

#include <cstddef>
#include <list>
#include <unordered_set>

namespace tarvix {

class HttpConnection;

class ConnectionRegistry {
 public:
  enum class Line { kNone, kKeepAlive, kFresh, kParked };

  // Per-connection bookkeeping, kept inside the connection.
  struct Slot {
    Line line = Line::kNone;
    std::list<HttpConnection*>::iterator position;
  };

  void Add(HttpConnection* connection) { live_.insert(connection); }
  // Also takes the connection out of whatever line it stands in.
  void Remove(HttpConnection* connection, Slot& slot);
  size_t size() const { return live_.size(); }
  const std::unordered_set<HttpConnection*>& live() const { return live_; }

  // Puts the connection at the back of `line`, leaving any other line.
  void Enter(HttpConnection* connection, Slot& slot, Line line);
  void Leave(Slot& slot);

  // The connection to close for room, or null. Entries that have begun a
  // request since they entered their line are dropped from it on the way.
  HttpConnection* EvictionCandidate();

  // The connection that has waited longest for body budget, or null.
  HttpConnection* FrontParked() const { return parked_.empty() ? nullptr : parked_.front(); }
  bool has_parked() const { return !parked_.empty(); }

 private:
  std::list<HttpConnection*>& ListOf(Line line);

  std::unordered_set<HttpConnection*> live_;
  std::list<HttpConnection*> keep_alive_;
  std::list<HttpConnection*> fresh_;
  std::list<HttpConnection*> parked_;
};

}  // namespace tarvix

#endif  // TARVIX_RPC_CONNECTION_REGISTRY_H_
