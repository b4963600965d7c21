// Raw bytes into the real HTTP front: a connection over a socket pair
// through Beast's parser, the front's limits and its state machine, then
// body decoding, dispatch (fake tools), the envelope and the audit line,
// and the reply back over the same connection.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "json/params.h"
#include "rpc/audit_log.h"
#include "rpc/dispatch.h"
#include "rpc/http_server.h"

namespace {

using tarvix::Json;
using tarvix::ToolResult;

using tarvix::CallContext;

ToolResult Echo(const Json& params, const CallContext&) { return Json{{"params", params}}; }
ToolResult Reads(const Json& params, const CallContext&) {
  const std::string* path = tarvix::StringParam(params, "path");
  if (path == nullptr) return tarvix::Error(tarvix::MissingParam("path"));
  return Json{{"path", *path}, {"n", tarvix::UnsignedParam(params, "max_bytes").value_or(0)}};
}

constexpr auto kAny = tarvix::ModeNeeded::kAny;
constexpr auto kWorker = tarvix::RunsOn::kWorker;
constexpr auto kHost = tarvix::Lane::kHost;
constexpr tarvix::MethodEntry kFakeTools[] = {
    {"ping", kAny, kWorker, kHost, "", tarvix::Ping},
    {"echo", kAny, kWorker, kHost, "", Echo},
    {"read_file", kAny, kWorker, kHost, "path", Reads},
    {"run_command", tarvix::ModeNeeded::kExecMode, kWorker, kHost, "command", Echo},
};

tarvix::HttpServer& Server() {
  static const tarvix::Authenticator auth({"secret", "other"});
  static tarvix::HttpServerLimits limits = [] {
    tarvix::HttpServerLimits l;
    l.body_bytes = 1 << 16;
    l.body_budget = 1 << 17;
    return l;
  }();
  // Never started: the fuzzer runs the I/O handlers itself.
  static tarvix::HttpServer* server = tarvix::HttpServer::Create(0, &auth, limits)->release();
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tarvix::HttpServer& server = Server();
  // The fake table has no input-loop method, so nothing is ever sent here.
  static const tarvix::InputChannel::Sender input(std::make_shared<tarvix::InputChannel>());
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) return 0;
  const int buffer = 1 << 20;
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  server.Adopt(pair[0]);
  size_t sent = 0;
  bool eof_sent = false;
  char sink[4096];
  // Feed the input, serve what it asks for, read what comes back, until
  // the server closes its end or nothing moves any more.
  for (int idle_rounds = 0; idle_rounds < 3;) {
    bool moved = false;
    if (sent < size) {
      const ssize_t n = send(pair[1], data + sent, size - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        moved = true;
      }
    } else if (!eof_sent) {
      shutdown(pair[1], SHUT_WR);
      eof_sent = true;
      moved = true;
    }
    if (server.Poll() > 0) moved = true;
    while (std::optional<tarvix::PendingRequest> request = server.TryReceive()) {
      tarvix::Result<tarvix::RpcCall> call = tarvix::DecodeBody(request->body());
      std::string reply = R"({"error":"bad body","ok":false})";
      if (call) {
        ToolResult result = tarvix::Dispatch(kFakeTools, call->method, call->params, false, input);
        const tarvix::MethodEntry* entry = tarvix::FindMethod(kFakeTools, call->method);
        const std::string line = tarvix::AuditLine(
            call->method, tarvix::AuditTarget(entry ? entry->audit_key : "", call->params),
            result, 1);
        reply = tarvix::ToJsonText(tarvix::Envelope(std::move(result)));
        if (line.empty() || line.back() != '\n') __builtin_trap();
      }
      server.Respond(std::move(*request), call ? 200 : 400, std::move(reply));
      moved = true;
    }
    ssize_t got;
    while ((got = recv(pair[1], sink, sizeof sink, MSG_DONTWAIT)) > 0) moved = true;
    if (got == 0 && eof_sent) break;  // the server closed its end
    idle_rounds = moved ? 0 : idle_rounds + 1;
  }
  close(pair[1]);
  server.Poll();  // lets the server see the close and free the connection
  return 0;
}
