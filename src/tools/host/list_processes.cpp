#include <algorithm>
#include <cmath>
#include <vector>

#include "json/params.h"
#include "tools/host/host_tools.h"
#include "tools/host/system_tools.h"

namespace tarvix {
namespace {

Json ProcessJson(const ProcessEntry& entry) {
  // The usage is kept in single precision; widening it keeps its exact
  // value (12.3f is written 12.300000190734863).
  const Json cpu = std::isfinite(entry.cpu_percent) ? Json(static_cast<double>(entry.cpu_percent))
                                                    : Json(nullptr);
  return Json{
      {"cpu", cpu}, {"mem_bytes", entry.resident_bytes}, {"name", entry.name}, {"pid", entry.pid}};
}

}  // namespace

ToolResult ListProcessesFrom(const SnapshotSource& source, const Json& params) {
  const uint64_t limit = UnsignedParam(params, "limit").value_or(kDefaultProcessLimit);

  // Processor usage is measured between the snapshot's pass over the table
  // and this second pass, with no pause in between. A pause would not buy
  // precision at a price worth paying: the kernel counts processor time in
  // clock ticks (10 ms), so any pause short enough to keep this call
  // cheaper than running ps is still below one tick, while every
  // millisecond of it is latency for the caller. Two back-to-back passes
  // give each process an interval of one pass; the figure is coarse (a
  // busy process shows 0 or a multiple of one tick per interval) but not
  // biased.
  const std::unique_ptr<ProcessInfo> snapshot = source();
  snapshot->RefreshProcesses();

  const std::vector<ProcessEntry>& table = snapshot->processes();
  std::vector<const ProcessEntry*> order;
  order.reserve(table.size());
  for (const ProcessEntry& entry : table) order.push_back(&entry);
  std::stable_sort(order.begin(), order.end(), [](const ProcessEntry* a, const ProcessEntry* b) {
    return a->resident_bytes > b->resident_bytes;
  });

  const size_t keep = static_cast<size_t>(std::min<uint64_t>(limit, order.size()));
  Json processes = Json::array();
  for (size_t i = 0; i < keep; ++i) processes.push_back(ProcessJson(*order[i]));
  return Json{{"processes", std::move(processes)}};
}

ToolResult ListProcesses(const Json& params) {
  return ListProcessesFrom(&ProcessInfo::CreateFull, params);
}

}  // namespace tarvix
