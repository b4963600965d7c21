#include "daemon/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

EnvLookup FakeEnv(std::map<std::string, std::string> vars) {
  return [vars = std::move(vars)](const char* name) -> std::optional<std::string> {
    auto it = vars.find(name);
    if (it == vars.end()) return std::nullopt;
    return it->second;
  };
}

DaemonConfig Parse(std::vector<std::string> args) {
  DaemonConfig config;
  ApplyCommandLine(args, &config);
  return config;
}

TEST(CommandLineTest, DefaultsWithoutArguments) {
  const DaemonConfig config = Parse({});
  EXPECT_EQ(config.port, 8765);
  EXPECT_FALSE(config.allow_exec);
  EXPECT_FALSE(config.parent_pid.has_value());
  EXPECT_EQ(config.token, "zed-quota");
}

TEST(CommandLineTest, PortValues) {
  EXPECT_EQ(Parse({"--port", "9000"}).port, 9000);
  EXPECT_EQ(Parse({"--port", "+9000"}).port, 9000);
  EXPECT_EQ(Parse({"--port", "08080"}).port, 8080);
  EXPECT_EQ(Parse({"--port", "0"}).port, 0);
  EXPECT_EQ(Parse({"--port", "65535"}).port, 65535);
  for (const char* bad : {"abc", "65536", "-1", "", "+", "-", "++1", " 1", "1 ", "9000x"}) {
    EXPECT_EQ(Parse({"--port", "1234", "--port", bad}).port, 8765) << bad;
  }
  EXPECT_EQ(Parse({"--port", "9000", "--port", "x"}).port, 8765);
  EXPECT_EQ(Parse({"--port", "9000", "--port"}).port, 9000);  // last without value: kept
}

TEST(CommandLineTest, ParentPidValues) {
  EXPECT_EQ(Parse({"--parent-pid", "4294967295"}).parent_pid, 4294967295u);
  EXPECT_EQ(Parse({"--parent-pid", "+12"}).parent_pid, 12u);
  EXPECT_FALSE(Parse({"--parent-pid", "4294967296"}).parent_pid.has_value());
  EXPECT_FALSE(Parse({"--parent-pid", "x"}).parent_pid.has_value());
  EXPECT_FALSE(Parse({"--parent-pid", "5", "--parent-pid", "-5"}).parent_pid.has_value());
}

TEST(CommandLineTest, ValuesAreConsumedVerbatimAndUnknownsSkipped) {
  const DaemonConfig taken = Parse({"--token", "--allow-exec"});
  EXPECT_EQ(taken.token, "--allow-exec");
  EXPECT_FALSE(taken.allow_exec);

  const DaemonConfig ignored = Parse({"--help", "-p", "9000", "--port=9000", "--ALLOW-EXEC"});
  EXPECT_EQ(ignored.port, 8765);
  EXPECT_FALSE(ignored.allow_exec);

  const DaemonConfig later = Parse({"--token", "a", "--audit", "/x", "--token", "b", "--allow-exec"});
  EXPECT_EQ(later.token, "b");
  EXPECT_EQ(later.audit_path, "/x");
  EXPECT_TRUE(later.allow_exec);

  // A value that is not UTF-8 text is consumed and ignored.
  const DaemonConfig binary = Parse({"--token", "ok", "--token", "\xFF", "--allow-exec"});
  EXPECT_EQ(binary.token, "ok");
  EXPECT_TRUE(binary.allow_exec);
}

TEST(StateDirectoryTest, FallbackOrder) {
  EXPECT_EQ(StateDirectory(FakeEnv({{"XDG_STATE_HOME", "/x/"}, {"HOME", "/h"}})), "/x//Tarvix");
  EXPECT_EQ(StateDirectory(FakeEnv({{"XDG_STATE_HOME", ""}})), "/Tarvix");
  EXPECT_EQ(StateDirectory(FakeEnv({{"HOME", "/h"}})), "/h/.local/state/Tarvix");
  EXPECT_EQ(StateDirectory(FakeEnv({{"XDG_STATE_HOME", "/x\xFF"}, {"HOME", "/h"}})),
            "/h/.local/state/Tarvix");
  EXPECT_EQ(StateDirectory(FakeEnv({{"TMPDIR", "/t/"}})), "/t/Tarvix");
  EXPECT_EQ(StateDirectory(FakeEnv({{"TMPDIR", "/t"}})), "/t/Tarvix");
  EXPECT_EQ(StateDirectory(FakeEnv({{"HOME", "\xFF"}, {"TMPDIR", "/t\xFF"}})),
            "/t\xEF\xBF\xBD/Tarvix");
  EXPECT_EQ(StateDirectory(FakeEnv({})), "/tmp/Tarvix");
}

TEST(LoadConfigTest, EnvironmentTokenWinsAndStateDirectoryIsPrivate) {
  const std::string base =
      std::filesystem::temp_directory_path() / ("tarvix-config-" + std::to_string(getpid()));
  std::filesystem::remove_all(base);
  const DaemonConfig config =
      LoadConfig({"--token", "cli", "--audit", "/elsewhere/a.jsonl"},
                 FakeEnv({{"XDG_STATE_HOME", base + "/deep/state"}, {"TARVIX_AGENTD_TOKEN", ""}}));
  EXPECT_EQ(config.token, "");
  EXPECT_EQ(config.audit_path, "/elsewhere/a.jsonl");
  struct stat st;
  ASSERT_EQ(stat((base + "/deep/state/Tarvix").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  const DaemonConfig defaults = LoadConfig({}, FakeEnv({{"XDG_STATE_HOME", base}}));
  EXPECT_EQ(defaults.audit_path, base + "/Tarvix/agentd-audit.jsonl");
  EXPECT_EQ(LoadConfig({"--token", "cli"}, FakeEnv({{"XDG_STATE_HOME", base},
                                                    {"TARVIX_AGENTD_TOKEN", "env"}}))
                .token,
            "env");
  // A token variable that is not text counts as unset.
  EXPECT_EQ(LoadConfig({"--token", "cli"}, FakeEnv({{"XDG_STATE_HOME", base},
                                                    {"TARVIX_AGENTD_TOKEN", "\xC3"}}))
                .token,
            "cli");
  std::filesystem::remove_all(base);
}

TEST(AcceptedTokensTest, SplitTrimAndDropDefault) {
  EXPECT_EQ(AcceptedTokens(" first ,second,, zed-quota ,\tfirst"),
            (std::vector<std::string>{"first", "second", "first"}));
  EXPECT_TRUE(AcceptedTokens("zed-quota").empty());
  EXPECT_TRUE(AcceptedTokens(" , ,, ").empty());
  EXPECT_TRUE(AcceptedTokens("").empty());
  // Unicode white space (no-break space, ideographic space) is trimmed too;
  // inner spaces stay.
  EXPECT_EQ(AcceptedTokens("\xC2\xA0tok en\xE3\x80\x80"), (std::vector<std::string>{"tok en"}));
  EXPECT_EQ(AcceptedTokens("Zed-quota"), (std::vector<std::string>{"Zed-quota"}));
}

TEST(BannerTest, ModesAndAddress) {
  DaemonConfig config;
  config.audit_path = "/a/agentd-audit.jsonl";
  EXPECT_EQ(Banner(config),
            "tarvix-agentd listening on http://127.0.0.1:8765  (mode: read-only, audit: "
            "/a/agentd-audit.jsonl)\n");
  config.allow_exec = true;
  config.port = 0;
  EXPECT_EQ(Banner(config),
            "tarvix-agentd listening on http://127.0.0.1:0  (mode: MUTATING ENABLED, audit: "
            "/a/agentd-audit.jsonl)\n");
}

}  // namespace
}  // namespace tarvix
