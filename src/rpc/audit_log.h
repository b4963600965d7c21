// The append-only audit log: one JSON Lines record per dispatched call.
#ifndef TARVIX_RPC_AUDIT_LOG_H_
#define TARVIX_RPC_AUDIT_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "json/json.h"

namespace tarvix {

// The record's "arg": a copy of the params member `key` (the method's audit
// key in the method registry: "path", "command", "pid"), or null when `key`
// is empty, params is not an object or lacks the member.
Json AuditTarget(std::string_view key, const Json& params);

// The record line, line feed included: {"arg","error","method","ok","ts"}.
std::string AuditLine(std::string_view method, const Json& arg, const ToolResult& result,
                      uint64_t unix_seconds);

// Whole seconds since the epoch by the system clock; 0 before 1970.
uint64_t UnixSecondsNow();

// Appends one record to `path` with a single write on a descriptor opened
// for this record alone (O_APPEND, O_NONBLOCK, created 0600); appends from
// the daemon's workers are serialised, so lines never interleave. Records
// stay whole lines: a record torn by a short write (disk full, a FIFO
// whose reader lags) is ended with a line feed, at once or, when the file
// takes nothing more, at the start of the next record to that file. Never
// blocks on the file. Failures are silent by design: the call's reply does
// not depend on the log. Thread-safe.
void AppendAuditRecord(const std::string& path, std::string_view method, const Json& arg,
                       const ToolResult& result);

}  // namespace tarvix

#endif  // TARVIX_RPC_AUDIT_LOG_H_
