// One client connection of the HTTP front: the state machine that reads a
// header, decides routing and authentication from it alone (404 and 401 are
// answered there, their bodies never read), reads an accepted body within
// the body budget, queues the request for a worker and writes the reply.
//
// Lives in shared_ptrs held by its pending I/O operations and by the
// request a worker holds; every member function runs on the I/O thread.
#ifndef TARVIX_RPC_HTTP_CONNECTION_H_
#define TARVIX_RPC_HTTP_CONNECTION_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include "rpc/connection_registry.h"

namespace tarvix {

struct HttpCore;

class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  using Clock = std::chrono::steady_clock;
  enum class State { kHeader, kBody, kParked, kWorking, kWriting, kDiscarding };

  HttpConnection(HttpCore& core, boost::asio::ip::tcp::socket socket);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Takes what the client has already sent (the connection's first read),
  // then waits for a request header.
  void Start();
  // Sends a reply; afterwards the connection waits for the next request,
  // or half-closes when `close`.
  void Write(std::string head, std::string body, bool close);
  // Closes at once; pending operations complete with an error.
  void Close();
  // Applies the time limits; called about once a second.
  void CheckDeadline(Clock::time_point now);
  // Body budget has been freed: a parked connection goes on reading.
  void ResumeBody();

  // Waiting for a request with not a byte of it received: may be closed to
  // make room at the connection cap.
  bool evictable() const;
  // Bytes of body budget the connection needs before it may read its body.
  size_t parked_need() const { return reserve_; }
  ConnectionRegistry::Slot& slot() { return slot_; }

 private:
  void ReadHeader();
  void ReadHeaderNow();
  void OnHeader(boost::system::error_code ec);
  bool FramingAcceptable() const;
  void AdmitBody();
  void ReadBody();
  void OnBody(boost::system::error_code ec);
  void Answer(int status, std::string body, bool close);
  void FinishAndDiscard();
  void Discard();
  void ReleaseCharge();

  HttpCore& core_;
  boost::asio::ip::tcp::socket socket_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  State state_ = State::kHeader;
  Clock::time_point since_ = Clock::now();
  std::optional<Clock::time_point> header_started_;
  std::string head_;
  std::string body_;
  bool close_after_write_ = false;
  bool closed_ = false;
  size_t served_ = 0;    // requests answered on this connection
  size_t discarded_ = 0;
  size_t reserve_ = 0;   // body budget this request needs
  size_t charged_ = 0;   // body budget this connection holds
  // Keeps a parked connection alive: it has no I/O operation pending.
  std::shared_ptr<HttpConnection> parked_self_;
  ConnectionRegistry::Slot slot_;
};

}  // namespace tarvix

#endif  // TARVIX_RPC_HTTP_CONNECTION_H_
