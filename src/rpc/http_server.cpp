#include "rpc/http_server.h"

#include <chrono>

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include "rpc/http_acceptor.h"
#include "rpc/http_connection.h"
#include "rpc/http_core.h"
#include "rpc/http_reply.h"

namespace tarvix {

namespace asio = boost::asio;

namespace {

// A drop of this many open connections since the last trim marks the heap
// for trimming (the memory of a flood of connections).
constexpr size_t kConnectionChurn = 1000;

}  // namespace

struct PendingRequestAccess {
  static PendingRequest Make(const std::shared_ptr<HttpCore>& core, QueuedRequest queued) {
    PendingRequest request;
    request.core_ = core;
    request.connection_ = std::move(queued.connection);
    request.body_ = std::move(queued.body);
    request.charged_ = queued.charged;
    request.keep_alive_ = queued.keep_alive;
    request.http10_ = queued.http10;
    return request;
  }
};

struct HttpServer::Impl {
  explicit Impl(std::shared_ptr<HttpCore> core_in)
      : core(std::move(core_in)), sweep_timer(core->io) {}

  void ScheduleSweep() {
    sweep_timer.expires_after(std::chrono::seconds(1));
    sweep_timer.async_wait([this](boost::system::error_code ec) {
      if (ec) return;
      Sweep();
      ScheduleSweep();
    });
  }

  void Sweep() {
    const auto now = HttpConnection::Clock::now();
    core->registry.ForEach([now](HttpConnection* connection) { connection->CheckDeadline(now); });
    const size_t open = core->registry.size();
    peak_connections = std::max(peak_connections, open);
    if (peak_connections - open >= kConnectionChurn) {
      core->trim_wanted.store(true, std::memory_order_relaxed);
      peak_connections = open;
    }
    core->TrimIfIdle();
  }

  std::shared_ptr<HttpCore> core;
  std::unique_ptr<HttpAcceptor> acceptor;
  asio::steady_timer sweep_timer;
  std::thread io_thread;
  size_t peak_connections = 0;
  bool stopped = false;
};

PendingRequest& PendingRequest::operator=(PendingRequest&& other) noexcept {
  if (this != &other) {
    Drop();
    core_ = std::move(other.core_);
    connection_ = std::move(other.connection_);
    body_ = std::move(other.body_);
    charged_ = std::exchange(other.charged_, 0);
    keep_alive_ = other.keep_alive_;
    http10_ = other.http10_;
  }
  return *this;
}

PendingRequest::~PendingRequest() { Drop(); }

// Gives back the request's body budget and, when it was never answered (a
// worker fault), closes the connection. The last reference to a connection
// goes on the I/O thread, which owns it; when the server has stopped, the
// I/O context keeps it until the context itself goes.
void PendingRequest::Drop() {
  if (!core_) return;
  std::string().swap(body_);
  if (charged_ > 0) core_->ReleaseBodyBytes(std::exchange(charged_, 0));
  if (connection_) {
    core_->in_flight.fetch_sub(1, std::memory_order_relaxed);
    try {
      asio::post(core_->io, [connection = std::move(connection_)] { connection->Close(); });
    } catch (...) {
      // Out of memory: the connection stays open until its peer or the
      // daemon ends; nothing better is possible from a destructor.
    }
  }
  core_.reset();
}

HttpServer::HttpServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

HttpServer::~HttpServer() {
  Stop();
  // I/O objects go before the context that owns them (in the core, which
  // requests held by workers may keep a little longer).
  impl_->acceptor.reset();
  impl_->sweep_timer.cancel();
}

Result<std::unique_ptr<HttpServer>> HttpServer::Create(uint16_t port, const Authenticator* auth,
                                                       HttpServerLimits limits) {
  auto core = std::make_shared<HttpCore>(auth, limits);
  auto impl = std::make_unique<Impl>(core);
  Result<std::unique_ptr<HttpAcceptor>> acceptor = HttpAcceptor::Open(*core, port);
  if (!acceptor) return Error(std::move(acceptor).error());
  impl->acceptor = std::move(acceptor).value();
  return std::unique_ptr<HttpServer>(new HttpServer(std::move(impl)));
}

uint16_t HttpServer::port() const { return impl_->acceptor->port(); }

void HttpServer::Start() {
  impl_->acceptor->Start();
  impl_->ScheduleSweep();
  HttpCore* core = impl_->core.get();
  impl_->io_thread = std::thread([core] {
    // Handlers do not throw; should one ever do so (memory exhaustion), the
    // loop carries on with the remaining connections.
    while (!core->io.stopped()) {
      try {
        core->io.run();
      } catch (...) {
        core->io.restart();
      }
    }
  });
}

void HttpServer::Stop() {
  if (impl_->stopped) return;
  impl_->stopped = true;
  HttpCore& core = *impl_->core;
  core.stopped.store(true, std::memory_order_relaxed);
  core.queue.Close();
  core.io.stop();
  if (impl_->io_thread.joinable()) impl_->io_thread.join();
  // With the loop stopped, close every connection so no client waits on a
  // server that will never answer; their handlers are destroyed with the
  // I/O context.
  core.registry.ForEach([](HttpConnection* connection) { connection->Close(); });
}

std::optional<PendingRequest> HttpServer::Receive() {
  std::optional<QueuedRequest> queued = impl_->core->queue.Pop();
  if (!queued) return std::nullopt;
  return PendingRequestAccess::Make(impl_->core, std::move(*queued));
}

std::optional<PendingRequest> HttpServer::TryReceive() {
  std::optional<QueuedRequest> queued = impl_->core->queue.TryPop();
  if (!queued) return std::nullopt;
  return PendingRequestAccess::Make(impl_->core, std::move(*queued));
}

void HttpServer::Respond(PendingRequest request, int status, std::string body) {
  if (!request.connection_) return;
  const bool close = !request.keep_alive_;
  HttpCore& core = *request.core_;
  core.NoteLargeBuffer(body.size());
  QueuedReply reply{std::move(request.connection_),
                    FormatReplyHead(status, body.size(), close, request.http10_),
                    std::move(body), close};
  core.in_flight.fetch_sub(1, std::memory_order_relaxed);
  request.Drop();  // the body budget goes back before the reply is written
  core.PostReply(std::move(reply));
}

void HttpServer::Adopt(int fd) {
  HttpCore& core = *impl_->core;
  asio::post(core.io, [&core, fd] { HttpAcceptor::Adopt(core, fd); });
}

size_t HttpServer::Poll() {
  HttpCore& core = *impl_->core;
  if (impl_->stopped) return 0;
  if (core.io.stopped()) core.io.restart();  // poll stops the context when it runs dry
  return core.io.poll();
}

}  // namespace tarvix
