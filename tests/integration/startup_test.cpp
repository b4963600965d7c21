// Start-up through the real binary: banner, warning, bind failure, modes,
// token sources, parent watchdog, loopback-only listening.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"

namespace tarvix::testing {
namespace {

constexpr char kWarning[] =
    "tarvix-agentd: WARNING \xE2\x80\x94 running with the publicly-known default token; ALL "
    "requests will be rejected. Pass a real secret via --token (or TARVIX_AGENTD_TOKEN) to "
    "enable access.\n";

std::string ExpectedBanner(const TestDaemon& daemon, const char* mode) {
  return "tarvix-agentd listening on http://127.0.0.1:" + std::to_string(daemon.port()) +
         "  (mode: " + mode + ", audit: " + daemon.default_audit_path() + ")\n";
}

TEST(StartupTest, BannerOnlyWithARealToken) {
  auto daemon = TestDaemon::Start();
  EXPECT_EQ(daemon->Stderr(), ExpectedBanner(*daemon, "read-only"));
  struct stat st;
  ASSERT_EQ(stat((daemon->home() + "/.local/state/Tarvix").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(daemon->Call("ping")["result"]["mutating"], false);
}

TEST(StartupTest, ExecModeBanner) {
  auto daemon = TestDaemon::Start({.allow_exec = true});
  EXPECT_EQ(daemon->Stderr(), ExpectedBanner(*daemon, "MUTATING ENABLED"));
  EXPECT_EQ(daemon->Call("ping")["result"]["mutating"], true);
  // Input reaches the executor (its own checks run before any backend).
  EXPECT_EQ(daemon->Call("input", Json::object())["error"], "missing param: action");
}

TEST(StartupTest, DefaultTokenWarnsAndRejectsEverything) {
  auto daemon = TestDaemon::Start({.token = std::nullopt});
  EXPECT_EQ(daemon->Stderr(), ExpectedBanner(*daemon, "read-only") + kWarning);
  EXPECT_EQ(daemon->Post(R"({"method":"ping"})", TestDaemon::AuthHeaders("zed-quota")).status, 401);
  EXPECT_EQ(daemon->Post(R"({"method":"ping"})", TestDaemon::AuthHeaders("")).status, 401);

  auto commas = TestDaemon::Start({.token = " , zed-quota ,"});
  EXPECT_NE(commas->Stderr().find(kWarning), std::string::npos);
}

TEST(StartupTest, EnvironmentTokenOverridesTheCommandLine) {
  auto daemon = TestDaemon::Start({.token = "cli", .env = {{"TARVIX_AGENTD_TOKEN", "env"}}});
  EXPECT_EQ(daemon->Post(R"({"method":"ping"})", TestDaemon::AuthHeaders("env")).status, 200);
  EXPECT_EQ(daemon->Post(R"({"method":"ping"})", TestDaemon::AuthHeaders("cli")).status, 401);

  auto empty = TestDaemon::Start({.token = "cli", .env = {{"TARVIX_AGENTD_TOKEN", ""}}});
  EXPECT_NE(empty->Stderr().find(kWarning), std::string::npos);
}

// A parent that ignores SIGCHLD and blocks every signal hands both down;
// the daemon undoes them, so its commands can still be waited for.
TEST(StartupTest, InheritedSignalStateIsReset) {
  auto daemon = TestDaemon::Start({.allow_exec = true, .hostile_signal_state = true});
  EXPECT_EQ(daemon->Call("run_command", {{"command", "echo hi"}}),
            Json::parse(R"({"ok":true,"result":{"exit_code":0,"stderr":"","stdout":"hi\n"}})"));
  std::ifstream status("/proc/" + std::to_string(daemon->pid()) + "/status");
  std::string line;
  // Only the shutdown signals stay blocked, taken by the daemon's own
  // thread, and they still end it.
  while (std::getline(status, line)) {
    if (line.starts_with("SigBlk:")) {
      EXPECT_EQ(line, "SigBlk:\t0000000000004003");  // SIGHUP, SIGINT, SIGTERM
    }
  }
  kill(daemon->pid(), SIGTERM);
  EXPECT_EQ(daemon->WaitExit(std::chrono::seconds(10)), -SIGTERM);
}

// Neither token source stays readable: not through /proc by another
// process or by read_file, not in a command's environment. The token still
// authenticates.
TEST(StartupTest, TokensAreScrubbedFromArgumentsAndEnvironment) {
  const std::string cli_token = "cli-secret-7f3a", env_token = "env-secret-91c4";
  auto daemon = TestDaemon::Start(
      {.allow_exec = true, .token = cli_token, .env = {{"TARVIX_AGENTD_TOKEN", env_token}}});
  const std::string proc = "/proc/" + std::to_string(daemon->pid());
  auto slurp = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  auto call = [&](const std::string& method, const Json& params) {
    const HttpReply reply =
        daemon->Post(ToJsonText(Json{{"method", method}, {"params", params}}),
                     TestDaemon::AuthHeaders(env_token));
    EXPECT_EQ(reply.status, 200);
    return reply.body;
  };
  const std::string cmdline = slurp(proc + "/cmdline");
  EXPECT_NE(cmdline.find(std::string("--token\0", 8)), std::string::npos);
  const std::string seen[] = {
      cmdline,
      slurp(proc + "/environ"),
      call("read_file", {{"path", "/proc/self/environ"}}),
      call("read_file", {{"path", "/proc/self/cmdline"}}),
      call("run_command", {{"command", "env; cat /proc/$PPID/environ /proc/$PPID/cmdline"}}),
  };
  for (const std::string& text : seen) {
    EXPECT_EQ(text.find(cli_token), std::string::npos) << text;
    EXPECT_EQ(text.find(env_token), std::string::npos) << text;
  }
  EXPECT_NE(seen[4].find("PATH="), std::string::npos) << seen[4];
}

TEST(StartupTest, XdgStateHomeAndAuditOption) {
  auto daemon = TestDaemon::Start({.extra_args = {"--audit", "/tmp/elsewhere.jsonl", "--help", "-p", "1"},
                                   .env = {{"XDG_STATE_HOME", "/tmp/tarvix-xdg-test/"}}});
  EXPECT_NE(daemon->Stderr().find("audit: /tmp/elsewhere.jsonl)"), std::string::npos);
  struct stat st;
  ASSERT_EQ(stat("/tmp/tarvix-xdg-test//Tarvix", &st), 0);  // still created, 0700
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  rmdir("/tmp/tarvix-xdg-test/Tarvix");
  rmdir("/tmp/tarvix-xdg-test");
}

TEST(StartupTest, BindFailureExitsWithStatusOne) {
  auto first = TestDaemon::Start();
  auto second = TestDaemon::Start({.extra_args = {"--port", std::to_string(first->port())},
                                   .pick_port = false});
  EXPECT_EQ(second->WaitExit(std::chrono::seconds(5)), 1);
  EXPECT_EQ(second->Stderr(), "tarvix-agentd: failed to bind 127.0.0.1:" +
                                  std::to_string(first->port()) +
                                  ": Address already in use (os error 98)\n");
  EXPECT_EQ(first->Call("ping")["ok"], true);
}

TEST(StartupTest, ListensOnIpv4LoopbackOnly) {
  auto daemon = TestDaemon::Start();
  const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in6 addr{};
  addr.sin6_family = AF_INET6;
  addr.sin6_addr = in6addr_loopback;
  addr.sin6_port = htons(daemon->port());
  EXPECT_NE(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(fd);
}

// Every descriptor of the daemon beyond the standard three is close-on-exec
// (checked while client connections are open), and the soft open-file limit
// was raised to the hard one.
TEST(StartupTest, DescriptorsAreCloseOnExecAndTheFileLimitIsRaised) {
  auto daemon = TestDaemon::Start({.allow_exec = true});
  std::vector<int> clients;
  for (int i = 0; i < 3; ++i) clients.push_back(ConnectLoopback(daemon->port()));
  EXPECT_EQ(daemon->Call("ping")["ok"], true);
  const std::string fdinfo = "/proc/" + std::to_string(daemon->pid()) + "/fdinfo";
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(fdinfo)) {
    const int fd = std::stoi(entry.path().filename().string());
    if (fd <= 2) continue;
    std::ifstream in(entry.path());
    std::string key, value;
    while (in >> key >> value) {
      if (key == "flags:") {
        EXPECT_NE(std::stoul(value, nullptr, 8) & 02000000, 0u) << "fd " << fd << " is inherited";
        ++checked;
        break;
      }
    }
  }
  EXPECT_GE(checked, 6);  // listener, epoll, eventfd, timers, client sockets
  std::ifstream limits("/proc/" + std::to_string(daemon->pid()) + "/limits");
  std::string line;
  while (std::getline(limits, line)) {
    if (line.rfind("Max open files", 0) != 0) continue;
    std::istringstream fields(line.substr(14));
    std::string soft, hard;
    fields >> soft >> hard;
    EXPECT_EQ(soft, hard);
  }
  for (int fd : clients) close(fd);
}

// Out of descriptors, the daemon leaves pending connections in the backlog
// and retries later instead of spinning on a ready listener; once
// descriptors free up it serves again.
TEST(StartupTest, RunningOutOfDescriptorsBacksOff) {
  auto daemon = TestDaemon::Start();
  rlimit original{};
  ASSERT_EQ(prlimit(daemon->pid(), RLIMIT_NOFILE, nullptr, &original), 0);
  const rlimit low{24, original.rlim_max};
  ASSERT_EQ(prlimit(daemon->pid(), RLIMIT_NOFILE, &low, nullptr), 0);
  std::vector<int> clients;
  for (int i = 0; i < 40; ++i) clients.push_back(ConnectLoopback(daemon->port()));
  auto cpu_ticks = [&] {
    std::ifstream stat("/proc/" + std::to_string(daemon->pid()) + "/stat");
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i) {
      if (i == 14 || i == 15) ticks += std::stol(field);
    }
    return ticks;
  };
  const long before = cpu_ticks();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  // A spinning accept loop would burn about 100 ticks in that second.
  EXPECT_LT(cpu_ticks() - before, 50);
  for (int fd : clients) close(fd);
  ASSERT_EQ(prlimit(daemon->pid(), RLIMIT_NOFILE, &original, nullptr), 0);
  EXPECT_EQ(daemon->Call("ping")["ok"], true);
}

TEST(ParentWatchdogTest, MissingParentEndsTheDaemonWithStatusZero) {
  auto daemon = TestDaemon::Start({.extra_args = {"--parent-pid", "4000000000"}});
  EXPECT_NE(daemon->Stderr().find("listening on"), std::string::npos);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(daemon->WaitExit(std::chrono::seconds(8)), 0);
  EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(ParentWatchdogTest, ParentThatEndsUnreapedCountsAsGone) {
  // The parent becomes a zombie: this test never reaps it until the end.
  const pid_t parent = fork();
  if (parent == 0) {
    pause();
    _exit(0);
  }
  auto daemon = TestDaemon::Start({.extra_args = {"--parent-pid", std::to_string(parent)}});
  EXPECT_FALSE(daemon->WaitExit(std::chrono::milliseconds(3500)).has_value());
  kill(parent, SIGKILL);
  EXPECT_EQ(daemon->WaitExit(std::chrono::seconds(6)), 0);
  waitpid(parent, nullptr, 0);
}

}  // namespace
}  // namespace tarvix::testing
