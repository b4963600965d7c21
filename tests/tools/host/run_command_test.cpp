#include "tools/host/run_command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/child_process.h"
#include "platform/file_limit.h"
#include "tools/host/command_runner.h"
#include "tools/host/host_tools.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

ToolResult Exec(const std::string& command, Json extra = Json::object()) {
  extra["command"] = command;
  return RunCommand(extra);
}

std::string OutputText(const ToolResult& result) {
  return result ? ToJsonText(*result) : "error: " + result.error();
}

std::string ErrorText(const ToolResult& result) { return result ? "(no error)" : result.error(); }

fs::path TempDir() {
  std::string pattern = (fs::temp_directory_path() / "run_command_test.XXXXXX").string();
  return mkdtemp(pattern.data());
}

std::vector<pid_t> ReadPids(const fs::path& file) {
  std::ifstream in(file);
  return {std::istream_iterator<pid_t>(in), std::istream_iterator<pid_t>()};
}

struct sigaction IgnoreAction() {
  struct sigaction action = {};
  action.sa_handler = SIG_IGN;
  return action;
}

size_t CountEntries(const char* dir) {
  return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
}

// Makes this process the reaper of orphans, so that processes whose shell
// was killed can be checked for death and reaped here.
class OrphanReaper {
 public:
  OrphanReaper() { prctl(PR_SET_CHILD_SUBREAPER, 1); }
  ~OrphanReaper() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
  // Kills `pid` if asked, then waits (bounded) for it to end; true once reaped.
  static bool Reaped(pid_t pid, bool kill_first, Clock::duration limit = seconds(3)) {
    if (kill_first) kill(pid, SIGKILL);
    for (const auto end = Clock::now() + limit; Clock::now() < end;) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
};

const char kTimeout1s[] =
    "command exceeded 1s and was terminated \u2014 it was too broad. Narrow it: search ONE "
    "folder, use an indexed search (macOS `mdfind`, Windows `where`/`dir` in a known dir, Linux "
    "`locate`), or add `-maxdepth`. A timeout does NOT mean the machine is frozen.";

TEST(RunCommandParamsTest, RefusesBeforeRunningAnything) {
  const fs::path dir = TempDir();
  const std::string touch = "touch " + (dir / "ran").string();
  for (const Json& params : {Json::object(), Json{{"command", 5}}, Json(touch), Json()}) {
    EXPECT_EQ(ErrorText(RunCommand(params)), "missing param: command");
  }
  EXPECT_EQ(ErrorText(Exec(touch + "; sudo REBOOT")),
            "command refused by safety denylist (matched: reboot)");
  EXPECT_EQ(ErrorText(Exec(touch + std::string("\0;", 2))),
            "spawn failed: file name contained an unexpected NUL byte");
  EXPECT_FALSE(fs::exists(dir / "ran"));
  fs::remove_all(dir);
}

TEST(RunCommandParamsTest, TimeLimitIsClamped) {
  EXPECT_EQ(CommandTimeLimitSecs(Json::object()), 15u);
  EXPECT_EQ(CommandTimeLimitSecs(Json{{"timeout_secs", 0}}), 1u);
  EXPECT_EQ(CommandTimeLimitSecs(Json{{"timeout_secs", 7}}), 7u);
  EXPECT_EQ(CommandTimeLimitSecs(Json{{"timeout_secs", 120}}), 120u);
  EXPECT_EQ(CommandTimeLimitSecs(Json{{"timeout_secs", UINT64_MAX}}), 120u);
  for (const Json& odd : {Json(2.5), Json("5"), Json(-1), Json(true)}) {
    EXPECT_EQ(CommandTimeLimitSecs(Json{{"timeout_secs", odd}}), 15u) << odd;
  }
  std::string expected = kTimeout1s;
  expected.replace(expected.find("1s"), 2, "120s");
  EXPECT_EQ(CommandTimeoutMessage(CommandTimeLimitSecs(Json{{"timeout_secs", 500}})), expected);
}

TEST(RunCommandTest, ReportsExitStatusAndBothStreams) {
  EXPECT_EQ(OutputText(Exec("echo hi")), R"({"exit_code":0,"stderr":"","stdout":"hi\n"})");
  EXPECT_EQ(OutputText(Exec("")), R"({"exit_code":0,"stderr":"","stdout":""})");
  EXPECT_EQ(OutputText(Exec("echo out; echo err 1>&2; exit 3")),
            R"({"exit_code":3,"stderr":"err\n","stdout":"out\n"})");
  EXPECT_EQ(OutputText(Exec("echo x; kill -9 $$")),
            R"({"exit_code":null,"stderr":"","stdout":"x\n"})");
  EXPECT_EQ(OutputText(Exec("printf 'a\\377b'")),
            "{\"exit_code\":0,\"stderr\":\"\",\"stdout\":\"a\uFFFDb\"}");
  const auto start = Clock::now();
  EXPECT_EQ(OutputText(Exec("cat")), R"({"exit_code":0,"stderr":"","stdout":""})");
  EXPECT_LT(Clock::now() - start, seconds(2));
}

TEST(RunCommandTest, DrainsBothPipesWhileTheChildWrites) {
  // Each stream is several pipe buffers long and stderr comes first: reading
  // stdout alone to its end would stall the child until the deadline.
  ToolResult result = Exec("head -c 300000 /dev/zero | tr '\\0' e >&2; head -c 300000 /dev/zero",
                           Json{{"timeout_secs", 5}});
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ((*result)["stderr"], std::string(300000, 'e'));
  EXPECT_EQ((*result)["stdout"], std::string(300000, '\0'));
}

TEST(RunCommandTest, ChildGetsCleanSignalsAndNoDaemonDescriptors) {
  // The daemon ignores SIGPIPE; a worker may have signals blocked; some
  // descriptor may lack close-on-exec. None of it may reach the command.
  const struct sigaction ignore = IgnoreAction();
  struct sigaction old_pipe = {};
  struct sigaction old_int = {};
  sigaction(SIGPIPE, &ignore, &old_pipe);
  sigaction(SIGINT, &ignore, &old_int);
  sigset_t term, old_mask;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, &old_mask);
  const int leaked = open("/dev/null", O_RDONLY);  // deliberately inheritable

  EXPECT_EQ(OutputText(Exec("yes | head -1")), R"({"exit_code":0,"stderr":"","stdout":"y\n"})");
  EXPECT_EQ(OutputText(Exec("kill -TERM $$; echo survived")),
            R"({"exit_code":null,"stderr":"","stdout":""})");
  EXPECT_EQ(OutputText(Exec("kill -INT $$; echo survived")),
            R"({"exit_code":null,"stderr":"","stdout":""})");
  EXPECT_EQ(OutputText(Exec("ls /proc/self/fd")),
            R"({"exit_code":0,"stderr":"","stdout":"0\n1\n2\n3\n"})");

  close(leaked);
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGPIPE, &old_pipe, nullptr);
}

// Commands get the open-file limit the daemon started with, not the one it
// raised for its connections.
TEST(RunCommandTest, ChildGetsTheOriginalOpenFileLimit) {
  rlimit start{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &start), 0);
  const rlimit low{256, start.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  RaiseOpenFileLimit();
  const std::string hard =
      start.rlim_max == RLIM_INFINITY ? "unlimited" : std::to_string(start.rlim_max);
  EXPECT_EQ(OutputText(Exec("ulimit -Sn; ulimit -Hn")),
            R"({"exit_code":0,"stderr":"","stdout":"256\n)" + hard + R"(\n"})");
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &start), 0);
  RaiseOpenFileLimit();  // remembers `start` again for the tests that follow
}

// A shell that closed its pipes early is waited for asleep, not polled: a
// second of waiting costs a few wake-ups, not a hundred.
TEST(RunCommandTest, WaitingForTheShellSleeps) {
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  EXPECT_EQ(OutputText(Exec("exec >&- 2>&-; sleep 1")),
            R"({"exit_code":0,"stderr":"","stdout":""})");
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_nvcsw - before.ru_nvcsw, 20);
}

// Once the shell is reaped its group id may pass to a stranger: a kill
// through the group then sends nothing.
TEST(RunCommandTest, GroupIsNotSignalledAfterTheShellIsReaped) {
  Result<std::unique_ptr<ChildProcess>> child = ChildProcess::SpawnShell("exit 0");
  ASSERT_TRUE(child) << child.error();
  const std::shared_ptr<ProcessGroup> group = (*child)->group();
  int error = 0;
  EXPECT_EQ((*child)->DrainOutput(1024, Clock::now() + seconds(5), &error),
            ChildProcess::DrainEnd::kEndOfFile);
  EXPECT_EQ((*child)->Wait(Clock::now() + seconds(5)).value(), std::optional<int>(0));
  child->reset();
  EXPECT_FALSE(group->Kill());

  child = ChildProcess::SpawnShell("sleep 5");
  ASSERT_TRUE(child) << child.error();
  EXPECT_TRUE((*child)->group()->Kill());
  EXPECT_EQ((*child)->Wait(Clock::now() + seconds(5)).value(), std::optional<int>());
}

TEST(RunCommandTest, ReportsSpawnAndWaitFailures) {
  const fs::path empty_dir = TempDir();
  const char* path = getenv("PATH");
  const std::string old_path = path != nullptr ? path : "/usr/bin:/bin";
  setenv("PATH", empty_dir.c_str(), 1);
  EXPECT_EQ(ErrorText(Exec("true")), "spawn failed: No such file or directory (os error 2)");
  setenv("PATH", old_path.c_str(), 1);
  fs::remove_all(empty_dir);

  // With SIGCHLD ignored the kernel reaps the shell itself, so the wait fails.
  const struct sigaction ignore = IgnoreAction();
  struct sigaction old = {};
  sigaction(SIGCHLD, &ignore, &old);
  EXPECT_EQ(ErrorText(Exec("true")), "command failed: No child processes (os error 10)");
  sigaction(SIGCHLD, &old, nullptr);
}

TEST(RunCommandTest, OutputCapKillsTheGroup) {
  const CommandLimits small{.time_limit = seconds(10), .output_cap = 1000};
  ToolResult at_cap = RunShellCommand("head -c 1000 /dev/zero", small);
  ASSERT_TRUE(at_cap) << at_cap.error();
  EXPECT_EQ((*at_cap)["stdout"], std::string(1000, '\0'));
  EXPECT_EQ(ErrorText(RunShellCommand("head -c 1001 /dev/zero", small)),
            CommandOutputCapMessage(1000));
  EXPECT_EQ(ErrorText(RunShellCommand("echo a; head -c 1001 /dev/zero >&2", small)),
            CommandOutputCapMessage(1000));

  // The real cap: everything up to it comes back, one byte more stops a
  // runaway writer at once, long before its deadline.
  ToolResult full = Exec("head -c 33554432 /dev/zero");
  ASSERT_TRUE(full) << full.error();
  EXPECT_EQ((*full)["stdout"].get_ref<const std::string&>().size(), 33554432u);
  full = Json();
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = Clock::now();
  EXPECT_EQ(
      ErrorText(Exec("yes", Json{{"timeout_secs", 60}})),
      "command output exceeded 33554432 bytes and was terminated \u2014 it was too broad. "
      "Narrow it: filter with grep, head or tail, or write it to a file and read part of it.");
  EXPECT_LT(Clock::now() - start, seconds(20));
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 128 * 1024);  // KiB
}

TEST(RunCommandTimeoutTest, KillsTheGroupAtTheDeadline) {
  OrphanReaper reaper;
  const fs::path dir = TempDir();
  for (const char* timeout : {"0", "1"}) {  // 0 counts as 1
    const fs::path pids = dir / timeout;
    for (const std::string tail : {"; wait", "; echo started"}) {
      const auto start = Clock::now();
      EXPECT_EQ(ErrorText(Exec("sleep 30 & echo $! > " + pids.string() + tail,
                               Json{{"timeout_secs", std::stoi(timeout)}})),
                kTimeout1s);
      EXPECT_GE(Clock::now() - start, seconds(1));
      EXPECT_LT(Clock::now() - start, seconds(3));
      for (pid_t pid : ReadPids(pids)) EXPECT_TRUE(OrphanReaper::Reaped(pid, false)) << tail;
    }
  }
  fs::remove_all(dir);
}

TEST(RunCommandTimeoutTest, EscapedChildrenDoNotPinThreadsOrDescriptors) {
  // Each command leaves a sleep in a session of its own holding both pipes.
  // Its waiter must let go of them shortly after the deadline, long before
  // the sleep ends.
  OrphanReaper reaper;
  const fs::path pids = TempDir() / "escaped";
  const std::string command = "setsid sleep 25 & echo $! >> " + pids.string();
  const CommandLimits limits{.time_limit = seconds(1), .drain_grace = seconds(1)};
  const size_t fds_before = CountEntries("/proc/self/fd");
  const size_t threads_before = CountEntries("/proc/self/task");

  constexpr int kCalls = 200, kBatch = 25;
  for (int done = 0; done < kCalls; done += kBatch) {
    std::vector<std::string> errors(kBatch);
    std::vector<std::thread> workers;
    for (int i = 0; i < kBatch; ++i) {
      workers.emplace_back([&, i] { errors[i] = ErrorText(RunShellCommand(command, limits)); });
    }
    for (auto& worker : workers) worker.join();
    for (const auto& error : errors) EXPECT_EQ(error, kTimeout1s);
  }
  const auto settle_by = Clock::now() + seconds(8);
  while (Clock::now() < settle_by && (CountEntries("/proc/self/fd") > fds_before ||
                                      CountEntries("/proc/self/task") > threads_before)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_LE(CountEntries("/proc/self/fd"), fds_before);
  EXPECT_LE(CountEntries("/proc/self/task"), threads_before);

  const std::vector<pid_t> escaped = ReadPids(pids);
  EXPECT_EQ(escaped.size(), size_t{kCalls});
  for (pid_t pid : escaped) EXPECT_TRUE(OrphanReaper::Reaped(pid, true));
  fs::remove_all(pids.parent_path());
}

}  // namespace
}  // namespace tarvix
