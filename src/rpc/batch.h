// `batch`: a sequence of calls made in one request, in order, stopping at
// the first failure. Every step is checked before any runs (known method,
// allowed in this mode, params an object, no nested batch) and each step is
// audited as its own call.
#ifndef TARVIX_RPC_BATCH_H_
#define TARVIX_RPC_BATCH_H_

#include <cstddef>

#include "tools/call_context.h"

namespace tarvix {

inline constexpr size_t kMaxBatchSteps = 32;
// Once the results gathered reach this size the remaining steps are not
// run: a batch of screenshots must not hold unbounded memory.
inline constexpr size_t kMaxBatchResultBytes = size_t{64} << 20;

// {steps:[{method, params}]} -> {"results":[{"ok","result"|"error","ms"}],
// "completed":N, "failed_at":index|null}. Needs `context.service`.
ToolResult Batch(const Json& params, const CallContext& context);

}  // namespace tarvix

#endif  // TARVIX_RPC_BATCH_H_
