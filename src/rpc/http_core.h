// State shared by the parts of the HTTP front: the I/O context and its
// limits, the registry of open connections, the budget of buffered request
// bodies, the request queue and the replies on their way back.
//
// Owned through a shared_ptr by the server and by every request a worker
// holds, so a request that outlives the server still finds its I/O context.
// Members that connections touch when they are destroyed are declared
// before the I/O context, which destroys the last connections.
#ifndef TARVIX_RPC_HTTP_CORE_H_
#define TARVIX_RPC_HTTP_CORE_H_

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "rpc/connection_registry.h"
#include "rpc/http_server.h"
#include "rpc/intake.h"
#include "rpc/request_queue.h"

namespace tarvix {

class HttpConnection;

// A request that passed intake, waiting for a worker.
struct QueuedRequest {
  std::shared_ptr<HttpConnection> connection;
  std::string body;
  size_t charged = 0;  // bytes of the body budget it holds
  bool keep_alive = true;
  bool http10 = false;
};

// One reply on its way from a worker to the I/O thread.
struct QueuedReply {
  std::shared_ptr<HttpConnection> connection;
  std::string head;
  std::string body;
  bool close = false;
};

struct HttpCore {
  HttpCore(const Authenticator* auth_in, HttpServerLimits limits_in)
      : auth(auth_in), limits(limits_in) {}
  ~HttpCore();

  // Any thread. Gives back `bytes` of the body budget and, when connections
  // wait for it, lets the I/O thread resume them.
  void ReleaseBodyBytes(size_t bytes);
  // Any thread. Marks that a large buffer was freed, so the allocator is
  // trimmed the next time the daemon is idle.
  void NoteLargeBuffer(size_t bytes);
  // I/O thread, once a second: gives freed memory back to the system when
  // large buffers were freed since the last trim and nothing is in flight.
  void TrimIfIdle();

  const Authenticator* const auth;
  const HttpServerLimits limits;

  ConnectionRegistry registry;  // I/O thread only

  // Bytes of request bodies held by connections, the queue and workers.
  std::atomic<size_t> body_bytes{0};
  // Requests handed to the queue and not yet answered or dropped.
  std::atomic<size_t> in_flight{0};
  std::atomic<bool> trim_wanted{false};
  std::atomic<bool> stopped{false};

  boost::asio::io_context io{1};

  // Where refused requests' unread input is dropped; only the I/O thread
  // writes it and nobody reads it.
  std::array<char, 4096> discard_buffer;

  RequestQueue<QueuedRequest> queue;

  // Replies waiting for the I/O thread. One post wakes the I/O thread for
  // every reply that arrives before it drains, so a busy daemon pays one
  // wake-up per batch instead of one per request.
  std::mutex replies_mutex;
  std::vector<QueuedReply> replies;

  // Hands `reply` to the I/O thread (any thread).
  void PostReply(QueuedReply reply);
};

}  // namespace tarvix

#endif  // TARVIX_RPC_HTTP_CORE_H_
