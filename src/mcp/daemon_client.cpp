#include "mcp/daemon_client.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <algorithm>
#include <optional>
#include <utility>

#include "base/os_error.h"

namespace tarvix::mcp {
namespace {

namespace http = boost::beast::http;
using Clock = std::chrono::steady_clock;

// The daemon closes a connection after 60 s of idleness; one idle for half
// of that is closed here rather than raced.
constexpr auto kIdleTrust = std::chrono::seconds(30);
constexpr size_t kMaxIdle = 16;
constexpr std::chrono::seconds kPingDeadline{5};
// Replies carry at most a 64 MiB file (escaped) or a screenshot.
constexpr uint64_t kReplyBodyLimit = uint64_t{1} << 30;
constexpr char kNoReplyInTime[] = "no reply within the time limit";

// How one request/reply exchange on a connection ended.
struct Exchange {
  std::string error;          // empty on success
  bool reply_started = false;  // some reply byte arrived
  unsigned status = 0;
  std::string body;
  bool reusable = false;
};

Result<int> Connect(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return Error(OsErrorText(errno));
  // tarvix-mcp starts no programs; the flag keeps the socket from any that
  // a host process embedding the client might.
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int error = errno;
    close(fd);
    return Error(OsErrorText(error));
  }
  return fd;
}

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<int64_t>(left.count(), 0, 60'000));
}

// How sending a request ended.
struct Sent {
  std::string error;      // the write failed, or the deadline passed
  bool timed_out = false;
  bool complete = false;  // every byte went out
};

// Sends `request` until it is all out, the write fails, or the daemon
// starts to answer (or hangs up) first. The daemon answers 401 and 413
// after the head without reading the body, so a large body then stalls the
// write or fails it with a reset while the reply is already here to read.
Sent SendUnlessAnswered(int fd, std::string_view request, Clock::time_point deadline) {
  Sent out;
  while (!request.empty()) {
    if (Clock::now() >= deadline) {
      out.error = kNoReplyInTime;
      out.timed_out = true;
      return out;
    }
    pollfd ready{.fd = fd, .events = POLLIN | POLLOUT, .revents = 0};
    const int events = poll(&ready, 1, MillisecondsLeft(deadline));
    if (events < 0 && errno != EINTR) {
      out.error = OsErrorText(errno);
      return out;
    }
    if (events <= 0) continue;
    if ((ready.revents & POLLIN) != 0) return out;
    const ssize_t n = send(fd, request.data(), request.size(), MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      out.error = OsErrorText(errno);
      return out;
    }
    request.remove_prefix(static_cast<size_t>(n));
  }
  out.complete = true;
  return out;
}

Exchange ReadReply(int fd, Clock::time_point deadline) {
  Exchange out;
  http::response_parser<http::string_body> parser;
  parser.body_limit(kReplyBodyLimit);
  parser.eager(true);
  std::string pending;
  char chunk[64 * 1024];
  boost::beast::error_code ec;
  while (!parser.is_done()) {
    if (Clock::now() >= deadline) {
      out.error = kNoReplyInTime;
      return out;
    }
    pollfd readable{.fd = fd, .events = POLLIN, .revents = 0};
    const int ready = poll(&readable, 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno != EINTR) {
      out.error = OsErrorText(errno);
      return out;
    }
    if (ready <= 0) continue;
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      out.error = OsErrorText(errno);
      return out;
    }
    if (n == 0) {
      // Only a reply framed by the end of the connection may end here.
      if (out.reply_started) parser.put_eof(ec);
      if (!out.reply_started || ec || !parser.is_done()) {
        out.error = "connection closed before the reply was complete";
        return out;
      }
      break;
    }
    out.reply_started = true;
    pending.append(chunk, static_cast<size_t>(n));
    while (!pending.empty() && !parser.is_done()) {
      const size_t used = parser.put(boost::asio::buffer(pending), ec);
      pending.erase(0, used);
      if (ec == http::error::need_more) {
        ec = {};
        break;
      }
      if (ec) {
        out.error = "malformed HTTP reply: " + ec.message();
        return out;
      }
      if (used == 0) break;
    }
  }
  out.status = parser.get().result_int();
  out.reusable = parser.get().keep_alive() && pending.empty();
  out.body = std::move(parser.get().body());
  return out;
}

Exchange RoundTrip(int fd, std::string_view request, Clock::time_point deadline) {
  const Sent sent = SendUnlessAnswered(fd, request, deadline);
  if (sent.timed_out) {
    Exchange out;
    out.error = sent.error;
    return out;
  }
  // Whatever the daemon sent before a failed write is read first: a complete
  // reply says why it stopped reading. Without one, the failed write is
  // what went wrong.
  Exchange out = ReadReply(fd, deadline);
  if (!out.error.empty() && !sent.error.empty()) out.error = sent.error;
  if (!sent.complete) out.reusable = false;
  return out;
}

ToolResult DecodeEnvelope(const Json& envelope) {
  const auto ok = envelope.find("ok");
  if (ok != envelope.end() && *ok == true) {
    const auto result = envelope.find("result");
    return result == envelope.end() ? Json() : *result;
  }
  const auto error = envelope.find("error");
  return Error(error != envelope.end() && error->is_string() ? error->get<std::string>()
                                                             : "tarvix-agentd failed without a message");
}

std::string Excerpt(std::string_view text) {
  constexpr size_t kMax = 200;
  return std::string(text.substr(0, kMax)) + (text.size() > kMax ? "..." : "");
}

}  // namespace

const char kUnauthorizedMessage[] =
    "unauthorized (tarvix-agentd refused the token: set TARVIX_AGENTD_TOKEN in the "
    "environment of tarvix-mcp to the token the daemon was started with)";

std::string CannotReachMessage(uint16_t port, std::string_view reason) {
  return "cannot reach tarvix-agentd at 127.0.0.1:" + std::to_string(port) + ": " +
         std::string(reason) + " (start it, or pass --port)";
}

HttpDaemonClient::HttpDaemonClient(uint16_t port, std::string token,
                                   std::chrono::seconds reply_deadline)
    : port_(port),
      request_head_("POST /rpc HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                    "\r\nAuthorization: Bearer " + token +
                    "\r\nContent-Type: application/json\r\nContent-Length: "),
      reply_deadline_(reply_deadline) {}

HttpDaemonClient::~HttpDaemonClient() {
  for (const Idle& idle : idle_) close(idle.fd);
}

int HttpDaemonClient::TakeIdle() {
  std::lock_guard lock(mutex_);
  while (!idle_.empty()) {
    const Idle idle = idle_.back();
    idle_.pop_back();
    if (Clock::now() - idle.since < kIdleTrust) return idle.fd;
    close(idle.fd);
  }
  return -1;
}

void HttpDaemonClient::PutIdle(int fd) {
  std::lock_guard lock(mutex_);
  if (idle_.size() >= kMaxIdle) {
    close(fd);
    return;
  }
  idle_.push_back({fd, Clock::now()});
}

DaemonReply HttpDaemonClient::Call(std::string_view method, const Json& params) {
  std::string body = ToJsonText(Json{{"method", method}, {"params", params}});
  std::string request;
  request.reserve(request_head_.size() + 24 + body.size());
  request += request_head_;
  request += std::to_string(body.size());
  request += "\r\n\r\n";
  request += body;

  // ping answers at once; initialize and tools/list wait for it, and a
  // host gives up on those long before a tool's time limit.
  const Clock::time_point deadline =
      Clock::now() + (method == "ping" ? std::min(reply_deadline_, kPingDeadline) : reply_deadline_);
  int fd = TakeIdle();
  bool reused = fd >= 0;
  Exchange exchange;
  while (true) {
    if (fd < 0) {
      Result<int> connected = Connect(port_);
      if (!connected) return {false, Error(CannotReachMessage(port_, connected.error()))};
      fd = *connected;
    }
    exchange = RoundTrip(fd, request, deadline);
    if (exchange.error.empty()) break;
    close(fd);
    fd = -1;
    if (!(reused && !exchange.reply_started)) {
      return {false, Error("tarvix-agentd at 127.0.0.1:" + std::to_string(port_) +
                           " did not answer: " + exchange.error)};
    }
    reused = false;  // a stale kept-alive connection: the daemon never saw the request
  }
  if (exchange.reusable) {
    PutIdle(fd);
  } else {
    close(fd);
  }

  const Json envelope = ParseJsonOrNull(exchange.body);
  if (exchange.status == 401) return {false, Error(kUnauthorizedMessage)};
  if (exchange.status != 200) {
    const auto error = envelope.is_object() ? envelope.find("error") : envelope.end();
    const std::string detail = envelope.is_object() && error != envelope.end() && error->is_string()
                                   ? error->get<std::string>()
                                   : Excerpt(exchange.body);
    return {false, Error("tarvix-agentd answered HTTP " + std::to_string(exchange.status) + ": " +
                         detail)};
  }
  if (!envelope.is_object() || !envelope.contains("ok")) {
    return {false, Error("unexpected reply from tarvix-agentd: " + Excerpt(exchange.body))};
  }
  return {true, DecodeEnvelope(envelope)};
}

}  // namespace tarvix::mcp
