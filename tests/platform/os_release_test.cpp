#include "platform/linux/os_release.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace tarvix {
namespace {

TEST(OsReleaseValueTest, DecodesShellQuotingAndFindsOnlyTheExactKey) {
  EXPECT_EQ(OsReleaseValue("VERSION_ID=12\n", "VERSION_ID"), "12");
  EXPECT_EQ(OsReleaseValue("VERSION_ID='3.19'\r\n", "VERSION_ID"), "3.19");
  EXPECT_EQ(OsReleaseValue(R"(N="a \"b\" \\ \$c \d")", "N"), R"(a "b" \ $c \d)");
  EXPECT_EQ(OsReleaseValue(R"(N='x\"y')", "N"), R"(x\"y)");
  EXPECT_EQ(OsReleaseValue("N=a\xff", "N"), "a\xEF\xBF\xBD");
  const char text[] = "# VERSION_ID=0\nVERSION_IDX=1\nXVERSION_ID=2\n  VERSION_ID=\"12\"\n";
  EXPECT_EQ(OsReleaseValue(text, "VERSION_ID"), "12");
  EXPECT_EQ(OsReleaseValue(text, "ID"), std::nullopt);
  // The last assignment wins; an empty value is no value.
  EXPECT_EQ(OsReleaseValue("ID=a\nID=b\n", "ID"), "b");
  EXPECT_EQ(OsReleaseValue("ID=a\nID=\"\"\n", "ID"), std::nullopt);
}

TEST(ReadOsReleaseTest, FallsBackOnlyPastFilesThatCannotBeRead) {
  char pattern[] = "/tmp/tarvix-os-release-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
    return dir + "/" + name;
  };
  const auto read = [](std::vector<std::string> paths) {
    return ReadOsReleaseValue(paths, "VERSION_ID");
  };
  const std::string second = write("second", "VERSION_ID=2\n");
  EXPECT_EQ(read({dir + "/missing", second}), "2");
  EXPECT_EQ(read({write("no_key", "NAME=x\n"), second}), std::nullopt);
  EXPECT_EQ(read({write("huge", "VERSION_ID=1\n" + std::string(kMaxOsReleaseBytes, '#')), second}),
            "2");
  EXPECT_EQ(
      read({write("full", "VERSION_ID=1\n" + std::string(kMaxOsReleaseBytes - 13, '#')), second}),
      "1");
  EXPECT_EQ(read({dir, second}), "2");
  // A FIFO without a writer would block a plain open forever; the read runs
  // detached so that a regression fails the test instead of hanging it.
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  std::promise<std::optional<std::string>> promise;
  std::future<std::optional<std::string>> result = promise.get_future();
  std::thread([read, paths = std::vector<std::string>{dir + "/fifo", second},
               promise = std::move(promise)]() mutable {
    promise.set_value(read(paths));
  }).detach();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(result.get(), "2");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvix
