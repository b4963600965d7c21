#include "tools/host/run_command.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "json/params.h"
#include "tools/host/command_runner.h"
#include "tools/host/host_tools.h"
#include "tools/host/policy.h"

namespace tarvix {

uint64_t CommandTimeLimitSecs(const Json& params) {
  const std::optional<uint64_t> requested = UnsignedParam(params, "timeout_secs");
  if (!requested) return kDefaultCommandTimeoutSecs;
  return std::clamp<uint64_t>(*requested, 1, kMaxCommandTimeoutSecs);
}

ToolResult RunCommand(const Json& params) {
  const std::string* command = StringParam(params, "command");
  if (command == nullptr) return Error(MissingParam("command"));
  if (Result<void> screened = GuardCommand(*command); !screened) {
    return Error(std::move(screened).error());
  }
  CommandLimits limits;
  limits.time_limit = std::chrono::seconds(CommandTimeLimitSecs(params));
  return RunShellCommand(*command, limits);
}

}  // namespace tarvix
