// A recording DaemonRpc for the bridge's tests: answers each method from a
// table and remembers every call.
#ifndef TARVIX_TESTS_MCP_FAKE_DAEMON_H_
#define TARVIX_TESTS_MCP_FAKE_DAEMON_H_

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "mcp/daemon_client.h"

namespace tarvix::mcp::testing {

class FakeDaemon : public DaemonRpc {
 public:
  // Replies by method; a method without one is answered as unreachable.
  std::map<std::string, DaemonReply> replies;
  // Runs before a call is answered (to block or pace calls).
  std::function<void(std::string_view method, const Json& params)> on_call;

  DaemonReply Call(std::string_view method, const Json& params) override {
    {
      std::lock_guard lock(mutex_);
      calls_.emplace_back(std::string(method), params);
    }
    if (on_call) on_call(method, params);
    const auto reply = replies.find(std::string(method));
    if (reply == replies.end()) {
      return {false, Error(CannotReachMessage(8765, "Connection refused (os error 111)"))};
    }
    return reply->second;
  }

  std::vector<std::pair<std::string, Json>> calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

  static DaemonReply Ping(bool mutating) {
    return {true, Json{{"agent", "tarvix-agentd"}, {"mutating", mutating}, {"ok", true},
                       {"version", "0.1.7"}}};
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<std::string, Json>> calls_;
};

}  // namespace tarvix::mcp::testing

#endif  // TARVIX_TESTS_MCP_FAKE_DAEMON_H_
