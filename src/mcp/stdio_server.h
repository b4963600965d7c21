// Runs the bridge over a pair of descriptors (standard input and output):
// newline-delimited JSON-RPC in, one message per line out.
//
// Threads: the caller's thread reads and classifies lines; a fixed pool of
// workers answers requests, so several calls are in flight at once and
// replies go out in completion order, each with its own id; one progress
// thread writes notifications/progress for long calls. All output goes
// through one writer under a mutex, so lines never interleave. A request
// the client cancels (notifications/cancelled) still runs to its end in the
// daemon, which cannot be interrupted, but gets no reply.
#ifndef TARVIX_MCP_STDIO_SERVER_H_
#define TARVIX_MCP_STDIO_SERVER_H_

#include <chrono>
#include <cstddef>

#include "mcp/session.h"

namespace tarvix::mcp {

struct StdioServerOptions {
  int workers = 8;
  // Requests read but not yet taken by a worker; reading pauses beyond it.
  size_t max_queued = 64;
  // Bytes of request lines read and not yet answered (queued or with a
  // worker); reading pauses before a line that would pass it, unless
  // nothing is held, so one line of any admitted length still goes through.
  size_t max_held_bytes = size_t{128} << 20;
  // A longer line is answered with an invalid-request error and skipped.
  // write_file content may be as large as the daemon's 64 MiB body limit.
  size_t max_line_bytes = size_t{80} << 20;
  // After input ends, how long calls already in flight may still answer.
  std::chrono::milliseconds drain = std::chrono::seconds(5);
};

// Serves until `in_fd` reaches end of file (or fails) or `out_fd` can no
// longer be written, then waits up to options.drain for calls in flight
// and returns. `session` must outlive every worker: workers still busy after
// the drain keep running detached, so the caller ends the process then.
void RunStdioServer(McpSession* session, int in_fd, int out_fd,
                    const StdioServerOptions& options = {});

}  // namespace tarvix::mcp

#endif  // TARVIX_MCP_STDIO_SERVER_H_
