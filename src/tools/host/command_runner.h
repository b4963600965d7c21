// Runs one shell command line under a hard time limit and an output cap, for
// the run_command tool (which adds the mode check, the parameters and the
// denylist screen in front of it).
#ifndef TARVIX_TOOLS_HOST_COMMAND_RUNNER_H_
#define TARVIX_TOOLS_HOST_COMMAND_RUNNER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "json/json.h"

namespace tarvix {

// Per-stream output limit: enough for any output an agent can use, small
// enough that one runaway `yes` cannot exhaust the daemon's memory.
inline constexpr size_t kCommandOutputCapBytes = size_t{32} << 20;

// How long after the deadline a waiter thread keeps reading pipes that a
// process outside the killed group still holds open, before it drops them.
inline constexpr std::chrono::seconds kCommandDrainGrace{5};

struct CommandLimits {
  std::chrono::seconds time_limit{15};
  std::chrono::milliseconds drain_grace = kCommandDrainGrace;
  size_t output_cap = kCommandOutputCapBytes;
};

// "command exceeded <secs>s and was terminated — ..." (the advice to narrow
// the command and the note that the machine is not frozen).
std::string CommandTimeoutMessage(uint64_t secs);

// "command output exceeded <cap> bytes and was terminated — ..." (the advice
// to filter the output or write it to a file).
std::string CommandOutputCapMessage(size_t cap);

// Runs `sh -c command` and returns {"exit_code", "stderr", "stdout"}:
// exit_code is the shell's exit status, or null when a signal ended it; the
// outputs are complete and decoded as lossy UTF-8.
//
// Errors: "spawn failed: <error text>" when the shell cannot start;
// "command failed: <error text>" when reading its output or waiting for it
// fails; the output-cap message when either stream passes
// `limits.output_cap` (the process group is killed at once); the timeout
// message when the outcome is not complete by `limits.time_limit` (the
// process group is killed; the call does not wait for it to die).
//
// The calling thread blocks for at most the time limit. The output is read
// by a detached waiter thread that ends once the pipes close, or at the
// latest `drain_grace` after the deadline when a process that left the
// group keeps them open: it then drops the pipes, reaps the shell and ends,
// so no call pins a thread or descriptors for longer. Thread-safe.
ToolResult RunShellCommand(const std::string& command, const CommandLimits& limits);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_HOST_COMMAND_RUNNER_H_
