// The bridge's way to the daemon: one RPC call as POST /rpc over loopback
// HTTP/1.1, on kept-alive connections that later calls reuse.
#ifndef TARVIX_MCP_DAEMON_CLIENT_H_
#define TARVIX_MCP_DAEMON_CLIENT_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"

namespace tarvix::mcp {

// What one call came back with.
struct DaemonReply {
  // True when the daemon answered with an envelope; `result` is then its
  // result or its error message. False when the call did not get that far
  // (daemon not running, token refused, unreadable reply); `result` is then
  // the complete message for the agent.
  bool answered = false;
  ToolResult result = Json();
};

// The seam between the MCP message handling and the network.
// Implementations are thread-safe: calls may run concurrently.
class DaemonRpc {
 public:
  virtual ~DaemonRpc() = default;
  virtual DaemonReply Call(std::string_view method, const Json& params) = 0;
};

// "cannot reach tarvix-agentd at 127.0.0.1:<port>: <reason> (start it, or pass --port)"
std::string CannotReachMessage(uint16_t port, std::string_view reason);
// The daemon's "unauthorized" with the hint that fixes it.
extern const char kUnauthorizedMessage[];

// Talks to the daemon on 127.0.0.1:port with "Authorization: Bearer <token>".
// Thread-safe. The process must ignore SIGPIPE (a daemon that hangs up
// then shows as a failed write, not a dead bridge). Each call takes an idle
// connection (or opens one) and puts it back when the reply left it
// reusable; a reused connection that turns out closed before any reply byte
// arrived is replaced once, since the daemon then never saw the request.
// A reply that comes while the request is still being written (the daemon
// refuses a body over its limit from the head alone) ends the write and is
// reported like any other; writing and reading share the call's deadline.
class HttpDaemonClient final : public DaemonRpc {
 public:
  // `reply_deadline` bounds the wait for one reply (the daemon's longest
  // call, run_command, ends within 120 s; ping gets at most 5 s).
  HttpDaemonClient(uint16_t port, std::string token,
                   std::chrono::seconds reply_deadline = std::chrono::seconds(300));
  ~HttpDaemonClient() override;
  HttpDaemonClient(const HttpDaemonClient&) = delete;
  HttpDaemonClient& operator=(const HttpDaemonClient&) = delete;

  DaemonReply Call(std::string_view method, const Json& params) override;

 private:
  struct Idle {
    int fd;
    std::chrono::steady_clock::time_point since;
  };
  // An idle connection young enough to trust, or -1.
  int TakeIdle();
  void PutIdle(int fd);

  const uint16_t port_;
  const std::string request_head_;  // everything up to Content-Length's value
  const std::chrono::seconds reply_deadline_;
  std::mutex mutex_;
  std::vector<Idle> idle_;  // guarded by mutex_
};

}  // namespace tarvix::mcp

#endif  // TARVIX_MCP_DAEMON_CLIENT_H_
