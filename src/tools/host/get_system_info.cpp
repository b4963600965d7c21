#include <chrono>
#include <cmath>
#include <limits>

#include "tools/host/host_tools.h"
#include "tools/host/system_tools.h"

namespace tarvix {
namespace {

Json TextOrNull(const std::optional<std::string>& text) {
  return text ? Json(*text) : Json(nullptr);
}

}  // namespace

uint64_t UptimeSeconds(std::optional<uint64_t> boot_seconds, double now_seconds) {
  const double difference = now_seconds - static_cast<double>(boot_seconds.value_or(0));
  // Written so that NaN lands on 0 as well; 2^64 is the first double that
  // no longer fits.
  if (!(difference > 0)) return 0;
  if (difference >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(difference);
}

ToolResult GetSystemInfoFrom(const SnapshotSource& source) {
  const std::unique_ptr<ProcessInfo> snapshot = source();
  snapshot->RefreshMemory();
  snapshot->RefreshProcessors();
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  return Json{
      {"arch", snapshot->Architecture()},
      {"cpu_cores", snapshot->ProcessorCount()},
      {"hostname", TextOrNull(snapshot->HostName())},
      {"kernel", TextOrNull(snapshot->KernelRelease())},
      {"mem_total_bytes", snapshot->TotalMemoryBytes()},
      {"mem_used_bytes", snapshot->UsedMemoryBytes()},
      {"os", snapshot->OsName()},
      {"os_version", TextOrNull(snapshot->OsVersion())},
      {"uptime_secs", UptimeSeconds(snapshot->BootTime(), now)},
  };
}

ToolResult GetSystemInfo(const Json& /*params*/) {
  return GetSystemInfoFrom(&ProcessInfo::CreateFull);
}

}  // namespace tarvix
