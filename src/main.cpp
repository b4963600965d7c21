// tarvix-agentd: start-up wiring and the main-thread input loop.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "daemon/config.h"
#include "daemon/parent_watchdog.h"
#include "daemon/secret_scrub.h"
#include "daemon/shutdown_signals.h"
#include "platform/allocator.h"
#include "platform/file_limit.h"
#include "platform/signal_state.h"
#include "rpc/dispatch.h"
#include "rpc/http_server.h"
#include "rpc/input_channel.h"
#include "rpc/intake.h"
#include "rpc/worker_lane.h"
#include "tools/desktop/input_session.h"
#include "tools/host/protected_files.h"

namespace tarvix {
namespace {

constexpr int kRequestWorkers = 6;
// Desktop calls wait on the display server and accessibility peers, which
// can stall; the rest of the workers stay free for host methods.
constexpr size_t kDesktopWorkers = 4;

// An accepted request with its decoded call, as the desktop lane parks it.
struct LaneCall {
  PendingRequest request;
  RpcCall call;
};
using DesktopLane = WorkerLane<LaneCall>;

void WriteStderr(const std::string& text) { fwrite(text.data(), 1, text.size(), stderr); }

// One request worker: takes complete requests until the server stops.
// The service answers and audits every fault of a call itself, so a worker
// never dies of one.
void ServeRequests(std::shared_ptr<HttpServer> server, std::shared_ptr<const RpcService> service,
                   std::shared_ptr<DesktopLane> desktop) {
  const auto answer = [&](LaneCall& call) {
    server->Respond(std::move(call.request), 200,
                    service->Call(call.call.method, call.call.params));
  };
  while (std::optional<PendingRequest> request = server->Receive()) {
    std::variant<RpcCall, DirectReply> decoded = service->Decode(request->body());
    if (auto* reply = std::get_if<DirectReply>(&decoded)) {
      server->Respond(std::move(*request), reply->status, std::move(reply->body));
      continue;
    }
    LaneCall call{std::move(*request), std::move(std::get<RpcCall>(decoded))};
    if (service->LaneOf(call.call) == Lane::kDesktop) {
      desktop->Enter(std::move(call), answer);
    } else {
      answer(call);
    }
  }
}

// Performs input-loop calls one at a time, in arrival order, until every
// worker is gone. A fault outside the handler's own error handling is
// answered; the waiting worker audits it.
void RunInputLoop(InputChannel& channel, bool exec_mode) {
  InputSession session;
  while (true) {
    // While a button is held the loop wakes to release it after the idle
    // time, or at once for a shutdown.
    const std::optional<std::chrono::steady_clock::time_point> wake = session.held.WakeAt();
    bool timed_out = false;
    std::optional<InputRequest> request =
        wake ? channel.Receive(*wake, &timed_out) : channel.Receive();
    if (timed_out) {
      session.held.ReleaseIfDue();
      continue;
    }
    if (!request) break;
    ToolResult result = Error(kInternalError);
    try {
      result = RunInputRequest(*request, exec_mode, session);
    } catch (...) {
      result = Error(kInternalError);
    }
    request->reply.Send(std::move(result));  // a worker that stopped waiting drops it
  }
  session.held.ReleaseAll();
}

int Main(int argc, char** argv) {
  ResetInheritedSignalState();
  HandleShutdownSignals();
  signal(SIGPIPE, SIG_IGN);
  TuneAllocator();
  RaiseOpenFileLimit();

  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const auto config = std::make_shared<const DaemonConfig>(LoadConfig(args, ProcessEnv));
  ScrubTokenFromProcess(argc, argv);
  SetProtectedFiles({config->audit_path});
  if (config->parent_pid) StartParentWatchdog(*config->parent_pid);

  const std::string address = ListenAddress(config->port);
  auto auth = std::make_shared<const Authenticator>(AcceptedTokens(config->token));
  Result<std::unique_ptr<HttpServer>> created = HttpServer::Create(config->port, auth.get());
  if (!created) {
    WriteStderr("tarvix-agentd: failed to bind " + address + ": " + created.error() + "\n");
    _Exit(1);
  }
  std::shared_ptr<HttpServer> server = std::move(created).value();
  WriteStderr(Banner(*config));
  if (auth->no_tokens()) WriteStderr(kNoTokenWarning);

  auto channel = std::make_shared<InputChannel>();
  std::optional<InputChannel::Sender> first_sender(std::in_place, channel);
  auto desktop = std::make_shared<DesktopLane>(kDesktopWorkers);
  server->Start();
  for (int i = 0; i < kRequestWorkers; ++i) {
    auto service = std::make_shared<const RpcService>(DaemonMethodTable(), config->allow_exec,
                                                      config->audit_path, *first_sender);
    std::thread(ServeRequests, server, std::move(service), desktop).detach();
  }
  // Without the first thread's own sender the channel reports the end once
  // every worker is gone.
  first_sender.reset();
  if (config->allow_exec) RestoreInputLeftovers();
  RunInputLoop(*channel, config->allow_exec);
  // Detached threads may still hold the server; end without running static
  // destructors under them.
  _Exit(0);
}

}  // namespace
}  // namespace tarvix

int main(int argc, char** argv) { return tarvix::Main(argc, argv); }
