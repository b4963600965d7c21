// The daemon's HTTP/1.1 front: one I/O thread accepts and parses, request
// workers take complete, accepted requests with a blocking Receive.
//
// The parts: HttpAcceptor (listening socket, connection cap), HttpConnection
// (one client's state machine), ConnectionRegistry (who is idle, who waits
// for body budget), RequestQueue (the hand-off to workers), http_reply
// (reply heads). Workers never touch sockets: Respond hands the reply back
// to the I/O thread. Idle, slow and half-sent connections cost a socket and
// a little memory, never a thread, and time out.
#ifndef TARVIX_RPC_HTTP_SERVER_H_
#define TARVIX_RPC_HTTP_SERVER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/result.h"
#include "rpc/intake.h"

namespace tarvix {

class HttpConnection;
class HttpServer;
struct HttpCore;

// A complete POST /rpc request that passed authentication; moved to a
// worker by Receive and back to the server by Respond. Dropping it without
// responding closes the connection. May outlive the server.
class PendingRequest {
 public:
  PendingRequest() = default;
  PendingRequest(PendingRequest&&) noexcept = default;
  PendingRequest& operator=(PendingRequest&&) noexcept;
  ~PendingRequest();

  const std::string& body() const { return body_; }

 private:
  friend class HttpServer;
  friend struct PendingRequestAccess;
  void Drop();

  std::shared_ptr<HttpCore> core_;
  std::shared_ptr<HttpConnection> connection_;
  std::string body_;
  size_t charged_ = 0;
  bool keep_alive_ = true;
  bool http10_ = false;
};

struct HttpServerLimits {
  // Open connections at most; past it an idle connection is closed to make
  // room, so a flood of idle sockets neither grows memory without bound nor
  // locks out a real client.
  size_t max_connections = 10000;
  size_t header_bytes = 8 * 1024;
  size_t body_bytes = 64 * 1024 * 1024;
  // All request bodies being read, queued or handled, together; past it no
  // further body is read until memory frees.
  size_t body_budget = 256 * 1024 * 1024;
  // Unparsed input held per connection; bounds chunk lines (with their
  // extensions) and trailers.
  size_t read_buffer_bytes = 16 * 1024;
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
  // Stops first. Requests still held by workers stay safe to drop; no
  // Receive may still be running (Stop releases them first).
  ~HttpServer();

  // Starts the I/O thread.
  void Start();
  // Closes the listener and every connection, ends the I/O thread and makes
  // every present and future Receive return nullopt. Idempotent.
  void Stop();

  // The bound port (useful when 0 was asked for).
  uint16_t port() const;

  // Blocks for the next accepted request; nullopt once stopped. Safe from
  // any number of threads; each request goes to exactly one caller.
  std::optional<PendingRequest> Receive();

  // Sends the reply for `request` ("Content-Type: application/json").
  // Safe from any thread; a client that has gone away is ignored.
  void Respond(PendingRequest request, int status, std::string body);

  // For driving the front without its I/O thread (fuzzing, tests): serve a
  // connected stream socket, run the handlers that are ready on the calling
  // thread, take a queued request without blocking.
  void Adopt(int fd);
  size_t Poll();
  std::optional<PendingRequest> TryReceive();

 private:
  struct Impl;
  explicit HttpServer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvix

#endif  // TARVIX_RPC_HTTP_SERVER_H_
