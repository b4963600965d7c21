#include <unistd.h>

#include <string>

#include "json/params.h"
#include "tools/host/host_tools.h"
#include "tools/host/system_tools.h"

namespace tarvix {
namespace {

std::string NoSuchProcess(uint64_t pid) { return "no such process: " + std::to_string(pid); }

}  // namespace

ToolResult KillProcessFrom(const SnapshotSource& source, const Json& params) {
  const std::optional<uint64_t> pid = UnsignedParam(params, "pid");
  if (!pid) return Error(MissingParam("pid"));
  // 0 and ids beyond the signed 32-bit range name no single process, and
  // narrowing them would turn them into "my process group", "every process
  // I may signal" or some unrelated id. They never reach the system.
  if (*pid == 0 || *pid > kMaxProcessId) return Error(NoSuchProcess(*pid));
  // Killing the daemon would cut off this very reply and its audit record.
  if (*pid == static_cast<uint64_t>(getpid())) {
    return Error("kill_process refused: pid " + std::to_string(*pid) + " is tarvix-agentd itself");
  }

  const std::unique_ptr<ProcessInfo> snapshot = source();
  snapshot->RefreshProcesses();
  const auto id = static_cast<uint32_t>(*pid);
  if (snapshot->FindProcess(id) == nullptr) return Error(NoSuchProcess(*pid));
  const bool killed = snapshot->Kill(id);
  return Json{{"killed", killed}, {"pid", *pid}};
}

ToolResult KillProcess(const Json& params) {
  return KillProcessFrom(&ProcessInfo::CreateFull, params);
}

}  // namespace tarvix
