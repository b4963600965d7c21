// Method dispatch: the method table, the read-only gate, the crossing of
// "input" to the first thread, the reply envelope and the audit record.
#ifndef TARVIX_RPC_DISPATCH_H_
#define TARVIX_RPC_DISPATCH_H_

#include <span>
#include <string>
#include <string_view>

#include "json/json.h"
#include "rpc/input_channel.h"

namespace tarvix {

// The error of a call that failed outside any tool (memory exhaustion).
extern const char kInternalError[];
extern const char kInternalErrorBody[];  // its envelope

using ToolFunction = ToolResult (*)(const Json& params, bool allow_exec);

struct MethodEntry {
  std::string_view name;
  ToolFunction tool;
  bool needs_exec;  // refused in read-only mode before params are read
};

// The daemon's methods in table order ("input" is handled before the table).
std::span<const MethodEntry> DaemonMethodTable();

// {"agent","mutating","ok","version"}.
ToolResult Ping(const Json& params, bool allow_exec);

// Looks `method` up in `table` (exact bytes, first match), applies the
// read-only gate and runs the tool. An exception escaping a tool becomes an
// error result instead of a dead worker.
ToolResult DispatchTool(std::span<const MethodEntry> table, std::string_view method,
                        const Json& params, bool allow_exec);

// Hands an input request to the main-thread input loop and waits for its
// answer without a time-out.
ToolResult DispatchInput(const InputChannel::Sender& input, const Json& params, bool allow_exec);

// {"ok":true,"result":...} or {"error":...,"ok":false}.
Json Envelope(ToolResult result);

// What one request worker needs to answer accepted calls. Immutable after
// construction; one per worker.
class RpcService {
 public:
  RpcService(std::span<const MethodEntry> table, bool allow_exec, std::string audit_path,
             const InputChannel::Sender& input);

  // Dispatches one decoded call, appends its audit record and returns the
  // envelope's JSON text. Never throws: a failure outside the tool is
  // answered (and audited) as "internal error".
  std::string Call(std::string_view method, const Json& params) const;

  // An accepted request's body -> HTTP status and reply body (400 "bad body"
  // when the body is not UTF-8 text). Never throws.
  std::pair<int, std::string> HandleBody(std::string_view body) const;

 private:
  std::span<const MethodEntry> table_;
  bool allow_exec_;
  std::string audit_path_;
  InputChannel::Sender input_;
};

}  // namespace tarvix

#endif  // TARVIX_RPC_DISPATCH_H_
