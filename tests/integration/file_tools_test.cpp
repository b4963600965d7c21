// The file tools through the real binary: reads of pipes must not hold the
// request workers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <vector>

#include "integration/daemon_harness.h"

namespace tarvix::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Six reads of a FIFO whose writer stays silent occupy every worker for a
// moment only: a ping sent behind them is answered promptly.
TEST(FileToolsEndToEnd, SilentFifoReadsDoNotStarveOtherRequests) {
  auto d = TestDaemon::Start();
  const std::string fifo = d->home() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int writer = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  std::vector<std::future<Json>> reads;
  for (int i = 0; i < 6; ++i) {
    reads.push_back(std::async(std::launch::async, [&] {
      return d->Call("read_file", Json{{"path", fifo}});
    }));
  }
  const auto start = Clock::now();
  EXPECT_EQ(d->Call("ping")["ok"], true);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  for (auto& read : reads) {
    ASSERT_EQ(read.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(read.get(),
              (Json{{"ok", true}, {"result", {{"bytes", 0}, {"content", ""}, {"path", fifo}}}}));
  }
  close(writer);
}

// The audit log is refused to write_file under its own name, although no
// path table knows its default place, and keeps its records.
TEST(FileToolsEndToEnd, WriteFileCannotReplaceTheAuditLog) {
  auto d = TestDaemon::Start({.allow_exec = true});
  EXPECT_EQ(d->Call("ping")["ok"], true);  // creates the log
  EXPECT_EQ(d->Call("write_file", {{"path", d->default_audit_path()}, {"content", ""}}),
            (Json{{"error", "write refused (protected location)"}, {"ok", false}}));
  std::ifstream log(d->default_audit_path());
  std::string first;
  std::getline(log, first);
  EXPECT_NE(first.find(R"("method":"ping")"), std::string::npos) << first;
}

}  // namespace
}  // namespace tarvix::testing
