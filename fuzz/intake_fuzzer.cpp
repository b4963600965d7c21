// Raw bytes through Beast's request parser into routing, authentication,
// body decoding, dispatch (fake tools), the envelope and the audit line.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "json/params.h"
#include "rpc/audit_log.h"
#include "rpc/dispatch.h"
#include "rpc/intake.h"

namespace {

using tarvix::Json;
using tarvix::ToolResult;

ToolResult Echo(const Json& params, bool) { return Json{{"params", params}}; }
ToolResult Reads(const Json& params, bool) {
  const std::string* path = tarvix::StringParam(params, "path");
  if (path == nullptr) return tarvix::Error(tarvix::MissingParam("path"));
  return Json{{"path", *path}, {"n", tarvix::UnsignedParam(params, "max_bytes").value_or(0)}};
}

constexpr tarvix::MethodEntry kFakeTools[] = {
    {"ping", tarvix::Ping, false}, {"echo", Echo, false}, {"read_file", Reads, false},
    {"run_command", Echo, true},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace http = boost::beast::http;
  static const tarvix::Authenticator auth({"secret", "other"});
  http::request_parser<http::string_body> parser;
  parser.eager(true);
  parser.body_limit(1 << 20);
  boost::beast::error_code ec;
  parser.put(boost::asio::buffer(data, size), ec);
  if (!parser.is_header_done()) return 0;
  const auto& request = parser.get();
  size_t count = 0;
  std::string_view value;
  for (const auto& field : request) {
    if (boost::beast::iequals(field.name_string(), "authorization")) {
      ++count;
      value = field.value();
    }
  }
  const tarvix::Route route = tarvix::RouteRequest(request.method_string(), request.target(),
                                                   auth.Authenticate(count, value));
  // Decode whatever body arrived, accepted or not, to reach the JSON side.
  (void)route;
  tarvix::Result<tarvix::RpcCall> call = tarvix::DecodeBody(request.body());
  if (!call) return 0;
  ToolResult result = tarvix::DispatchTool(kFakeTools, call->method, call->params, false);
  const std::string line = tarvix::AuditLine(call->method, call->params, result, 1);
  const std::string envelope = tarvix::ToJsonText(tarvix::Envelope(std::move(result)));
  if (line.empty() || envelope.empty() || line.back() != '\n') __builtin_trap();
  return 0;
}
