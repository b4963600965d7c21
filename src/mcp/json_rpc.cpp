#include "mcp/json_rpc.h"

#include <utility>

namespace tarvix::mcp {
namespace {

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

bool IsValidId(const Json& id) { return id.is_string() || id.is_number(); }

// The parser answers null for text that is not JSON; only the literal (in
// JSON whitespace) is the null value itself, which parses and so is merely
// not a request.
bool IsNullLiteral(std::string_view line) {
  constexpr std::string_view kWhitespace = " \t\r\n";
  const size_t first = line.find_first_not_of(kWhitespace);
  const size_t last = line.find_last_not_of(kWhitespace);
  return first != std::string_view::npos && line.substr(first, last - first + 1) == "null";
}

Incoming Invalid(Json reply) {
  Incoming incoming;
  incoming.kind = Incoming::Kind::kInvalid;
  incoming.error_reply = std::move(reply);
  return incoming;
}

}  // namespace

Incoming ClassifyLine(std::string_view line) {
  if (IsBlank(line)) return {};
  // A stray carriage return from a host that writes CRLF is whitespace to the
  // parser, so it needs no special case.
  const Json message = ParseJsonOrNull(line);
  if (message.is_null() && !IsNullLiteral(line)) {
    return Invalid(ErrorReply(nullptr, kParseError, "Parse error"));
  }
  if (!message.is_object()) {
    // Batches left JSON-RPC over MCP with 2025-06-18; none of the supported
    // versions' clients send them to a server that did not ask for them.
    return Invalid(ErrorReply(nullptr, kInvalidRequest, "Invalid Request"));
  }
  const auto id_it = message.find("id");
  const bool has_id = id_it != message.end();
  const Json reply_id = has_id && IsValidId(*id_it) ? *id_it : Json(nullptr);
  const auto version = message.find("jsonrpc");
  if (version == message.end() || *version != "2.0") {
    return Invalid(ErrorReply(reply_id, kInvalidRequest, "Invalid Request: jsonrpc must be \"2.0\""));
  }
  if (has_id && !IsValidId(*id_it)) {
    return Invalid(ErrorReply(nullptr, kInvalidRequest, "Invalid Request: id must be a string or a number"));
  }
  const auto method = message.find("method");
  if (method == message.end()) {
    if (has_id && (message.contains("result") || message.contains("error"))) {
      Incoming response;
      response.kind = Incoming::Kind::kResponse;
      response.id = *id_it;
      return response;
    }
    return Invalid(ErrorReply(reply_id, kInvalidRequest, "Invalid Request: no method"));
  }
  if (!method->is_string()) {
    return Invalid(ErrorReply(reply_id, kInvalidRequest, "Invalid Request: method must be a string"));
  }
  Incoming incoming;
  incoming.kind = has_id ? Incoming::Kind::kRequest : Incoming::Kind::kNotification;
  incoming.method = method->get<std::string>();
  if (has_id) incoming.id = *id_it;
  const auto params = message.find("params");
  incoming.params = params == message.end() ? Json::object() : *params;
  return incoming;
}

Json ResultReply(const Json& id, Json result) {
  return Json{{"id", id}, {"jsonrpc", "2.0"}, {"result", std::move(result)}};
}

Json ErrorReply(const Json& id, int code, std::string message) {
  return Json{{"error", {{"code", code}, {"message", std::move(message)}}},
              {"id", id},
              {"jsonrpc", "2.0"}};
}

Json Notification(std::string method, Json params) {
  return Json{{"jsonrpc", "2.0"}, {"method", std::move(method)}, {"params", std::move(params)}};
}

}  // namespace tarvix::mcp
