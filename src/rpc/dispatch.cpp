#include "rpc/dispatch.h"

#include <exception>
#include <optional>

#include "rpc/audit_log.h"
#include "rpc/batch.h"
#include "tools/desktop/capture.h"
#include "tools/desktop/clipboard.h"
#include "tools/desktop/displays.h"
#include "tools/desktop/cursor.h"
#include "tools/desktop/input_action.h"
#include "tools/desktop/key_combo.h"
#include "tools/desktop/pointer_action.h"
#include "tools/desktop/screenshot.h"
#include "tools/desktop/ui_action.h"
#include "tools/desktop/ui_snapshot.h"
#include "tools/desktop/ui_tree.h"
#include "tools/desktop/wait_for.h"
#include "tools/desktop/window_tools.h"
#include "tools/host/host_tools.h"

namespace tarvix {

const char kInternalError[] = "internal error";
const char kInternalErrorBody[] = R"({"error":"internal error","ok":false})";

namespace {

constexpr ModeNeeded kAny = ModeNeeded::kAny;
constexpr ModeNeeded kExec = ModeNeeded::kExecMode;
constexpr RunsOn kWorker = RunsOn::kWorker;
constexpr RunsOn kInputLoop = RunsOn::kInputLoop;
constexpr Lane kHost = Lane::kHost;
constexpr Lane kDesktop = Lane::kDesktop;

// The method registry. A new method is one row here plus its handler.
constexpr MethodEntry kMethods[] = {
    // name               mode   runs on     lane      audit "arg"  handler
    {"ping",              kAny,  kWorker,    kHost,    "",          Ping},
    {"get_system_info",   kAny,  kWorker,    kHost,    "",          ParamsOnly<GetSystemInfo>},
    {"list_processes",    kAny,  kWorker,    kHost,    "",          ParamsOnly<ListProcesses>},
    {"list_dir",          kAny,  kWorker,    kHost,    "path",      ParamsOnly<ListDir>},
    {"read_file",         kAny,  kWorker,    kHost,    "path",      ParamsOnly<ReadFile>},
    {"screenshot",        kAny,  kWorker,    kDesktop, "",          ParamsOnly<Screenshot>},
    {"ui_tree",           kAny,  kWorker,    kDesktop, "",          ParamsOnly<UiTree>},
    {"ui_snapshot",       kAny,  kWorker,    kDesktop, "",          ParamsOnly<UiSnapshot>},
    {"clipboard_read",    kAny,  kWorker,    kDesktop, "",          ParamsOnly<ClipboardRead>},
    {"wait_for",          kAny,  kWorker,    kDesktop, "",          ParamsOnly<WaitFor>},
    {"displays",          kAny,  kWorker,    kDesktop, "",          ParamsOnly<Displays>},
    {"capture",           kAny,  kWorker,    kDesktop, "",          ParamsOnly<Capture>},
    {"list_windows",      kAny,  kWorker,    kDesktop, "",          ParamsOnly<ListWindows>},
    // On the input loop: it reports what that loop holds.
    {"cursor",            kAny,  kInputLoop, kDesktop, "",          CursorTool},
    {"run_command",       kExec, kWorker,    kHost,    "command",   ParamsOnly<RunCommand>},
    {"write_file",        kExec, kWorker,    kHost,    "path",      ParamsOnly<WriteFile>},
    {"kill_process",      kExec, kWorker,    kHost,    "pid",       ParamsOnly<KillProcess>},
    {"input",             kExec, kInputLoop, kDesktop, "",          InputTool},
    {"ui_action",         kExec, kWorker,    kDesktop, "",          ParamsOnly<UiAction>},
    {"ui_set_value",      kExec, kWorker,    kDesktop, "",          ParamsOnly<UiSetValue>},
    {"key_combo",         kExec, kInputLoop, kDesktop, "",          KeyComboTool},
    {"pointer",           kExec, kInputLoop, kDesktop, "",          PointerTool},
    {"drag",              kExec, kInputLoop, kDesktop, "",          DragTool},
    // On a worker: the clipboard's own thread orders the writes, and a
    // write waits on the X server, which must not hold up input.
    {"clipboard_write",   kExec, kWorker,    kDesktop, "",          ParamsOnly<ClipboardWrite>},
    {"window_action",     kExec, kWorker,    kDesktop, "",          ParamsOnly<WindowActionTool>},
    // Its steps are gated one by one; it may hold its worker for long, so
    // it counts among the desktop calls whatever its steps are.
    {"batch",             kAny,  kWorker,    kDesktop, "",          Batch},
};

ToolResult Guarded(MethodHandler handler, const Json& params, const CallContext& context) {
  try {
    return handler(params, context);
  } catch (const std::exception& e) {
    return Error(std::string("internal error: ") + e.what());
  } catch (...) {
    return Error("internal error");
  }
}

ToolResult DispatchToInputLoop(const InputChannel::Sender& input, const MethodEntry& method,
                               const Json& params) {
  auto [reply_sender, reply] = MakeOneShot<ToolResult>();
  if (!input.Send(InputRequest{&method, params, std::move(reply_sender)})) {
    return Error(std::string(method.name) + " dispatch failed (main thread gone)");
  }
  std::optional<ToolResult> result = reply.Receive();
  if (!result) return Error(std::string(method.name) + " dispatch failed");
  return std::move(*result);
}

}  // namespace

std::span<const MethodEntry> DaemonMethodTable() { return kMethods; }

ToolResult Ping(const Json&, const CallContext& context) {
  return Json{{"agent", "tarvix-agentd"}, {"mutating", context.exec_mode}, {"ok", true},
              {"version", "0.1.0"}};
}

std::string ReadOnlyRefusal(std::string_view method) {
  std::string out(method);
  out += " is disabled (read-only mode; start with --allow-exec)";
  return out;
}

ToolResult Dispatch(std::span<const MethodEntry> table, std::string_view method,
                    const Json& params, bool exec_mode, const InputChannel::Sender& input,
                    const RpcService* service) {
  const MethodEntry* entry = FindMethod(table, method);
  if (entry == nullptr) return Error("unknown method: " + std::string(method));
  if (entry->needs_exec_mode() && !exec_mode) return Error(ReadOnlyRefusal(method));
  if (entry->runs_on == RunsOn::kInputLoop) return DispatchToInputLoop(input, *entry, params);
  return Guarded(entry->handler, params, CallContext{.exec_mode = exec_mode, .service = service});
}

ToolResult RunInputRequest(const InputRequest& request, bool exec_mode, InputSession& session) {
  const MethodEntry& method = *request.method;
  if (method.needs_exec_mode() && !exec_mode) return Error(ReadOnlyRefusal(method.name));
  return Guarded(method.handler, request.params,
                 CallContext{.exec_mode = exec_mode, .input_session = &session});
}

Json Envelope(ToolResult result) {
  if (result.has_value()) return Json{{"ok", true}, {"result", std::move(result).value()}};
  return Json{{"error", std::move(result).error()}, {"ok", false}};
}

RpcService::RpcService(std::span<const MethodEntry> table, bool exec_mode,
                       std::string audit_path, const InputChannel::Sender& input)
    : table_(table), exec_mode_(exec_mode), audit_path_(std::move(audit_path)), input_(input) {}

std::variant<RpcCall, DirectReply> RpcService::Decode(std::string_view body) const {
  try {
    Result<RpcCall> call = DecodeBody(body);
    if (!call) return DirectReply{400, kBadBodyBody};
    return std::move(call).value();
  } catch (...) {
    // The body could not even be decoded (out of memory): no call was made.
    return DirectReply{200, kInternalErrorBody};
  }
}

Lane RpcService::LaneOf(const RpcCall& call) const {
  const MethodEntry* entry = FindMethod(table_, call.method);
  return entry == nullptr ? Lane::kHost : entry->lane;
}

ToolResult RpcService::RunAudited(std::string_view method, const Json& params) const {
  const MethodEntry* entry = FindMethod(table_, method);
  ToolResult result = Error(kInternalError);
  try {
    result = Dispatch(table_, method, params, exec_mode_, input_, this);
  } catch (...) {
    result = Error(kInternalError);  // out of memory outside a tool
  }
  // Whatever happened above, the call reached dispatch and is audited.
  const std::string_view audit_key = entry == nullptr ? std::string_view() : entry->audit_key;
  try {
    AppendAuditRecord(audit_path_, method, AuditTarget(audit_key, params), result);
  } catch (...) {
    try {
      AppendAuditRecord(audit_path_, method, AuditTarget(audit_key, params),
                        Error(kInternalError));
    } catch (...) {
      // Not even the short record fits in memory: nothing more can be done.
    }
  }
  return result;
}

std::string RpcService::Call(std::string_view method, const Json& params) const {
  try {
    return ToJsonText(Envelope(RunAudited(method, params)));
  } catch (...) {
    return kInternalErrorBody;
  }
}

std::pair<int, std::string> RpcService::HandleBody(std::string_view body) const {
  std::variant<RpcCall, DirectReply> decoded = Decode(body);
  if (auto* reply = std::get_if<DirectReply>(&decoded)) return {reply->status, reply->body};
  const RpcCall& call = std::get<RpcCall>(decoded);
  return {200, Call(call.method, call.params)};
}

}  // namespace tarvix
