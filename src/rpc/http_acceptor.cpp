#include "rpc/http_acceptor.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/post.hpp>

#include "base/os_error.h"
#include "base/region_pool.h"
#include "platform/descriptors.h"
#include "rpc/http_connection.h"
#include "rpc/http_core.h"

namespace tarvix {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

constexpr int kListenBacklog = 128;
constexpr auto kAcceptBackoff = std::chrono::milliseconds(100);
// Connections accepted per turn of the I/O loop: a flood of connects must
// not keep the loop from reading the requests already accepted.
constexpr int kAcceptBatch = 64;

}  // namespace

HttpAcceptor::HttpAcceptor(HttpCore& core)
    : core_(core), acceptor_(core.io), backoff_(core.io) {}

Result<std::unique_ptr<HttpAcceptor>> HttpAcceptor::Open(HttpCore& core, uint16_t port) {
  std::unique_ptr<HttpAcceptor> self(new HttpAcceptor(core));
  tcp::acceptor& acceptor = self->acceptor_;
  boost::system::error_code ec;
  const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) fcntl(acceptor.native_handle(), F_SETFD, FD_CLOEXEC);
  if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(kListenBacklog, ec);
  if (!ec) acceptor.non_blocking(true, ec);
  if (ec) return Error(OsErrorText(ec.value()));
  return self;
}

uint16_t HttpAcceptor::port() const {
  boost::system::error_code ec;
  return acceptor_.local_endpoint(ec).port();
}

void HttpAcceptor::Start() { WaitReady(); }

void HttpAcceptor::WaitReady() {
  acceptor_.async_wait(tcp::acceptor::wait_read, [this](boost::system::error_code ec) {
    if (ec == asio::error::operation_aborted) return;
    if (ec) {
      RetrySoon();
      return;
    }
    AcceptReady();
  });
}

void HttpAcceptor::RetrySoon() {
  backoff_.expires_after(kAcceptBackoff);
  backoff_.async_wait([this](boost::system::error_code ec) {
    if (ec != asio::error::operation_aborted) WaitReady();
  });
}

void HttpAcceptor::AcceptReady() {
  size_t evicted = 0;
  for (int accepted = 0; accepted < kAcceptBatch; ++accepted) {
    // At the cap, room is made by closing an idle connection, but only for
    // a connection that is really waiting in the backlog. A closed
    // connection leaves the registry only when its handlers have run, so
    // this batch's evictions count against the cap too.
    HttpConnection* victim = nullptr;
    if (core_.registry.size() - evicted >= core_.limits.max_connections) {
      victim = core_.registry.EvictionCandidate();
      if (victim == nullptr) {  // all busy: leave newcomers in the backlog
        RetrySoon();
        return;
      }
    }
    const int fd = AcceptNonBlocking(acceptor_.native_handle());
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        WaitReady();
        return;
      }
      // Out of descriptors or memory: pending connections stay in the
      // backlog; try again shortly instead of spinning on a ready socket.
      RetrySoon();
      return;
    }
    if (victim != nullptr) {
      victim->Close();
      ++evicted;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Adopt(core_, fd);
  }
  // More may be waiting: let the loop run the reads and replies due, then
  // come back.
  asio::post(core_.io, [this] { AcceptReady(); });
}

void HttpAcceptor::Adopt(HttpCore& core, int fd) {
  tcp::socket socket(core.io);
  boost::system::error_code ec;
  socket.assign(tcp::v4(), fd, ec);
  if (ec) {
    ::close(fd);
    return;
  }
  std::allocate_shared<HttpConnection>(RegionAllocator<HttpConnection>(), core, std::move(socket))
      ->Start();
}

}  // namespace tarvix
