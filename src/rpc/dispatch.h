// Method dispatch: the method registry, the read-only gate, the crossing of
// input-loop methods to the first thread, the reply envelope and the audit
// record, all driven by the registry's rows.
#ifndef TARVIX_RPC_DISPATCH_H_
#define TARVIX_RPC_DISPATCH_H_

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "json/json.h"
#include "rpc/input_channel.h"
#include "rpc/intake.h"
#include "rpc/method_entry.h"

namespace tarvix {

// The error of a call that failed outside any tool (memory exhaustion).
extern const char kInternalError[];
extern const char kInternalErrorBody[];  // its envelope

// The daemon's methods in table order.
std::span<const MethodEntry> DaemonMethodTable();

// {"agent","mutating","ok","version"}.
ToolResult Ping(const Json& params, const CallContext& context);

// "<method> is disabled (read-only mode; start with --allow-exec)".
std::string ReadOnlyRefusal(std::string_view method);

// Looks `method` up in `table`, applies the read-only gate and runs the
// handler: on this thread, or for input-loop methods on the first thread
// through `input` (waiting for its answer without a time-out). An exception
// escaping a handler becomes an error result instead of a dead worker.
// `service` is passed on to worker handlers (see CallContext).
ToolResult Dispatch(std::span<const MethodEntry> table, std::string_view method,
                    const Json& params, bool exec_mode, const InputChannel::Sender& input,
                    const RpcService* service = nullptr);

// Performs one request of the input channel on the input loop's thread.
// The read-only gate is checked again from the row, so a request that
// reaches the first thread by any path stays safe.
ToolResult RunInputRequest(const InputRequest& request, bool exec_mode, InputSession& session);

// {"ok":true,"result":...} or {"error":...,"ok":false}.
Json Envelope(ToolResult result);

// A reply that needs no dispatch: a body that is not UTF-8 (400) or one
// that could not even be decoded (out of memory).
struct DirectReply {
  int status;
  std::string body;
};

// What one request worker needs to answer accepted calls. Immutable after
// construction; one per worker.
class RpcService {
 public:
  RpcService(std::span<const MethodEntry> table, bool exec_mode, std::string audit_path,
             const InputChannel::Sender& input);

  // An accepted request's body -> the call to dispatch, or the reply when
  // there is none to make. Never throws.
  std::variant<RpcCall, DirectReply> Decode(std::string_view body) const;

  // The lane of the method `call` names (host for names not in the table).
  Lane LaneOf(const RpcCall& call) const;

  std::span<const MethodEntry> table() const { return table_; }
  bool exec_mode() const { return exec_mode_; }

  // Dispatches one call and appends its audit record. Never throws: a
  // failure outside the tool is answered (and audited) as "internal error".
  ToolResult RunAudited(std::string_view method, const Json& params) const;

  // RunAudited, then the envelope's JSON text. Never throws.
  std::string Call(std::string_view method, const Json& params) const;

  // Decode and Call in one: HTTP status and reply body.
  std::pair<int, std::string> HandleBody(std::string_view body) const;

 private:
  std::span<const MethodEntry> table_;
  bool exec_mode_;
  std::string audit_path_;
  InputChannel::Sender input_;
};

}  // namespace tarvix

#endif  // TARVIX_RPC_DISPATCH_H_
