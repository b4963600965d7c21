// The file tools through the real binary: the read-only gate, the screens on
// links, and FIFO reads that must not hold the request workers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <vector>

#include "integration/daemon_harness.h"

namespace tarvix::testing {
namespace {

using Clock = std::chrono::steady_clock;

TEST(FileToolsEndToEnd, WriteThenReadAndListInExecMode) {
  auto d = TestDaemon::Start({.allow_exec = true});
  const std::string home = d->home();
  EXPECT_EQ(
      d->Call("write_file", Json{{"path", "~/notes.txt"}, {"content", "h\xC3\xA9llo"}}),
      (Json{{"ok", true}, {"result", {{"bytes_written", 6}, {"path", home + "/notes.txt"}}}}));
  EXPECT_EQ(d->Call("read_file", Json{{"path", "~/notes.txt"}}),
            (Json{{"ok", true},
                  {"result",
                   {{"bytes", 6}, {"content", "h\xC3\xA9llo"}, {"path", home + "/notes.txt"}}}}));
  const Json listing = d->Call("list_dir", Json{{"path", "~"}});
  ASSERT_EQ(listing["ok"], true) << listing;
  bool found = false;
  for (const Json& entry : listing["result"]["entries"]) found |= entry["name"] == "notes.txt";
  EXPECT_TRUE(found) << listing;
}

TEST(FileToolsEndToEnd, ReadOnlyRefusesWritesAndLinksAreScreened) {
  auto d = TestDaemon::Start();
  EXPECT_EQ(d->Call("write_file", Json::object()),
            (Json{{"error", "write_file is disabled (read-only mode; start with --allow-exec)"},
                  {"ok", false}}));
  std::filesystem::create_directories(d->home() + "/.ssh");
  std::ofstream(d->home() + "/.ssh/id_ed25519") << "PRIVATE";
  std::filesystem::create_symlink(d->home() + "/.ssh/id_ed25519", d->home() + "/innocent");
  EXPECT_EQ(d->Call("read_file", Json{{"path", "~/innocent"}}),
            (Json{{"error", "path refused (sensitive)"}, {"ok", false}}));
}

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

}  // namespace
}  // namespace tarvix::testing
