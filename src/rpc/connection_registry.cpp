#include "rpc/connection_registry.h"

#include "rpc/http_connection.h"

namespace tarvix {

namespace {

using Links = ConnectionRegistry::Links;

template <typename List>
void PushBack(List& list, HttpConnection* c, Links& links, Links& (*links_of)(HttpConnection*)) {
  links.prev = list.last;
  links.next = nullptr;
  if (list.last != nullptr) {
    links_of(list.last).next = c;
  } else {
    list.first = c;
  }
  list.last = c;
}

template <typename List>
void Unlink(List& list, Links& links, Links& (*links_of)(HttpConnection*)) {
  if (links.prev != nullptr) {
    links_of(links.prev).next = links.next;
  } else {
    list.first = links.next;
  }
  if (links.next != nullptr) {
    links_of(links.next).prev = links.prev;
  } else {
    list.last = links.prev;
  }
  links = {};
}

Links& LiveLinks(HttpConnection* c) { return c->slot().live; }
Links& LineLinks(HttpConnection* c) { return c->slot().line_links; }

}  // namespace

ConnectionRegistry::Slot& ConnectionRegistry::SlotOf(HttpConnection* connection) {
  return connection->slot();
}

ConnectionRegistry::List& ConnectionRegistry::ListOf(Line line) {
  switch (line) {
    case Line::kKeepAlive: return keep_alive_;
    case Line::kFresh: return fresh_;
    default: return parked_;
  }
}

void ConnectionRegistry::Add(HttpConnection* connection) {
  PushBack(live_, connection, LiveLinks(connection), LiveLinks);
  ++size_;
}

void ConnectionRegistry::Remove(HttpConnection* connection) {
  Leave(connection);
  Unlink(live_, LiveLinks(connection), LiveLinks);
  --size_;
}

void ConnectionRegistry::Enter(HttpConnection* connection, Line line) {
  Leave(connection);
  PushBack(ListOf(line), connection, LineLinks(connection), LineLinks);
  SlotOf(connection).line = line;
}

void ConnectionRegistry::Leave(HttpConnection* connection) {
  Slot& slot = SlotOf(connection);
  if (slot.line == Line::kNone) return;
  Unlink(ListOf(slot.line), slot.line_links, LineLinks);
  slot.line = Line::kNone;
}

HttpConnection* ConnectionRegistry::EvictionCandidate() {
  for (List* list : {&keep_alive_, &fresh_}) {
    while (list->first != nullptr) {
      HttpConnection* front = list->first;
      if (front->evictable()) return front;
      Leave(front);  // a request has begun: it re-enters when idle again
    }
  }
  return nullptr;
}

}  // namespace tarvix
