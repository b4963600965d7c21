#include "rpc/connection_registry.h"

#include "rpc/http_connection.h"

namespace tarvix {

std::list<HttpConnection*>& ConnectionRegistry::ListOf(Line line) {
  switch (line) {
    case Line::kKeepAlive: return keep_alive_;
    case Line::kFresh: return fresh_;
    default: return parked_;
  }
}

void ConnectionRegistry::Remove(HttpConnection* connection, Slot& slot) {
  Leave(slot);
  live_.erase(connection);
}

void ConnectionRegistry::Enter(HttpConnection* connection, Slot& slot, Line line) {
  Leave(slot);
  std::list<HttpConnection*>& list = ListOf(line);
  slot.position = list.insert(list.end(), connection);
  slot.line = line;
}

void ConnectionRegistry::Leave(Slot& slot) {
  if (slot.line == Line::kNone) return;
  ListOf(slot.line).erase(slot.position);
  slot.line = Line::kNone;
}

HttpConnection* ConnectionRegistry::EvictionCandidate() {
  for (std::list<HttpConnection*>* list : {&keep_alive_, &fresh_}) {
    while (!list->empty()) {
      HttpConnection* front = list->front();
      if (front->evictable()) return front;
      Leave(front->slot());  // a request has begun: it re-enters when idle again
    }
  }
  return nullptr;
}

}  // namespace tarvix
