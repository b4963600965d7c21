// The process and system tools (get_system_info, list_processes,
// kill_process) with their snapshot source made explicit.
//
// The entry points of host_tools.h call these with ProcessInfo::CreateFull;
// tests pass a source of fake snapshots. Each call takes exactly one
// snapshot from the source and drops it before returning.
#ifndef TARVIX_TOOLS_HOST_SYSTEM_TOOLS_H_
#define TARVIX_TOOLS_HOST_SYSTEM_TOOLS_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "json/json.h"
#include "platform/process_info.h"

namespace tarvix {

// Builds a full snapshot (process table, memory, processors).
using SnapshotSource = std::function<std::unique_ptr<ProcessInfo>()>;

// Entries list_processes returns when `limit` is absent.
inline constexpr uint64_t kDefaultProcessLimit = 25;

// Whole seconds between `boot_seconds` (0 when unknown) and `now_seconds`,
// both since the epoch: 0 when negative or not a number, 2^64 - 1 beyond
// that, otherwise the difference with its fraction dropped.
uint64_t UptimeSeconds(std::optional<uint64_t> boot_seconds, double now_seconds);

// The nine host facts; params are ignored. Never fails.
ToolResult GetSystemInfoFrom(const SnapshotSource& source);

// The `limit` processes with the most resident memory, largest first,
// equal sizes in table order. Never fails.
ToolResult ListProcessesFrom(const SnapshotSource& source, const Json& params);

// SIGKILL for one process of a fresh snapshot. In read-only mode refuses
// before reading params or taking a snapshot; refuses the daemon's own pid
// ("kill_process refused: pid N is tarvix-agentd itself") before any
// snapshot, so nothing is sent.
ToolResult KillProcessFrom(const SnapshotSource& source, const Json& params);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_HOST_SYSTEM_TOOLS_H_
