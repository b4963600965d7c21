#include "rpc/audit_log.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(AuditLineTest, ShapeAndTargets) {
  EXPECT_EQ(AuditLine("read_file", Json("/tmp/x"), Json("ok"), 17),
            "{\"arg\":\"/tmp/x\",\"error\":null,\"method\":\"read_file\",\"ok\":true,\"ts\":17}\n");
  EXPECT_EQ(AuditLine("run_command", Json("ls\n"),
                      Error("run_command is disabled (read-only mode; start with --allow-exec)"),
                      5),
            "{\"arg\":\"ls\\n\",\"error\":\"run_command is disabled (read-only mode; start with "
            "--allow-exec)\",\"method\":\"run_command\",\"ok\":false,\"ts\":5}\n");
  EXPECT_EQ(AuditTarget("pid", Json{{"pid", "12"}}), Json("12"));
  EXPECT_EQ(AuditTarget("path", Json{{"path", Json::array({1})}}), Json::array({1}));
  EXPECT_TRUE(AuditTarget("path", Json::object()).is_null());
  EXPECT_TRUE(AuditTarget("path", Json("path")).is_null());
  EXPECT_TRUE(AuditTarget("", Json{{"path", "/x"}, {"command", "c"}}).is_null());
}

class AuditFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "/audit-" + std::to_string(getpid());
    mkdir(dir_.c_str(), 0700);
    path_ = dir_ + "/log.jsonl";
    unlink(path_.c_str());
  }
  void TearDown() override {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  std::string dir_, path_;
};

TEST_F(AuditFileTest, NewFileIs0600AndExistingModeKept) {
  const mode_t old_mask = umask(022);
  AppendAuditRecord(path_, "ping", nullptr, Json("r"));
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  chmod(path_.c_str(), 0644);
  AppendAuditRecord(path_, "ping", nullptr, Json("r"));
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  umask(old_mask);
  const std::string text = ReadAll(path_);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

TEST_F(AuditFileTest, UnwritableTargetsAreSilent) {
  AppendAuditRecord(dir_ + "/missing/log.jsonl", "ping", {}, Json(1));
  AppendAuditRecord(dir_, "ping", {}, Json(1));  // a directory
  AppendAuditRecord("", "ping", {}, Json(1));
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  AppendAuditRecord(fifo, "ping", {}, Json(1));  // no reader: must not block
  unlink(fifo.c_str());
  struct stat st;
  EXPECT_NE(stat((dir_ + "/missing").c_str(), &st), 0);
}

TEST_F(AuditFileTest, ConcurrentAppendsNeverInterleave) {
  constexpr int kThreads = 6, kPerThread = 300;
  const std::string long_path(3000, 'p');  // lines larger than a pipe-sized chunk
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        AppendAuditRecord(path_, "read_file",
                          Json(long_path + std::to_string(t * kPerThread + i)), Json(1));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::istringstream lines(ReadAll(path_));
  std::set<std::string> seen;
  std::string line;
  while (std::getline(lines, line)) {
    const Json record = Json::parse(line, nullptr, false);
    ASSERT_TRUE(record.is_object()) << line.substr(0, 80);
    ASSERT_EQ(record.size(), 5u);
    seen.insert(record["arg"].get<std::string>());
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kPerThread));
}

// Records torn by a short write stay on their own line: the next record
// starts a fresh one, both when a FIFO's reader lags and when the file may
// not grow (disk full behaves alike).
TEST_F(AuditFileTest, TornRecordsAreEndedBeforeTheNextOne) {
  const Json long_arg(std::string(6000, 'p'));  // the record's "arg"
  const std::string torn = "{\"arg\":\"" + std::string(4096 - 8, 'p');
  // The record after a torn one: a line feed, then one whole line.
  auto expect_fresh_line = [](const std::string& text) {
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
    EXPECT_TRUE(text.starts_with("\n") && text.ends_with("\n")) << text;
    EXPECT_EQ(Json::parse(text, nullptr, false)["method"], "ping") << text;
  };
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(fcntl(reader, F_SETPIPE_SZ, 4096), 4096);  // a 6000-byte line cannot fit
  AppendAuditRecord(fifo, "read_file", long_arg, Json(1));
  std::string got(8192, '\0');
  got.resize(static_cast<size_t>(read(reader, got.data(), got.size())));
  AppendAuditRecord(fifo, "ping", nullptr, Json(1));
  std::string rest(8192, '\0');
  rest.resize(static_cast<size_t>(read(reader, rest.data(), rest.size())));
  EXPECT_EQ(got, torn);
  expect_fresh_line(rest);
  close(reader);
  unlink(fifo.c_str());

  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const sighandler_t saved_handler = signal(SIGXFSZ, SIG_IGN);
  const struct rlimit small{100, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  AppendAuditRecord(path_, "read_file", long_arg, Json(1));
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  signal(SIGXFSZ, saved_handler);
  AppendAuditRecord(path_, "ping", nullptr, Json(1));
  const std::string text = ReadAll(path_);
  EXPECT_EQ(text.substr(0, 100), torn.substr(0, 100));
  expect_fresh_line(text.substr(100));
}

}  // namespace
}  // namespace tarvix
