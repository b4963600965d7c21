#include "rpc/http_server.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/version.hpp>

#include "base/os_error.h"

namespace tarvix {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kListenBacklog = 128;
constexpr size_t kMaxDiscardBytes = size_t{256} * 1024;
constexpr auto kDiscardTime = std::chrono::seconds(2);
constexpr auto kAcceptBackoff = std::chrono::milliseconds(100);


const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    default: return "Unknown";
  }
}

// The HTTP date of the current second, formatted at most once per second
// per thread.
std::string_view HttpDateNow() {
  thread_local time_t cached_second = -1;
  thread_local char cached[64];
  thread_local size_t cached_len = 0;
  const time_t now = time(nullptr);
  if (now != cached_second) {
    struct tm parts;
    gmtime_r(&now, &parts);
    cached_len = strftime(cached, sizeof cached, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    cached_second = now;
  }
  return {cached, cached_len};
}

// The response head: status line, the library's usual headers,
// Content-Type and Content-Length. The body follows in a second buffer of
// the same write, so a large reply is never copied.
std::string FormatHead(int status, size_t body_size, bool close, bool http10) {
  std::string out;
  out.reserve(192);
  out += "HTTP/1.1 ";
  out += std::to_string(status);
  out += ' ';
  out += ReasonPhrase(status);
  out += "\r\nServer: " BOOST_BEAST_VERSION_STRING "\r\nDate: ";
  out += HttpDateNow();
  out += "\r\nContent-Type: application/json\r\nContent-Length: ";
  out += std::to_string(body_size);
  if (close) {
    out += "\r\nConnection: close";
  } else if (http10) {
    out += "\r\nConnection: keep-alive";
  }
  out += "\r\n\r\n";
  return out;
}

}  // namespace

// One reply on its way from a worker to the I/O thread.
struct Reply {
  std::shared_ptr<HttpConnection> connection;
  std::string head;
  std::string body;
  bool close;
};

struct HttpServer::Impl {
  Impl(const Authenticator* auth_in, HttpServerLimits limits_in)
      : auth(auth_in), limits(limits_in), acceptor(io), sweep_timer(io), backoff_timer(io) {}

  void StartAccepting();
  void AcceptReady();
  void RetryAcceptSoon();
  HttpConnection* Idlest() const;
  void ScheduleSweep();
  void Sweep();
  void DrainReplies();

  // Called by the I/O thread for a request that passed intake.
  void Enqueue(PendingRequest request);

  const Authenticator* auth;
  const HttpServerLimits limits;
  asio::io_context io{1};
  tcp::acceptor acceptor;
  asio::steady_timer sweep_timer;
  asio::steady_timer backoff_timer;
  std::unordered_set<HttpConnection*> live;  // I/O thread only
  // Where refused requests' unread input is dropped; only the I/O thread
  // writes it and nobody reads it.
  std::array<char, 4096> discard_buffer;

  // Accepted requests waiting for a worker. A worker is woken only when no
  // other worker is already awake and about to look at the queue
  // ("searching"); a worker that finds more work behind its own wakes the
  // next one. A steady stream of short calls is then served by as few
  // threads as keep up, without a futex wake-up per request, while a request
  // arriving when every awake worker is busy in a tool still wakes a
  // sleeper at once.
  std::mutex queue_mutex;
  std::condition_variable queue_ready;
  std::deque<PendingRequest> queue;
  int sleeping = 0;    // waiting on queue_ready
  int searching = 0;   // awake, between two requests
  int wake_tokens = 0; // wake-ups granted to sleepers, not yet taken

  // Grants one sleeper a wake-up if nobody is searching; call with
  // queue_mutex held. True when the caller must notify.
  bool GrantWakeLocked() {
    if (searching > 0 || sleeping == 0) return false;
    --sleeping;
    ++searching;
    ++wake_tokens;
    return true;
  }

  // Replies waiting for the I/O thread. One post wakes the I/O thread for
  // every reply that arrives before it drains, so a busy daemon pays one
  // wake-up per batch instead of one per request.
  std::mutex replies_mutex;
  std::vector<Reply> replies;
};

class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  enum class State { kHeader, kBody, kWorking, kWriting, kDiscarding };

  HttpConnection(HttpServer::Impl& server, tcp::socket socket)
      : server_(server), socket_(std::move(socket)) {
    server_.live.insert(this);
  }
  ~HttpConnection() { server_.live.erase(this); }

  void ReadHeader();
  void Write(std::string head, std::string body, bool close);
  // Closes at once; pending operations complete with an error.
  void Close() {
    closed_ = true;
    beast::error_code ignored;
    socket_.close(ignored);
  }
  // Applies the time limits; called about once a second.
  void CheckDeadline(Clock::time_point now);
  // Waiting for a request, and since when; eviction candidates.
  bool idle() const { return !closed_ && state_ == State::kHeader && buffer_.size() == 0; }
  Clock::time_point since() const { return since_; }

  HttpServer::Impl& server() { return server_; }

 private:
  void OnHeader(beast::error_code ec);
  void ReadBody();
  void OnBody(beast::error_code ec);
  void Answer(int status, std::string_view body, bool close);
  void FinishAndDiscard();
  void Discard();

  HttpServer::Impl& server_;
  tcp::socket socket_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  State state_ = State::kHeader;
  Clock::time_point since_ = Clock::now();
  std::optional<Clock::time_point> header_started_;
  std::string head_;
  std::string body_;
  bool close_after_write_ = false;
  size_t discarded_ = 0;
  bool closed_ = false;
};

void HttpConnection::ReadHeader() {
  state_ = State::kHeader;
  since_ = Clock::now();
  header_started_.reset();
  // An idle keep-alive connection keeps no memory of a large request or
  // reply it carried.
  constexpr size_t kKeptCapacity = size_t{16} * 1024;
  if (buffer_.size() == 0 && buffer_.capacity() > kKeptCapacity) buffer_.shrink_to_fit();
  if (body_.capacity() > kKeptCapacity) std::string().swap(body_);
  parser_.emplace();
  parser_->header_limit(static_cast<std::uint32_t>(server_.limits.header_bytes));
  // No body limit yet: an announced length is judged only once the request
  // is accepted, so a refused request gets its 404 or 401 whatever it claims.
  parser_->body_limit(boost::none);
  http::async_read_header(socket_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code ec, size_t) {
                            self->OnHeader(ec);
                          });
}

void HttpConnection::OnHeader(beast::error_code ec) {
  if (ec) {
    Close();  // client gone, timed out, or a malformed or oversized header
    return;
  }
  const auto& request = parser_->get();
  size_t auth_count = 0;
  std::string_view auth_value;
  for (const auto& field : request) {
    if (beast::iequals(field.name_string(), "authorization")) {
      ++auth_count;
      auth_value = field.value();
    }
  }
  const bool authenticated = server_.auth->Authenticate(auth_count, auth_value);
  const Route route = RouteRequest(request.method_string(), request.target(), authenticated);
  if (route != Route::kAccepted) {
    // The body of a refused request is never read: if one is still coming,
    // answer and close instead of keeping the connection.
    const bool body_pending = !parser_->is_done();
    const bool close = body_pending || !request.keep_alive();
    if (route == Route::kNotFound) {
      Answer(404, kNotFoundBody, close);
    } else {
      Answer(401, kUnauthorizedBody, close);
    }
    return;
  }
  if (parser_->is_done()) {
    ReadBody();
    return;
  }
  const boost::optional<std::uint64_t> length = parser_->content_length();
  if (length && *length > server_.limits.body_bytes) {
    Answer(400, kBadBodyBody, /*close=*/true);
    return;
  }
  parser_->body_limit(server_.limits.body_bytes);
  const bool wants_continue = request.version() >= 11 &&
                              beast::iequals(request[http::field::expect], "100-continue");
  if (wants_continue) {
    static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
    state_ = State::kWriting;
    since_ = Clock::now();
    asio::async_write(socket_, asio::buffer(kContinue.data(), kContinue.size()),
                      [self = shared_from_this()](beast::error_code ec, size_t) {
                        if (ec) {
                          self->Close();
                          return;
                        }
                        self->ReadBody();
                      });
    return;
  }
  ReadBody();
}

void HttpConnection::ReadBody() {
  if (parser_->is_done()) {
    OnBody({});
    return;
  }
  state_ = State::kBody;
  since_ = Clock::now();
  http::async_read(socket_, buffer_, *parser_,
                   [self = shared_from_this()](beast::error_code ec, size_t) { self->OnBody(ec); });
}

void HttpConnection::OnBody(beast::error_code ec) {
  if (ec) {
    // A body over the limit or with broken framing gets its answer; a
    // vanished client gets nothing.
    if (ec.category() == http::make_error_code(http::error::body_limit).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message) {
      Answer(400, kBadBodyBody, /*close=*/true);
    } else {
      Close();
    }
    return;
  }
  state_ = State::kWorking;
  PendingRequest request;
  request.keep_alive_ = parser_->get().keep_alive();
  request.http10_ = parser_->get().version() < 11;
  request.body_ = std::move(parser_->release().body());
  parser_.reset();
  request.connection_ = shared_from_this();
  server_.Enqueue(std::move(request));
}

void HttpConnection::Answer(int status, std::string_view body, bool close) {
  const bool http10 = parser_ && parser_->get().version() < 11;
  Write(FormatHead(status, body.size(), close, http10), std::string(body), close);
}

void HttpConnection::Write(std::string head, std::string body, bool close) {
  state_ = State::kWriting;
  since_ = Clock::now();
  head_ = std::move(head);
  body_ = std::move(body);
  close_after_write_ = close;
  const std::array<asio::const_buffer, 2> buffers = {asio::buffer(head_), asio::buffer(body_)};
  asio::async_write(socket_, buffers, [self = shared_from_this()](beast::error_code ec, size_t) {
    if (ec) {
      self->Close();
    } else if (self->close_after_write_) {
      self->FinishAndDiscard();
    } else {
      self->body_.clear();
      self->ReadHeader();
    }
  });
}

// Closing a socket with unread input makes the kernel reset the connection,
// which can destroy the reply before the client reads it. So: half-close,
// then drop (never keep) a bounded amount of input until the client closes.
void HttpConnection::FinishAndDiscard() {
  beast::error_code ignored;
  socket_.shutdown(tcp::socket::shutdown_send, ignored);
  state_ = State::kDiscarding;
  since_ = Clock::now();
  Discard();
}

void HttpConnection::Discard() {
  socket_.async_read_some(asio::buffer(server_.discard_buffer),
                          [self = shared_from_this()](beast::error_code ec, size_t n) {
                            self->discarded_ += n;
                            if (ec || self->discarded_ > kMaxDiscardBytes) {
                              self->Close();
                            } else {
                              self->Discard();
                            }
                          });
}

void HttpConnection::CheckDeadline(Clock::time_point now) {
  const auto& limits = server_.limits;
  const auto elapsed = now - since_;
  switch (state_) {
    case State::kHeader:
      if (buffer_.size() > 0 && !header_started_) header_started_ = now;
      if (header_started_ ? now - *header_started_ > std::chrono::seconds(limits.header_seconds)
                          : elapsed > std::chrono::seconds(limits.idle_seconds)) {
        Close();
      }
      break;
    case State::kBody:
      if (elapsed > std::chrono::seconds(limits.body_seconds)) Close();
      break;
    case State::kWriting:
      if (elapsed > std::chrono::seconds(limits.write_seconds)) Close();
      break;
    case State::kDiscarding:
      if (elapsed > kDiscardTime) Close();
      break;
    case State::kWorking:  // a tool may run as long as its contract allows
      break;
  }
}

PendingRequest::~PendingRequest() {
  if (!connection_) return;
  // Dropped without a reply (a worker fault): close the connection, and let
  // the last reference go on the I/O thread, which owns the connection.
  HttpServer::Impl& server = connection_->server();
  try {
    asio::post(server.io, [connection = std::move(connection_)] { connection->Close(); });
  } catch (...) {
    // Out of memory: the connection stays open until its peer or the
    // daemon ends; nothing better is possible from a destructor.
  }
}

void HttpServer::Impl::Enqueue(PendingRequest request) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(queue_mutex);
    queue.push_back(std::move(request));
    wake = GrantWakeLocked();
  }
  if (wake) queue_ready.notify_one();
}

void HttpServer::Impl::StartAccepting() {
  acceptor.async_wait(tcp::acceptor::wait_read, [this](beast::error_code ec) {
    if (ec) {
      RetryAcceptSoon();
      return;
    }
    AcceptReady();
  });
}

void HttpServer::Impl::RetryAcceptSoon() {
  backoff_timer.expires_after(kAcceptBackoff);
  backoff_timer.async_wait([this](beast::error_code) { StartAccepting(); });
}

// The connection that has waited longest for a request, or null when every
// connection is busy with one.
HttpConnection* HttpServer::Impl::Idlest() const {
  HttpConnection* idlest = nullptr;
  for (HttpConnection* connection : live) {
    if (connection->idle() && (idlest == nullptr || connection->since() < idlest->since())) {
      idlest = connection;
    }
  }
  return idlest;
}

void HttpServer::Impl::AcceptReady() {
  size_t evicted = 0;
  while (true) {
    // At the cap, room is made by closing the longest-idle connection, but
    // only for a connection that is really waiting. A closed connection
    // leaves `live` only when its handler has run, so this round's
    // evictions count against the cap too.
    HttpConnection* victim = nullptr;
    if (live.size() - evicted >= limits.max_connections) {
      victim = Idlest();
      if (victim == nullptr) {  // all busy: leave newcomers in the backlog
        RetryAcceptSoon();
        return;
      }
    }
    const int fd = accept4(acceptor.native_handle(), nullptr, nullptr,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      // Out of descriptors or memory: pending connections stay in the
      // backlog; try again shortly instead of spinning on a ready socket.
      RetryAcceptSoon();
      return;
    }
    if (victim != nullptr) {
      victim->Close();
      ++evicted;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    tcp::socket socket(io);
    beast::error_code ec;
    socket.assign(tcp::v4(), fd, ec);
    if (ec) {
      ::close(fd);
      continue;
    }
    std::make_shared<HttpConnection>(*this, std::move(socket))->ReadHeader();
  }
  StartAccepting();
}

void HttpServer::Impl::ScheduleSweep() {
  sweep_timer.expires_after(std::chrono::seconds(1));
  sweep_timer.async_wait([this](beast::error_code ec) {
    if (ec) return;
    Sweep();
    ScheduleSweep();
  });
}

void HttpServer::Impl::Sweep() {
  const Clock::time_point now = Clock::now();
  for (HttpConnection* connection : live) connection->CheckDeadline(now);
}

void HttpServer::Impl::DrainReplies() {
  std::vector<Reply> batch;
  {
    std::lock_guard<std::mutex> lock(replies_mutex);
    batch.swap(replies);
  }
  for (Reply& reply : batch) {
    reply.connection->Write(std::move(reply.head), std::move(reply.body), reply.close);
  }
}

HttpServer::HttpServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HttpServer::~HttpServer() = default;

Result<std::unique_ptr<HttpServer>> HttpServer::Create(uint16_t port, const Authenticator* auth,
                                                       HttpServerLimits limits) {
  auto impl = std::make_unique<Impl>(auth, limits);
  beast::error_code ec;
  const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
  impl->acceptor.open(endpoint.protocol(), ec);
  if (!ec) fcntl(impl->acceptor.native_handle(), F_SETFD, FD_CLOEXEC);
  if (!ec) impl->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) impl->acceptor.bind(endpoint, ec);
  if (!ec) impl->acceptor.listen(kListenBacklog, ec);
  if (!ec) impl->acceptor.non_blocking(true, ec);
  if (ec) return Error(OsErrorText(ec.value()));
  return std::unique_ptr<HttpServer>(new HttpServer(std::move(impl)));
}

uint16_t HttpServer::port() const {
  beast::error_code ec;
  return impl_->acceptor.local_endpoint(ec).port();
}

void HttpServer::Start() {
  Impl* impl = impl_.get();
  impl->StartAccepting();
  impl->ScheduleSweep();
  std::thread([impl] {
    // Handlers do not throw; should one ever do so (memory exhaustion),
    // the loop carries on with the remaining connections.
    while (true) {
      try {
        impl->io.run();
        return;
      } catch (...) {
        impl->io.restart();
      }
    }
  }).detach();
}

PendingRequest HttpServer::Receive() {
  Impl& impl = *impl_;
  std::unique_lock<std::mutex> lock(impl.queue_mutex);
  ++impl.searching;
  while (impl.queue.empty()) {
    --impl.searching;
    ++impl.sleeping;
    impl.queue_ready.wait(lock, [&] { return impl.wake_tokens > 0; });
    --impl.wake_tokens;  // the granter moved us from sleeping to searching
  }
  PendingRequest request = std::move(impl.queue.front());
  impl.queue.pop_front();
  --impl.searching;
  const bool wake_next = !impl.queue.empty() && impl.GrantWakeLocked();
  lock.unlock();
  if (wake_next) impl.queue_ready.notify_one();
  return request;
}

void HttpServer::Respond(PendingRequest request, int status, std::string body) {
  const bool close = !request.keep_alive_;
  Reply reply{std::move(request.connection_), FormatHead(status, body.size(), close, request.http10_),
              std::move(body), close};
  if (!reply.connection) return;
  bool first;
  {
    std::lock_guard<std::mutex> lock(impl_->replies_mutex);
    first = impl_->replies.empty();
    impl_->replies.push_back(std::move(reply));
  }
  if (first) asio::post(impl_->io, [impl = impl_.get()] { impl->DrainReplies(); });
}

}  // namespace tarvix
