// The listening socket of the HTTP front: accepts in bounded batches, keeps
// the number of open connections at the cap by closing an idle one for each
// newcomer (ConnectionRegistry's order), and backs off instead of spinning
// when the system is out of descriptors. I/O thread only, after Open.
#ifndef TARVIX_RPC_HTTP_ACCEPTOR_H_
#define TARVIX_RPC_HTTP_ACCEPTOR_H_

#include <cstdint>
#include <memory>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "base/result.h"

namespace tarvix {

struct HttpCore;

class HttpAcceptor {
 public:
  // Opens 127.0.0.1:<port> (address reuse on, backlog 128, close-on-exec).
  // The error is the system's error text.
  static Result<std::unique_ptr<HttpAcceptor>> Open(HttpCore& core, uint16_t port);

  void Start();
  uint16_t port() const;

  // Serves an already connected stream socket as a client connection; the
  // connection owns `fd` from here on. I/O thread.
  static void Adopt(HttpCore& core, int fd);

 private:
  explicit HttpAcceptor(HttpCore& core);
  void WaitReady();
  void AcceptReady();
  void RetrySoon();

  HttpCore& core_;
  boost::asio::ip::tcp::acceptor acceptor_;
  boost::asio::steady_timer backoff_;
};

}  // namespace tarvix

#endif  // TARVIX_RPC_HTTP_ACCEPTOR_H_
