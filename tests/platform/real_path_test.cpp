#include "platform/real_path.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tools/host/temp_home.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

using RealPathTest = TempHomeTest;

TEST_F(RealPathTest, ResolvesLinksAndDotsOfWhatWasOpened) {
  Put(home_ + "/target.txt", "x");
  fs::create_symlink(home_ + "/target.txt", home_ + "/work/link");
  const int fd = open((home_ + "/work/.//../work/link").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  Result<std::string> real = RealPathOfDescriptor(fd);
  close(fd);
  ASSERT_TRUE(real) << real.error();
  EXPECT_EQ(*real, fs::canonical(home_ + "/target.txt").string());
}

TEST_F(RealPathTest, FailsForAClosedDescriptor) {
  const int fd = open(home_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_FALSE(RealPathOfDescriptor(fd));
}

}  // namespace
}  // namespace tarvix
