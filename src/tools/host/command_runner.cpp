#include "tools/host/command_runner.h"

#include <cerrno>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "base/one_shot.h"
#include "base/os_error.h"
#include "base/utf8.h"
#include "platform/child_process.h"

namespace tarvix {
namespace {

using Clock = ChildProcess::Clock;

constexpr char kEmDash[] = "\xE2\x80\x94";

// What the waiter thread hands to the request worker: the finished shell, or
// the complete error message.
struct ShellExit {
  std::optional<int> exit_code;
  std::string stdout_bytes;
  std::string stderr_bytes;
};
using ShellOutcome = Result<ShellExit>;

// Stops the group and reaps the shell after a failure that ends the call
// early: the caller gets an error either way, so nothing the command started
// should keep running.
void AbandonChild(ChildProcess& child, Clock::time_point give_up) {
  child.KillGroup();
  child.ClosePipes();
  (void)child.Wait(give_up);
}

// The waiter thread's work. nullopt when there is nobody left to tell.
std::optional<ShellOutcome> CollectChild(ChildProcess& child, Clock::time_point give_up,
                                         size_t cap) {
  int read_error = 0;
  switch (child.DrainOutput(cap, give_up, &read_error)) {
    case ChildProcess::DrainEnd::kEndOfFile:
      break;
    case ChildProcess::DrainEnd::kGaveUp:
      // Long past the deadline, so the reply has gone out and the group was
      // killed; whoever still holds the pipes left the group. Drop the
      // pipes, reap the shell and let the thread end.
      child.ClosePipes();
      (void)child.Wait(give_up);
      return std::nullopt;
    case ChildProcess::DrainEnd::kOutputCap:
      AbandonChild(child, give_up);
      return ShellOutcome(Error(CommandOutputCapMessage(cap)));
    case ChildProcess::DrainEnd::kReadFailed:
      AbandonChild(child, give_up);
      return ShellOutcome(Error("command failed: " + OsErrorText(read_error)));
  }
  Result<std::optional<int>> exit_code = child.Wait(give_up);
  if (!exit_code) return ShellOutcome(Error("command failed: " + exit_code.error()));
  return ShellOutcome(ShellExit{*exit_code, child.TakeStdout(), child.TakeStderr()});
}

void WatchChild(std::unique_ptr<ChildProcess> child, OneShotSender<ShellOutcome> sender,
                Clock::time_point give_up, size_t cap) {
  // Nothing may escape a detached thread; the child's destructor kills and
  // reaps whatever is left.
  try {
    std::optional<ShellOutcome> outcome = CollectChild(*child, give_up, cap);
    child.reset();
    if (outcome) sender.Send(std::move(*outcome));
  } catch (const std::bad_alloc&) {
    child.reset();
    sender.Send(Error("command failed: " + OsErrorText(ENOMEM)));
  } catch (...) {
    child.reset();
  }
}

}  // namespace

std::string CommandTimeoutMessage(uint64_t secs) {
  std::string out = "command exceeded ";
  out += std::to_string(secs);
  out += "s and was terminated ";
  out += kEmDash;
  out +=
      " it was too broad. Narrow it: search ONE folder, use an indexed search (macOS `mdfind`, "
      "Windows `where`/`dir` in a known dir, Linux `locate`), or add `-maxdepth`. A timeout does "
      "NOT mean the machine is frozen.";
  return out;
}

std::string CommandOutputCapMessage(size_t cap) {
  std::string out = "command output exceeded ";
  out += std::to_string(cap);
  out += " bytes and was terminated ";
  out += kEmDash;
  out +=
      " it was too broad. Narrow it: filter with grep, head or tail, or write it to a file and "
      "read part of it.";
  return out;
}

ToolResult RunShellCommand(const std::string& command, const CommandLimits& limits) {
  Result<std::unique_ptr<ChildProcess>> spawned = ChildProcess::SpawnShell(command);
  if (!spawned) return Error("spawn failed: " + spawned.error());
  // The worker keeps only the group; the child itself belongs to the waiter.
  const std::shared_ptr<ProcessGroup> group = (*spawned)->group();

  auto [sender, receiver] = MakeOneShot<ShellOutcome>();
  const Clock::time_point deadline = Clock::now() + limits.time_limit;
  try {
    std::thread(WatchChild, std::move(*spawned), std::move(sender), deadline + limits.drain_grace,
                limits.output_cap)
        .detach();
  } catch (const std::system_error& e) {
    // The thread's arguments died with it: the child was killed and reaped.
    return Error("command failed: " + OsErrorText(e.code().value()));
  }

  OneShotReceiver<ShellOutcome>::Status status;
  std::optional<ShellOutcome> outcome = receiver.ReceiveUntil(deadline, &status);
  if (!outcome) {
    // The group knows whether the waiter has reaped the shell meanwhile, in
    // which case the id may already name a stranger's group and nothing is
    // sent. A closed channel means the waiter already killed the group.
    if (status == OneShotReceiver<ShellOutcome>::Status::kTimedOut) group->Kill();
    return Error(CommandTimeoutMessage(static_cast<uint64_t>(limits.time_limit.count())));
  }
  if (!outcome->has_value()) return Error(std::move(*outcome).error());

  ShellExit& exit = outcome->value();
  Json result = Json::object();
  result["exit_code"] = exit.exit_code ? Json(*exit.exit_code) : Json(nullptr);
  result["stderr"] = LossyUtf8(std::move(exit.stderr_bytes));
  result["stdout"] = LossyUtf8(std::move(exit.stdout_bytes));
  return result;
}

}  // namespace tarvix
