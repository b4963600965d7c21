// Host tools through the real binary: six workers at once, the command
// tool's results, and the process tools against processes the test owns.
#include <signal.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"

namespace tarvix::testing {
namespace {

class HostToolsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { daemon_ = TestDaemon::Start({.allow_exec = true}).release(); }
  static void TearDownTestSuite() { delete daemon_; }
  static TestDaemon* daemon_;
};
TestDaemon* HostToolsTest::daemon_ = nullptr;

TEST_F(HostToolsTest, RunCommandResults) {
  EXPECT_EQ(daemon_->Call("run_command", {{"command", "echo hi; echo err 1>&2; exit 3"}}),
            Json::parse(R"({"ok":true,"result":{"exit_code":3,"stderr":"err\n","stdout":"hi\n"}})"));
  EXPECT_TRUE(daemon_->Call("run_command", {{"command", "kill -9 $$"}})["result"]["exit_code"].is_null());
  EXPECT_EQ(daemon_->Call("run_command", {{"command", "sudo reboot"}})["error"],
            "command refused by safety denylist (matched: reboot)");
  EXPECT_EQ(daemon_->Call("run_command", {{"command", "sleep 5"}, {"timeout_secs", 0}})["error"],
            "command exceeded 1s and was terminated \xE2\x80\x94 it was too broad. Narrow it: "
            "search ONE folder, use an indexed search (macOS `mdfind`, Windows `where`/`dir` in a "
            "known dir, Linux `locate`), or add `-maxdepth`. A timeout does NOT mean the machine "
            "is frozen.");
}

// Seven slow calls at once: six run in parallel, the seventh starts only
// when one of them has finished. Judged from the commands' own clocks. A
// ping sent while all six workers are busy is still taken in by the front
// and answered as soon as a worker frees up, while the seventh still runs.
TEST_F(HostToolsTest, SixWorkersServeAtOnceTheSeventhWaits) {
  std::vector<std::future<Json>> calls;
  for (int i = 0; i < 7; ++i) {
    calls.push_back(std::async(std::launch::async, [] {
      return daemon_->Call("run_command",
                           {{"command", "date +%s%N; sleep 1.5; date +%s%N"}, {"timeout_secs", 20}});
    }));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  auto ping = std::async(std::launch::async, [] {
    const Json reply = daemon_->Call("ping");
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::pair{reply, now.tv_sec * 1000000000LL + now.tv_nsec};
  });
  std::vector<std::pair<long long, long long>> spans;  // start, end in ns
  for (auto& call : calls) {
    const Json reply = call.get();
    ASSERT_EQ(reply["ok"], true) << reply.dump();
    const std::string out = reply["result"]["stdout"];
    const size_t nl = out.find('\n');
    spans.emplace_back(std::stoll(out.substr(0, nl)), std::stoll(out.substr(nl + 1)));
  }
  std::sort(spans.begin(), spans.end());
  long long first_end = spans[0].second;
  for (int i = 0; i < 6; ++i) first_end = std::min(first_end, spans[i].second);
  for (int i = 0; i < 6; ++i) EXPECT_LT(spans[i].first, first_end) << "call " << i << " waited";
  EXPECT_GE(spans[6].first, first_end) << "the seventh ran beside six others";
  const auto [pong, answered] = ping.get();
  EXPECT_EQ(pong["ok"], true) << pong.dump();
  EXPECT_GE(answered, first_end) << "the ping ran beside six commands";
  EXPECT_LT(answered, spans[6].second) << "the ping waited for the seventh command";
}

TEST_F(HostToolsTest, KillProcessEndsAChildOfTheTest) {
  const pid_t child = fork();
  if (child == 0) {
    pause();
    _exit(0);
  }
  const Json reply = daemon_->Call("kill_process", {{"pid", child}});
  EXPECT_EQ(reply, Json::parse(R"({"ok":true,"result":{"killed":true,"pid":)" +
                               std::to_string(child) + "}}"));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(daemon_->Call("kill_process", {{"pid", child}})["error"],
            "no such process: " + std::to_string(child));
  EXPECT_EQ(daemon_->Call("kill_process", {{"pid", 0}})["error"], "no such process: 0");
  EXPECT_EQ(daemon_->Call("kill_process", {{"pid", "1"}})["error"], "missing param: pid");
}

TEST_F(HostToolsTest, ListProcessesIsSortedByMemoryAndLimited) {
  const Json three = daemon_->Call("list_processes", {{"limit", 3}})["result"]["processes"];
  ASSERT_EQ(three.size(), 3u);
  EXPECT_GE(three[0]["mem_bytes"].get<uint64_t>(), three[1]["mem_bytes"].get<uint64_t>());
  EXPECT_GE(three[1]["mem_bytes"].get<uint64_t>(), three[2]["mem_bytes"].get<uint64_t>());
  for (const Json& entry : three) {
    EXPECT_EQ(entry.size(), 4u);
    EXPECT_TRUE(entry["cpu"].is_number() || entry["cpu"].is_null());
    EXPECT_TRUE(entry["name"].is_string());
  }
  EXPECT_EQ(daemon_->Call("list_processes", {{"limit", 0}})["result"]["processes"], Json::array());
  const Json all = daemon_->Call("list_processes", {{"limit", 100000}})["result"]["processes"];
  const bool has_daemon = std::any_of(all.begin(), all.end(), [](const Json& e) {
    return e["pid"] == static_cast<uint64_t>(daemon_->pid());
  });
  EXPECT_TRUE(has_daemon);
  const Json info = daemon_->Call("get_system_info", "ignored")["result"];
  EXPECT_EQ(info["os"], "Linux");
  EXPECT_EQ(info.size(), 9u);
}

TEST(ReadOnlyHostToolsTest, MutatingToolsAreRefusedBeforeParams) {
  auto daemon = TestDaemon::Start();
  for (const char* method : {"run_command", "write_file", "kill_process", "input"}) {
    EXPECT_EQ(daemon->Call(method, "not an object")["error"],
              std::string(method) + " is disabled (read-only mode; start with --allow-exec)");
  }
  EXPECT_EQ(daemon->Call("list_dir", "a string")["error"], "missing param: path");
}

}  // namespace
}  // namespace tarvix::testing
