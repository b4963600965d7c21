// Which running tool calls owe the client a progress notification. Pure
// bookkeeping over a given clock; the caller serialises access.
#ifndef TARVIX_MCP_PROGRESS_TRACKER_H_
#define TARVIX_MCP_PROGRESS_TRACKER_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "json/json.h"

namespace tarvix::mcp {

// A call that carries a progress token and has run for kProgressInterval
// gets notifications/progress, then one more every kProgressInterval until
// it ends (well inside the promised "at least every 2 s"). The progress
// value is the whole seconds elapsed, so it grows with every notification.
inline constexpr std::chrono::seconds kProgressInterval{1};

class ProgressTracker {
 public:
  using Clock = std::chrono::steady_clock;

  // `call` is unique among running calls.
  void Begin(uint64_t call, Json token, std::string tool, Clock::time_point now);
  // No notification for `call` follows.
  void End(uint64_t call);
  // The notifications due at `now`, complete JSON-RPC messages.
  std::vector<Json> TakeDue(Clock::time_point now);
  // When the next notification falls due; nullopt with nothing running.
  std::optional<Clock::time_point> NextDue() const;

 private:
  struct Running {
    Json token;
    std::string tool;
    Clock::time_point started;
    Clock::time_point next;
  };
  std::map<uint64_t, Running> running_;
};

}  // namespace tarvix::mcp

#endif  // TARVIX_MCP_PROGRESS_TRACKER_H_
