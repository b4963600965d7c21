#include "rpc/http_connection.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/read.hpp>

#include "rpc/http_core.h"
#include "rpc/http_reply.h"

namespace tarvix {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr size_t kMaxDiscardBytes = size_t{256} * 1024;
constexpr auto kDiscardTime = std::chrono::seconds(2);
// Reply buffers larger than this are not kept for the next reply.
constexpr size_t kKeptCapacity = size_t{16} * 1024;

}  // namespace

HttpConnection::HttpConnection(HttpCore& core, tcp::socket socket)
    : core_(core), socket_(std::move(socket)), buffer_(core.limits.read_buffer_bytes) {
  core_.registry.Add(this);
}

HttpConnection::~HttpConnection() {
  ReleaseCharge();
  core_.registry.Remove(this);
}

void HttpConnection::Start() {
  // The first read happens now, before the connection can be counted idle:
  // a client that has already sent its request is never mistaken for an
  // idle one and closed to make room.
  std::array<char, 4096> first;
  const ssize_t n = ::recv(socket_.native_handle(), first.data(),
                           std::min(first.size(), buffer_.max_size()), MSG_DONTWAIT);
  if (n > 0) {
    const auto bytes = static_cast<size_t>(n);
    asio::buffer_copy(buffer_.prepare(bytes), asio::buffer(first.data(), bytes));
    buffer_.commit(bytes);
  } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    Close();
    return;
  }
  ReadHeader();
}

void HttpConnection::ReadHeader() {
  state_ = State::kHeader;
  since_ = Clock::now();
  header_started_.reset();
  if (body_.capacity() > kKeptCapacity) std::string().swap(body_);
  if (buffer_.size() > 0) {
    ReadHeaderNow();  // a pipelined request is already here
    return;
  }
  // An idle connection holds no read buffer, only its socket: the buffer is
  // taken when the client sends, so ten thousand idle sockets cost little.
  buffer_.shrink_to_fit();
  parser_.reset();
  core_.registry.Enter(
      this, served_ > 0 ? ConnectionRegistry::Line::kKeepAlive : ConnectionRegistry::Line::kFresh);
  socket_.async_wait(tcp::socket::wait_read, [self = shared_from_this()](beast::error_code ec) {
    if (ec) {
      self->Close();
    } else if (!self->closed_) {
      self->ReadHeaderNow();
    }
  });
}

void HttpConnection::ReadHeaderNow() {
  parser_.emplace();
  parser_->header_limit(static_cast<std::uint32_t>(core_.limits.header_bytes));
  // No body limit yet: an announced length is judged only once the request
  // is accepted, so a refused request gets its 404 or 401 whatever it claims.
  parser_->body_limit(boost::none);
  http::async_read_header(socket_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code ec, size_t) {
                            self->OnHeader(ec);
                          });
}

bool HttpConnection::evictable() const {
  return !closed_ && state_ == State::kHeader && buffer_.size() == 0 &&
         !(parser_ && parser_->got_some());
}

// RFC 9112: a transfer coding other than a lone "chunked" cannot be framed
// here, and letting Content-Length frame such a request would desynchronise
// the connection from a proxy or client that reads it the other way.
bool HttpConnection::FramingAcceptable() const {
  size_t codings = 0;
  for (const auto& field : parser_->get()) {
    if (field.name() != http::field::transfer_encoding) continue;
    if (++codings > 1 || !beast::iequals(field.value(), "chunked")) return false;
  }
  return true;
}

void HttpConnection::OnHeader(beast::error_code ec) {
  core_.registry.Leave(this);
  if (ec || !FramingAcceptable()) {
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
  const bool authenticated = core_.auth->Authenticate(auth_count, auth_value);
  const Route route = RouteRequest(request.method_string(), request.target(), authenticated);
  if (route != Route::kAccepted) {
    // The body of a refused request is never read: if one is still coming,
    // answer and close instead of keeping the connection.
    const bool close = !parser_->is_done() || !request.keep_alive();
    Answer(route == Route::kNotFound ? 404 : 401,
           route == Route::kNotFound ? kNotFoundBody : kUnauthorizedBody, close);
    return;
  }
  const size_t limit = core_.limits.body_bytes;
  const boost::optional<std::uint64_t> length = parser_->content_length();
  if (length && *length > limit) {
    Answer(413, BodyTooLargeBody(limit), /*close=*/true);
    return;
  }
  parser_->body_limit(limit);
  // A chunked body's size is known only at its end, so it is budgeted at
  // the largest size it may reach.
  reserve_ = length ? static_cast<size_t>(*length) : (parser_->is_done() ? 0 : limit);
  AdmitBody();
}

// Request bodies share one budget: a body is read only when its whole size
// fits, or when nothing else holds budget (so any single body within the
// size limit is read eventually). Until then the connection waits parked,
// reading nothing: back-pressure, not an error.
void HttpConnection::AdmitBody() {
  const size_t need = reserve_ > charged_ ? reserve_ - charged_ : 0;
  if (need > 0) {
    const size_t held = core_.body_bytes.load(std::memory_order_relaxed);
    if (held > 0 && held + need > core_.limits.body_budget) {
      state_ = State::kParked;
      parked_self_ = shared_from_this();
      core_.registry.Enter(this, ConnectionRegistry::Line::kParked);
      return;
    }
    core_.body_bytes.fetch_add(need, std::memory_order_relaxed);
    charged_ += need;
  }
  const auto& request = parser_->get();
  const bool wants_continue = !parser_->is_done() && request.version() >= 11 &&
                              beast::iequals(request[http::field::expect], "100-continue");
  if (!wants_continue) {
    ReadBody();
    return;
  }
  static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
  state_ = State::kWriting;
  since_ = Clock::now();
  asio::async_write(socket_, asio::buffer(kContinue.data(), kContinue.size()),
                    [self = shared_from_this()](beast::error_code ec, size_t) {
                      if (ec) {
                        self->Close();
                      } else {
                        self->ReadBody();
                      }
                    });
}

void HttpConnection::ResumeBody() {
  if (closed_ || state_ != State::kParked) return;
  const std::shared_ptr<HttpConnection> self = std::move(parked_self_);
  AdmitBody();
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
  if (ec == http::error::body_limit) {
    Answer(413, BodyTooLargeBody(core_.limits.body_bytes), /*close=*/true);
    return;
  }
  if (ec) {
    // A body whose framing is broken cannot be read: "bad body". A vanished
    // client, or a chunk line or trailer past the read buffer, is closed.
    const bool framing =
        ec.category() == http::make_error_code(http::error::bad_chunk).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message &&
        ec != http::error::buffer_overflow;
    if (framing) {
      Answer(400, kBadBodyBody, /*close=*/true);
    } else {
      Close();
    }
    return;
  }
  state_ = State::kWorking;
  QueuedRequest request;
  request.keep_alive = parser_->get().keep_alive();
  request.http10 = parser_->get().version() < 11;
  request.body = std::move(parser_->release().body());
  parser_.reset();
  request.charged = std::exchange(charged_, 0);
  core_.NoteLargeBuffer(request.body.size());
  request.connection = shared_from_this();
  core_.in_flight.fetch_add(1, std::memory_order_relaxed);
  if (!core_.queue.Push(std::move(request))) {
    core_.in_flight.fetch_sub(1, std::memory_order_relaxed);  // server stopping
  }
}

void HttpConnection::Answer(int status, std::string body, bool close) {
  const bool http10 = parser_ && parser_->get().version() < 11;
  std::string head = FormatReplyHead(status, body.size(), close, http10);
  // A reply to HEAD announces its length but carries no body.
  if (parser_ && parser_->get().method() == http::verb::head) body.clear();
  Write(std::move(head), std::move(body), close);
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
      ++self->served_;
      self->body_.clear();
      self->ReadHeader();
    }
  });
}

void HttpConnection::Close() {
  // When parked, this may be the last reference: it goes at the end.
  const std::shared_ptr<HttpConnection> self = std::move(parked_self_);
  closed_ = true;
  core_.registry.Leave(this);
  ReleaseCharge();
  beast::error_code ignored;
  socket_.close(ignored);
}

void HttpConnection::ReleaseCharge() {
  if (charged_ > 0) core_.ReleaseBodyBytes(std::exchange(charged_, 0));
}

// Closing a socket with unread input makes the kernel reset the connection,
// which can destroy the reply before the client reads it. So: half-close,
// then drop (never keep) a bounded amount of input until the client closes.
void HttpConnection::FinishAndDiscard() {
  ReleaseCharge();
  beast::error_code ignored;
  socket_.shutdown(tcp::socket::shutdown_send, ignored);
  state_ = State::kDiscarding;
  since_ = Clock::now();
  Discard();
}

void HttpConnection::Discard() {
  socket_.async_read_some(asio::buffer(core_.discard_buffer),
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
  const auto& limits = core_.limits;
  const auto seconds = [](int n) { return std::chrono::seconds(n); };
  switch (state_) {
    case State::kHeader:
      // A header has begun once a byte of it arrived, even when the parser
      // has already taken those bytes out of the buffer (a complete start
      // line).
      if (!header_started_ && (buffer_.size() > 0 || (parser_ && parser_->got_some()))) {
        header_started_ = now;
      }
      if (header_started_ ? now - *header_started_ > seconds(limits.header_seconds)
                          : now - since_ > seconds(limits.idle_seconds)) {
        Close();
      }
      break;
    case State::kBody:
      if (now - since_ > seconds(limits.body_seconds)) Close();
      break;
    case State::kWriting:
      if (now - since_ > seconds(limits.write_seconds)) Close();
      break;
    case State::kDiscarding:
      if (now - since_ > kDiscardTime) Close();
      break;
    case State::kParked:   // waits on the daemon, not on the client
    case State::kWorking:  // a tool may run as long as its contract allows
      break;
  }
}

}  // namespace tarvix
