#include "mcp/session.h"

#include <algorithm>
#include <utility>

#include "mcp/call_result.h"
#include "mcp/json_rpc.h"
#include "mcp/tool_catalogue.h"

namespace tarvix::mcp {
namespace {

constexpr char kInstructions[] =
    "Tools of tarvix-agentd, a daemon on the user's computer: files, processes, shell commands, "
    "screenshots, the accessibility tree and mouse/keyboard input. The daemon enforces its own "
    "safety rules and records every call in an audit log; a refused call comes back as a tool "
    "error whose text says why. Mutating tools (write_file, run_command, kill_process, input) "
    "are listed only when the daemon runs with --allow-exec.";

// Structured content and top-level tool titles arrived with 2025-06-18.
bool HasStructuredContent(std::string_view version) { return version != "2025-03-26"; }

}  // namespace

Json ProgressToken(const Json& params) {
  if (!params.is_object()) return nullptr;
  const auto meta = params.find("_meta");
  if (meta == params.end() || !meta->is_object()) return nullptr;
  const auto token = meta->find("progressToken");
  if (token == meta->end() || !(token->is_string() || token->is_number())) return nullptr;
  return *token;
}

std::string McpSession::protocol_version() const {
  std::lock_guard lock(mutex_);
  return std::string(protocol_version_);
}

Json McpSession::Answer(const Json& id, std::string_view method, const Json& params) {
  if (!params.is_object()) {
    return ErrorReply(id, kInvalidParams, "Invalid params: params must be an object");
  }
  if (method == "initialize") return Initialize(id, params);
  if (method == "ping") return ResultReply(id, Json::object());
  if (method == "tools/list") return ListTools(id);
  if (method == "tools/call") return CallTool(id, params);
  return ErrorReply(id, kMethodNotFound, "Method not found: " + std::string(method));
}

Json McpSession::Initialize(const Json& id, const Json& params) {
  const auto requested = params.find("protocolVersion");
  if (requested == params.end() || !requested->is_string()) {
    return ErrorReply(id, kInvalidParams, "Invalid params: protocolVersion must be a string");
  }
  const auto supported = std::find(kProtocolVersions.begin(), kProtocolVersions.end(),
                                   requested->get<std::string>());
  const std::string_view version =
      supported != kProtocolVersions.end() ? *supported : kProtocolVersions[0];
  {
    std::lock_guard lock(mutex_);
    protocol_version_ = version;
  }
  std::string daemon_version = bridge_version_;
  DaemonReply ping = daemon_->Call("ping", Json::object());
  if (ping.answered && ping.result && ping.result->is_object()) {
    const auto reported = ping.result->find("version");
    if (reported != ping.result->end() && reported->is_string()) daemon_version = *reported;
  }
  Json server_info = {{"name", "tarvix-agentd"}, {"version", std::move(daemon_version)}};
  if (HasStructuredContent(version)) server_info["title"] = "Tarvix agent daemon";
  return ResultReply(id, {{"protocolVersion", version},
                          {"capabilities", {{"tools", {{"listChanged", false}}}}},
                          {"serverInfo", std::move(server_info)},
                          {"instructions", kInstructions}});
}

Json McpSession::ListTools(const Json& id) {
  // The daemon decides the mode; one that cannot be asked counts as
  // read-only, so no refused tool is offered.
  DaemonReply ping = daemon_->Call("ping", Json::object());
  bool exec_mode = false;
  if (ping.answered && ping.result && ping.result->is_object()) {
    const auto mutating = ping.result->find("mutating");
    exec_mode = mutating != ping.result->end() && *mutating == true;
  }
  return ResultReply(
      id, {{"tools", ToolDefinitions(exec_mode, HasStructuredContent(protocol_version()))}});
}

Json McpSession::CallTool(const Json& id, const Json& params) {
  const auto name = params.find("name");
  if (name == params.end() || !name->is_string()) {
    return ErrorReply(id, kInvalidParams, "Invalid params: name must be a string");
  }
  const std::string& tool = name->get_ref<const std::string&>();
  if (FindTool(tool) == nullptr) return ErrorReply(id, kInvalidParams, "Unknown tool: " + tool);
  const auto arguments = params.find("arguments");
  if (arguments != params.end() && !arguments->is_object()) {
    return ErrorReply(id, kInvalidParams, "Invalid params: arguments must be an object");
  }
  // An exec-mode tool on a read-only daemon is forwarded too: the daemon's
  // refusal tells the model how the daemon must be started.
  DaemonReply reply =
      daemon_->Call(tool, arguments == params.end() ? Json::object() : *arguments);
  return ResultReply(id, CallToolResult(tool, std::move(reply.result),
                                        HasStructuredContent(protocol_version())));
}

}  // namespace tarvix::mcp
