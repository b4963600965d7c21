// Parameter rules of the run_command tool that callers and tests share. The
// tool itself is RunCommand in host_tools.h.
#ifndef TARVIX_TOOLS_HOST_RUN_COMMAND_H_
#define TARVIX_TOOLS_HOST_RUN_COMMAND_H_

#include <cstdint>

#include "json/json.h"

namespace tarvix {

inline constexpr uint64_t kDefaultCommandTimeoutSecs = 15;
inline constexpr uint64_t kMaxCommandTimeoutSecs = 120;

// The effective time limit in whole seconds for the params of one call:
// "timeout_secs" as a non-negative JSON integer, 0 raised to 1 and anything
// above 120 lowered to 120; 15 when absent or of another type.
uint64_t CommandTimeLimitSecs(const Json& params);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_HOST_RUN_COMMAND_H_
