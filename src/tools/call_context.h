// What a method's handler is given besides its params: the daemon's mode
// and, on the first thread, the input loop's state. The method registry
// (rpc/dispatch) calls every handler through this one shape.
#ifndef TARVIX_TOOLS_CALL_CONTEXT_H_
#define TARVIX_TOOLS_CALL_CONTEXT_H_

#include "json/json.h"

namespace tarvix {

struct InputSession;  // tools/desktop/input_session.h
class RpcService;     // rpc/dispatch.h

struct CallContext {
  // True when the daemon was started with --allow-exec. Dispatch has
  // already refused exec-mode methods in read-only mode; handlers read it
  // only to report it (ping).
  bool exec_mode = false;
  // The input loop's state. Set for methods that run on the input loop
  // (the first thread), null on request workers.
  InputSession* input_session = nullptr;
  // The service that took the call, set on request workers: `batch` makes
  // its steps through it, each dispatched and audited as a call of its own.
  const RpcService* service = nullptr;
};

// Takes the request's params value unchanged (whatever its JSON type) and
// returns the tool result. Never throws across this boundary by design;
// dispatch still guards against a surprise.
using MethodHandler = ToolResult (*)(const Json& params, const CallContext& context);

// Adapts a tool that needs nothing but its params to a method handler.
template <ToolResult (*Tool)(const Json&)>
ToolResult ParamsOnly(const Json& params, const CallContext&) {
  return Tool(params);
}

}  // namespace tarvix

#endif  // TARVIX_TOOLS_CALL_CONTEXT_H_
