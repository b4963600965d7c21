// The daemon's HTTP/1.1 front: one I/O thread accepts and parses, request
// workers take complete, accepted requests with a blocking Receive.
//
// The I/O thread decides routing and authentication from the header alone
// (404 and 401 are answered there, their bodies never read), sends 100
// Continue only for a request whose body it will read, reads that body and
// queues the request. Workers never touch sockets: Respond hands the reply
// back to the I/O thread. Idle, slow and half-sent connections cost a
// socket and a little memory, never a thread, and time out.
#ifndef TARVIX_RPC_HTTP_SERVER_H_
#define TARVIX_RPC_HTTP_SERVER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/result.h"
#include "rpc/intake.h"

namespace tarvix {

class HttpConnection;
class HttpServer;

// A complete POST /rpc request that passed authentication; moved to a
// worker by Receive and back to the server by Respond. Dropping it without
// responding closes the connection.
class PendingRequest {
 public:
  PendingRequest() = default;
  PendingRequest(PendingRequest&&) noexcept = default;
  PendingRequest& operator=(PendingRequest&&) noexcept = default;
  ~PendingRequest();

  const std::string& body() const { return body_; }

 private:
  friend class HttpServer;
  friend class HttpConnection;
  std::shared_ptr<HttpConnection> connection_;
  std::string body_;
  bool keep_alive_ = true;
  bool http10_ = false;
};

struct HttpServerLimits {
  // Open connections at most; past it the connection that has waited
  // longest for a request is closed to make room, so a flood of idle sockets
  // neither grows memory without bound nor locks out a real client.
  size_t max_connections = 10000;
  size_t header_bytes = 8 * 1024;
  size_t body_bytes = 64 * 1024 * 1024;
  int idle_seconds = 60;         // keep-alive connection with no request begun
  int header_seconds = 10;       // from the first byte of a header to its end
  int body_seconds = 60;         // reading an accepted body
  int write_seconds = 60;        // a reply the client does not take
};

class HttpServer {
 public:
  // Opens 127.0.0.1:<port> (address reuse on, backlog 128). The error is
  // the system's error text, e.g. "Address already in use (os error 98)".
  // `auth` must outlive the server.
  static Result<std::unique_ptr<HttpServer>> Create(uint16_t port, const Authenticator* auth,
                                                    HttpServerLimits limits = {});
  ~HttpServer();

  // Starts the I/O thread (detached: it lives as long as the process).
  void Start();

  // The bound port (useful when 0 was asked for).
  uint16_t port() const;

  // Blocks for the next accepted request. Safe from any number of threads;
  // each request goes to exactly one caller.
  PendingRequest Receive();

  // Sends the reply for `request` ("Content-Type: application/json").
  // Safe from any thread; a client that has gone away is ignored.
  void Respond(PendingRequest request, int status, std::string body);

 private:
  friend class HttpConnection;
  friend class PendingRequest;
  struct Impl;
  explicit HttpServer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvix

#endif  // TARVIX_RPC_HTTP_SERVER_H_
