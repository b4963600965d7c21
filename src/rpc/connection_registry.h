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
//
// All lists are intrusive (the links live in each connection's Slot), so
// registering, queueing and leaving allocate nothing.
#ifndef TARVIX_RPC_CONNECTION_REGISTRY_H_
#define TARVIX_RPC_CONNECTION_REGISTRY_H_

#include <cstddef>

namespace tarvix {

class HttpConnection;

class ConnectionRegistry {
 public:
  enum class Line { kNone, kKeepAlive, kFresh, kParked };

  struct Links {
    HttpConnection* prev = nullptr;
    HttpConnection* next = nullptr;
  };
  // Per-connection bookkeeping, kept inside the connection.
  struct Slot {
    Links live;
    Links line_links;
    Line line = Line::kNone;
  };

  void Add(HttpConnection* connection);
  // Also takes the connection out of whatever line it stands in.
  void Remove(HttpConnection* connection);
  size_t size() const { return size_; }

  // Calls `visit` for every open connection; `visit` may close connections
  // (not destroy them).
  template <typename Visit>
  void ForEach(Visit visit) {
    for (HttpConnection* c = live_.first; c != nullptr;) {
      HttpConnection* next = SlotOf(c).live.next;
      visit(c);
      c = next;
    }
  }

  // Puts the connection at the back of `line`, leaving any other line.
  void Enter(HttpConnection* connection, Line line);
  void Leave(HttpConnection* connection);

  // The connection to close for room, or null. Entries that have begun a
  // request since they entered their line are dropped from it on the way.
  HttpConnection* EvictionCandidate();

  // The connection that has waited longest for body budget, or null.
  HttpConnection* FrontParked() const { return parked_.first; }

 private:
  struct List {
    HttpConnection* first = nullptr;
    HttpConnection* last = nullptr;
  };
  static Slot& SlotOf(HttpConnection* connection);
  List& ListOf(Line line);

  List live_;
  size_t size_ = 0;
  List keep_alive_;
  List fresh_;
  List parked_;
};

}  // namespace tarvix

#endif  // TARVIX_RPC_CONNECTION_REGISTRY_H_
