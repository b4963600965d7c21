// One row of the method registry: everything dispatch needs to know about
// a method to gate, route, run and audit it.
#ifndef TARVIX_RPC_METHOD_ENTRY_H_
#define TARVIX_RPC_METHOD_ENTRY_H_

#include <span>
#include <string_view>

#include "tools/call_context.h"

namespace tarvix {

// Exec-mode methods are refused in read-only mode before params are read.
enum class ModeNeeded { kAny, kExecMode };

// Where the handler runs: on the request worker that took the call, or on
// the first thread's input loop (one at a time, in arrival order).
enum class RunsOn { kWorker, kInputLoop };

// Which workers a call may hold. Desktop calls wait on a display server
// or an accessibility peer that can stall; at most a few run at once, so
// host methods always find a worker.
enum class Lane { kHost, kDesktop };

struct MethodEntry {
  std::string_view name;
  ModeNeeded mode;
  RunsOn runs_on;
  Lane lane;
  // The params member recorded as the audit record's "arg"; empty for
  // methods whose "arg" is always null.
  std::string_view audit_key;
  MethodHandler handler;

  bool needs_exec_mode() const { return mode == ModeNeeded::kExecMode; }
};

// The row named exactly (byte for byte) `name`, the first in table order;
// null when there is none.
inline const MethodEntry* FindMethod(std::span<const MethodEntry> table, std::string_view name) {
  for (const MethodEntry& entry : table) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

}  // namespace tarvix

#endif  // TARVIX_RPC_METHOD_ENTRY_H_
