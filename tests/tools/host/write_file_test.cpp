#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tools/host/host_tools.h"
#include "tools/host/protected_files.h"
#include "tools/host/temp_home.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

class WriteFileTest : public TempHomeTest {
 protected:
  static std::string ErrorOf(const Json& params) {
    ToolResult result = WriteFile(params);
    return result ? "(succeeded: " + ToJsonText(*result) + ")" : result.error();
  }
  static Json Params(const std::string& path, const std::string& content) {
    return Json{{"path", path}, {"content", content}};
  }
};

TEST_F(WriteFileTest, CreatesAndReplaces) {
  const mode_t saved_mask = umask(022);
  ToolResult created = WriteFile(Params("~/notes.txt", "h\xC3\xA9llo"));
  umask(saved_mask);
  ASSERT_TRUE(created) << created.error();
  EXPECT_EQ(*created, (Json{{"bytes_written", 6}, {"path", home_ + "/notes.txt"}}));
  EXPECT_EQ(Slurp(home_ + "/notes.txt"), "h\xC3\xA9llo");
  EXPECT_EQ(fs::status(home_ + "/notes.txt").permissions(), fs::perms(0644));

  Put(home_ + "/long.txt", "0123456789");
  ASSERT_TRUE(WriteFile(Params(home_ + "/long.txt", "ab")));
  EXPECT_EQ(Slurp(home_ + "/long.txt"), "ab");
  ASSERT_TRUE(WriteFile(Params(home_ + "/long.txt", "")));
  EXPECT_EQ(Slurp(home_ + "/long.txt"), "");
  EXPECT_TRUE(WriteFile(Params("/dev/null", "discarded")));
}

TEST_F(WriteFileTest, RefusalsAndErrorTexts) {
  EXPECT_EQ(ErrorOf(Json{{"content", "x"}}), "missing param: path");
  EXPECT_EQ(ErrorOf(Json{{"path", "~/.zshrc"}}), "missing param: content");
  EXPECT_EQ(ErrorOf(Params("~/.zshrc", "x")), "write refused (protected location)");
  EXPECT_EQ(ErrorOf(Params("~/.ssh/authorized_keys", "x")), "path refused (sensitive)");
  EXPECT_EQ(ErrorOf(Params(home_ + "/no/such/file", "x")),
            "write failed: No such file or directory (os error 2)");
  EXPECT_EQ(ErrorOf(Params(home_ + "/work", "x")), "write failed: Is a directory (os error 21)");
  EXPECT_EQ(ErrorOf(Params(home_ + "/newdir/", "x")), "write failed: Is a directory (os error 21)");
  EXPECT_EQ(ErrorOf(Params(std::string("a\0b", 3), "x")),
            "write failed: file name contained an unexpected NUL byte");

  const std::string fifo = home_ + "/fifo";  // no reader: fails at once instead of blocking
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ErrorOf(Params(fifo, "x")), "write failed: No such device or address (os error 6)");

  fs::create_symlink("loop-b", home_ + "/work/loop-a");
  fs::create_symlink("loop-a", home_ + "/work/loop-b");
  EXPECT_EQ(ErrorOf(Params(home_ + "/work/loop-a", "x")),
            "write failed: Too many levels of symbolic links (os error 40)");
}

// Links are screened by where they lead: nothing is written, truncated or
// created at a refused place.
TEST_F(WriteFileTest, LinksCannotReachProtectedPlaces) {
  const std::string work = home_ + "/work";
  Put(home_ + "/.zshrc", "original");
  fs::create_symlink(home_ + "/.zshrc", work + "/rc");
  EXPECT_EQ(ErrorOf(Params(work + "/rc", "evil")), "write refused (protected location)");
  EXPECT_EQ(Slurp(home_ + "/.zshrc"), "original");

  fs::create_symlink(home_ + "/.bashrc", work + "/absolute");  // dangling, absolute
  fs::create_symlink("../.profile", work + "/relative");       // dangling, relative
  fs::create_symlink("relative", work + "/chain");             // link to a dangling link
  for (const char* name : {"/absolute", "/relative", "/chain"}) {
    EXPECT_EQ(ErrorOf(Params(work + name, "evil")), "write refused (protected location)") << name;
  }
  EXPECT_FALSE(Exists(home_ + "/.bashrc"));
  EXPECT_FALSE(Exists(home_ + "/.profile"));

  // A linked parent directory: the new file would land under ".../etc/".
  fs::create_directories(root_ + "/sys/etc");
  fs::create_directory_symlink(root_ + "/sys/etc", work + "/cfg");
  EXPECT_EQ(ErrorOf(Params(work + "/cfg/new.conf", "evil")), "write refused (protected location)");
  EXPECT_FALSE(Exists(root_ + "/sys/etc/new.conf"));

  fs::create_directories(home_ + "/.ssh");
  fs::create_directory_symlink(home_ + "/.ssh", work + "/keys");
  EXPECT_EQ(ErrorOf(Params(work + "/keys/notes", "evil")), "path refused (sensitive)");
  EXPECT_FALSE(Exists(home_ + "/.ssh/notes"));
}

// A protected file (the audit log) is refused by identity under any name,
// before anything is truncated, and is not created while it does not exist.
TEST_F(WriteFileTest, ProtectedFilesAreRefusedUnderEveryName) {
  const std::string log = home_ + "/state/log.jsonl";
  fs::create_directories(home_ + "/state");
  SetProtectedFiles({log});
  EXPECT_EQ(ErrorOf(Params(log, "forged")), "write refused (protected location)");
  EXPECT_FALSE(Exists(log));

  Put(log, "record\n");
  fs::create_hard_link(log, home_ + "/work/hard");
  fs::create_symlink(log, home_ + "/work/soft");
  for (const std::string& name : {log, home_ + "/work/hard", home_ + "/work/soft",
                                  home_ + "/state/./log.jsonl"}) {
    EXPECT_EQ(ErrorOf(Params(name, "")), "write refused (protected location)") << name;
  }
  EXPECT_EQ(Slurp(log), "record\n");
  SetProtectedFiles({});
  EXPECT_TRUE(WriteFile(Params(log, "")));
}

TEST_F(WriteFileTest, DanglingLinkToAllowedPlaceCreatesTarget) {
  fs::create_directories(home_ + "/notes");
  fs::create_symlink("../notes/created.txt", home_ + "/work/new");
  ToolResult result = WriteFile(Params("~/work/new", "text"));
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ((*result)["path"], home_ + "/work/new");
  EXPECT_EQ(Slurp(home_ + "/notes/created.txt"), "text");
}

}  // namespace
}  // namespace tarvix
