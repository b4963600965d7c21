#include "rpc/dispatch.h"

#include <exception>
#include <optional>

#include "rpc/audit_log.h"
#include "rpc/intake.h"
#include "tools/desktop/input_action.h"
#include "tools/desktop/screenshot.h"
#include "tools/desktop/ui_tree.h"
#include "tools/host/host_tools.h"

namespace tarvix {

const char kInternalError[] = "internal error";
const char kInternalErrorBody[] = R"({"error":"internal error","ok":false})";

namespace {

constexpr MethodEntry kMethods[] = {
    {"ping", Ping, false},
    {"get_system_info", GetSystemInfo, false},
    {"list_processes", ListProcesses, false},
    {"list_dir", ListDir, false},
    {"read_file", ReadFile, false},
    {"screenshot", Screenshot, false},
    {"ui_tree", UiTree, false},
    {"run_command", RunCommand, true},
    {"write_file", WriteFile, true},
    {"kill_process", KillProcess, true},
};

ToolResult Guarded(ToolFunction tool, const Json& params, bool allow_exec) {
  try {
    return tool(params, allow_exec);
  } catch (const std::exception& e) {
    return Error(std::string("internal error: ") + e.what());
  } catch (...) {
    return Error("internal error");
  }
}

}  // namespace

std::span<const MethodEntry> DaemonMethodTable() { return kMethods; }

ToolResult Ping(const Json&, bool allow_exec) {
  return Json{{"agent", "tarvix-agentd"}, {"mutating", allow_exec}, {"ok", true},
              {"version", "0.1.0"}};
}

ToolResult DispatchTool(std::span<const MethodEntry> table, std::string_view method,
                        const Json& params, bool allow_exec) {
  for (const MethodEntry& entry : table) {
    if (entry.name != method) continue;
    if (entry.needs_exec && !allow_exec) return Error(ReadOnlyRefusal(method));
    return Guarded(entry.tool, params, allow_exec);
  }
  return Error("unknown method: " + std::string(method));
}

ToolResult DispatchInput(const InputChannel::Sender& input, const Json& params,
                         bool allow_exec) {
  if (!allow_exec) return Error(ReadOnlyRefusal("input"));
  auto [reply_sender, reply] = MakeOneShot<ToolResult>();
  if (!input.Send(InputRequest{params, std::move(reply_sender)})) {
    return Error("input dispatch failed (main thread gone)");
  }
  std::optional<ToolResult> result = reply.Receive();
  if (!result) return Error("input dispatch failed");
  return std::move(*result);
}

Json Envelope(ToolResult result) {
  if (result.has_value()) return Json{{"ok", true}, {"result", std::move(result).value()}};
  return Json{{"error", std::move(result).error()}, {"ok", false}};
}

RpcService::RpcService(std::span<const MethodEntry> table, bool allow_exec,
                       std::string audit_path, const InputChannel::Sender& input)
    : table_(table),
      allow_exec_(allow_exec),
      audit_path_(std::move(audit_path)),
      input_(input) {}

std::string RpcService::Call(std::string_view method, const Json& params) const {
  ToolResult result = Error(kInternalError);
  try {
    result = method == "input" ? DispatchInput(input_, params, allow_exec_)
                               : DispatchTool(table_, method, params, allow_exec_);
  } catch (...) {
    result = Error(kInternalError);  // out of memory outside a tool
  }
  // Whatever happened above, the call reached dispatch and is audited.
  try {
    AppendAuditRecord(audit_path_, method, params, result);
  } catch (...) {
    try {
      AppendAuditRecord(audit_path_, method, params, Error(kInternalError));
    } catch (...) {
      // Not even the short record fits in memory: nothing more can be done.
    }
  }
  try {
    return ToJsonText(Envelope(std::move(result)));
  } catch (...) {
    return kInternalErrorBody;
  }
}

std::pair<int, std::string> RpcService::HandleBody(std::string_view body) const {
  std::optional<Result<RpcCall>> call;
  try {
    call.emplace(DecodeBody(body));
  } catch (...) {
    // The body could not even be decoded (out of memory): no call was made.
    return {200, kInternalErrorBody};
  }
  if (!*call) return {400, kBadBodyBody};
  return {200, Call((*call)->method, (*call)->params)};
}

}  // namespace tarvix
