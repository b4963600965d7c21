// JSON-RPC 2.0 framing for the MCP bridge: one message per line of
// standard input, classified here; replies built here. Pure functions.
#ifndef TARVIX_MCP_JSON_RPC_H_
#define TARVIX_MCP_JSON_RPC_H_

#include <string>
#include <string_view>

#include "json/json.h"

namespace tarvix::mcp {

// JSON-RPC error codes the bridge answers with.
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;

// One line of input, classified.
struct Incoming {
  enum class Kind {
    kBlank,         // only whitespace: ignored
    kRequest,       // method + id: must be answered
    kNotification,  // method without id: never answered
    kResponse,      // result or error with an id: the bridge sends no requests, so ignored
    kInvalid,       // answer with `error_reply` as it stands
  };
  Kind kind = Kind::kBlank;
  Json id;             // kRequest: a string or a number, echoed unchanged
  std::string method;  // kRequest, kNotification
  Json params;         // the "params" member, or an empty object when absent
  Json error_reply;    // kInvalid: the complete error response
};

// Classifies one line (without its line feed). Text that is not one JSON
// value gives a parse error; a value that is not an object (null, a
// number, a string, an array and so a batch), a message without
// "jsonrpc": "2.0", an id that is neither a string nor a number, or a
// non-string method gives an invalid-request error carrying the id when
// one could be read.
Incoming ClassifyLine(std::string_view line);

// {"id":id,"jsonrpc":"2.0","result":result}
Json ResultReply(const Json& id, Json result);
// {"error":{"code":code,"message":message},"id":id,"jsonrpc":"2.0"}
Json ErrorReply(const Json& id, int code, std::string message);
// {"jsonrpc":"2.0","method":method,"params":params}
Json Notification(std::string method, Json params);

}  // namespace tarvix::mcp

#endif  // TARVIX_MCP_JSON_RPC_H_
