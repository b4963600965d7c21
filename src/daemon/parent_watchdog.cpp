#include "daemon/parent_watchdog.h"

#include <unistd.h>

#include <memory>
#include <thread>
#include <utility>

#include "platform/process_exit.h"
#include "platform/process_info.h"

namespace tarvix {
namespace {

bool StartedAfter(const ProcessSighting& process, std::optional<uint64_t> reference) {
  return reference && *reference != 0 && process.start_stamp != 0 &&
         process.start_stamp > *reference;
}

}  // namespace

bool SleepOnly(std::chrono::nanoseconds duration) {
  std::this_thread::sleep_for(duration);
  return false;
}

void WaitForParentToGo(uint32_t parent_pid, uint32_t self_pid, const ProcessProbe& probe,
                       std::chrono::nanoseconds interval, const ParentExitWait& wait) {
  std::optional<uint64_t> self_start;
  if (const std::optional<ProcessSighting> self = probe(self_pid)) self_start = self->start_stamp;
  std::optional<uint64_t> first_seen_start;
  for (;;) {
    if (wait(interval)) return;
    const std::optional<ProcessSighting> parent = probe(parent_pid);
    if (!parent || parent->zombie) return;
    // A recycled id: the parent ended between two checks (or before the
    // first) and the system handed its id to a newer process.
    if (StartedAfter(*parent, self_start) || StartedAfter(*parent, first_seen_start)) return;
    if (!first_seen_start || *first_seen_start == 0) first_seen_start = parent->start_stamp;
  }
}

ParentExitWait SystemParentExitWait(uint32_t pid) {
  std::shared_ptr<ProcessExitWatch> watch = ProcessExitWatch::Create(pid);
  if (!watch) return SleepOnly;
  return [watch](std::chrono::nanoseconds timeout) { return watch->WaitForExit(timeout); };
}

void StartParentWatchdog(uint32_t parent_pid, ProcessProbe probe, std::chrono::nanoseconds interval,
                         std::function<void()> on_gone,
                         std::function<ParentExitWait()> make_wait) {
  const auto self_pid = static_cast<uint32_t>(getpid());
  std::thread([parent_pid, self_pid, probe = std::move(probe), interval,
               on_gone = std::move(on_gone), make_wait = std::move(make_wait)] {
    const ParentExitWait wait = make_wait ? make_wait() : ParentExitWait(SleepOnly);
    WaitForParentToGo(parent_pid, self_pid, probe, interval, wait);
    on_gone();
  }).detach();
}

ProcessProbe SystemProcessProbe() {
  std::shared_ptr<ProcessInfo> table = ProcessInfo::CreateEmpty();
  return [table](uint32_t pid) -> std::optional<ProcessSighting> {
    if (!table->RefreshProcess(pid)) return std::nullopt;
    const ProcessEntry* entry = table->FindProcess(pid);
    // Present by the null-signal fallback only: nothing more is known.
    if (entry == nullptr) return ProcessSighting{};
    return ProcessSighting{entry->zombie, entry->start_stamp};
  };
}

void StartParentWatchdog(uint32_t parent_pid) {
  StartParentWatchdog(parent_pid, SystemProcessProbe(), kParentPollInterval, [] { _exit(0); },
                      [parent_pid] { return SystemParentExitWait(parent_pid); });
}

}  // namespace tarvix
