#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <limits>
#include <string>
#include <vector>

#include "tools/host/host_tools.h"
#include "tools/host/temp_home.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

class ReadFileTest : public TempHomeTest {
 protected:
  static std::string ErrorOf(const Json& params) {
    ToolResult result = ReadFile(params);
    return result ? "(succeeded: " + ToJsonText(*result) + ")" : result.error();
  }
};

TEST_F(ReadFileTest, ReturnsBytesContentAndExpandedPath) {
  Put(home_ + "/notes.txt", "f\xFFo");
  ToolResult result = ReadFile(Json{{"path", "~/notes.txt"}});
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(*result,
            (Json{{"bytes", 3}, {"content", "f\xEF\xBF\xBDo"}, {"path", home_ + "/notes.txt"}}));
}

TEST_F(ReadFileTest, EnforcesMaxBytesFromStatus) {
  const std::string empty = home_ + "/empty", five = home_ + "/five";
  Put(empty, "");
  Put(five, "12345");
  EXPECT_TRUE(ReadFile(Json{{"path", empty}, {"max_bytes", 0}}));
  EXPECT_EQ(ErrorOf(Json{{"path", five}, {"max_bytes", 0}}), "file too large (5 bytes > max 0)");
  EXPECT_EQ(ErrorOf(Json{{"path", five}, {"max_bytes", 4}}), "file too large (5 bytes > max 4)");
  EXPECT_TRUE(ReadFile(Json{{"path", five}, {"max_bytes", 5}}));

  // A max_bytes that is not a non-negative integer falls back to 65536.
  const std::string big = home_ + "/big";
  Put(big, std::string(65537, 'x'));
  for (const Json& bad : {Json(100.5), Json(-1), Json("100")}) {
    EXPECT_EQ(ErrorOf(Json{{"path", big}, {"max_bytes", bad}}),
              "file too large (65537 bytes > max 65536)");
  }
  Put(big, std::string(65536, 'x'));
  EXPECT_TRUE(ReadFile(Json{{"path", big}}));
}

TEST_F(ReadFileTest, ReadsOfUnsizedFilesStopOneBytePastTheLimit) {
  EXPECT_EQ(ErrorOf(Json{{"path", "/dev/zero"}, {"max_bytes", 1000}}),
            "file too large (1001 bytes > max 1000)");
  // procfs reports size 0 but has content.
  ToolResult status = ReadFile(Json{{"path", "/proc/self/status"}});
  ASSERT_TRUE(status) << status.error();
  EXPECT_GT((*status)["bytes"].get<uint64_t>(), 0u);
  EXPECT_EQ((*status)["content"].get<std::string>().rfind("Name:", 0), 0u);
  EXPECT_EQ(ErrorOf(Json{{"path", "/proc/self/status"}, {"max_bytes", 10}}),
            "file too large (11 bytes > max 10)");
}

// max_bytes above 64 MiB is clamped to 64 MiB, and messages name the
// clamped limit.
TEST_F(ReadFileTest, MaxBytesIsClampedTo64MiB) {
  constexpr uint64_t kClamp = uint64_t{64} << 20;
  const std::string fits = home_ + "/fits", over = home_ + "/over";
  for (const auto& [path, size] : {std::pair{fits, kClamp}, std::pair{over, kClamp + 1}}) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);  // sparse
    close(fd);
  }
  const std::string too_large = "file too large (67108865 bytes > max 67108864)";
  EXPECT_EQ(ErrorOf(Json{{"path", over}, {"max_bytes", std::numeric_limits<uint64_t>::max()}}),
            too_large);
  EXPECT_EQ(ErrorOf(Json{{"path", "/dev/zero"}, {"max_bytes", uint64_t{1} << 30}}), too_large);
  ToolResult whole = ReadFile(Json{{"path", fits}, {"max_bytes", kClamp + 1}});
  ASSERT_TRUE(whole) << whole.error();
  EXPECT_EQ((*whole)["bytes"], kClamp);
}

TEST_F(ReadFileTest, ErrorTexts) {
  EXPECT_EQ(ErrorOf(Json{{"path", home_}}), "read failed: Is a directory (os error 21)");
  EXPECT_EQ(ErrorOf(Json{{"path", home_ + "/nope"}}),
            "stat failed: No such file or directory (os error 2)");
  EXPECT_EQ(ErrorOf(Json{{"path", std::string("a\0b", 3)}}),
            "stat failed: file name contained an unexpected NUL byte");
  EXPECT_EQ(ErrorOf(Json::object()), "missing param: path");
  EXPECT_EQ(ErrorOf(Json{{"path", 7}}), "missing param: path");
  EXPECT_EQ(ErrorOf(Json::array()), "missing param: path");
  EXPECT_EQ(ErrorOf(Json{{"path", "~/x/../notes"}}), "path refused (traversal)");
}

TEST_F(ReadFileTest, ScreensWhereLinksAndRelativePathsLead) {
  fs::create_directories(home_ + "/.ssh");
  fs::create_directories(home_ + "/.aws");
  Put(home_ + "/.ssh/id_rsa", "PRIVATE");
  Put(home_ + "/.aws/credentials", "SECRET");
  fs::create_symlink(home_ + "/.ssh/id_rsa", home_ + "/work/key");
  fs::create_symlink("../.ssh", home_ + "/work/dotdir");
  EXPECT_EQ(ErrorOf(Json{{"path", home_ + "/work/key"}}), "path refused (sensitive)");
  EXPECT_EQ(ErrorOf(Json{{"path", home_ + "/work/dotdir/id_rsa"}}), "path refused (sensitive)");
  fs::current_path(home_);
  EXPECT_EQ(ErrorOf(Json{{"path", ".aws/credentials"}}), "path refused (sensitive)");

  Put(home_ + "/notes.txt", "fine");
  fs::create_symlink(home_ + "/notes.txt", home_ + "/work/notes-link");
  ToolResult linked = ReadFile(Json{{"path", "~/work/notes-link"}});
  ASSERT_TRUE(linked) << linked.error();
  EXPECT_EQ((*linked)["content"], "fine");
  EXPECT_EQ((*linked)["path"], home_ + "/work/notes-link");
}

// A FIFO never holds a worker: without a writer it ends at once, with a
// silent writer after a short quiet period, and six such reads at once all
// finish.
TEST_F(ReadFileTest, FifosReturnPromptly) {
  const std::string fifo = home_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto read = std::async(std::launch::async, [&] { return ReadFile(Json{{"path", fifo}}); });
  if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    close(open(fifo.c_str(), O_WRONLY));  // unblock the reader so the test can end
    FAIL() << "read_file blocked on a FIFO without a writer";
  }
  ToolResult no_writer = read.get();
  ASSERT_TRUE(no_writer) << no_writer.error();
  EXPECT_EQ((*no_writer)["bytes"], 0);

  const int writer = open(fifo.c_str(), O_RDWR | O_CLOEXEC);  // holds a write end open
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, "hello", 5), 5);
  ToolResult buffered = ReadFile(Json{{"path", fifo}});
  ASSERT_TRUE(buffered) << buffered.error();
  EXPECT_EQ((*buffered)["content"], "hello");

  const auto start = Clock::now();
  std::vector<std::future<ToolResult>> reads;
  for (int i = 0; i < 6; ++i) {
    reads.push_back(std::async(std::launch::async, [&] {
      return ReadFile(Json{{"path", fifo}});
    }));
  }
  for (auto& r : reads) EXPECT_TRUE(r.get());
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  close(writer);
}

}  // namespace
}  // namespace tarvix
