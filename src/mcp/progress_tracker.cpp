#include "mcp/progress_tracker.h"

#include <utility>

#include "mcp/json_rpc.h"

namespace tarvix::mcp {

void ProgressTracker::Begin(uint64_t call, Json token, std::string tool, Clock::time_point now) {
  running_[call] = {std::move(token), std::move(tool), now, now + kProgressInterval};
}

void ProgressTracker::End(uint64_t call) { running_.erase(call); }

std::vector<Json> ProgressTracker::TakeDue(Clock::time_point now) {
  std::vector<Json> due;
  for (auto& [call, running] : running_) {
    if (running.next > now) continue;
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now - running.started).count();
    due.push_back(Notification(
        "notifications/progress",
        {{"progressToken", running.token},
         {"progress", seconds},
         {"message", running.tool + " running for " + std::to_string(seconds) + " s"}}));
    // Due times stay on the call's own one-second grid, so a late wake-up
    // does not push every later notification back.
    while (running.next <= now) running.next += kProgressInterval;
  }
  return due;
}

std::optional<ProgressTracker::Clock::time_point> ProgressTracker::NextDue() const {
  std::optional<Clock::time_point> next;
  for (const auto& [call, running] : running_) {
    if (!next || running.next < *next) next = running.next;
  }
  return next;
}

}  // namespace tarvix::mcp
