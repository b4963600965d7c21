#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/host/host_tools.h"
#include "tools/host/temp_home.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

class ListDirTest : public TempHomeTest {
 protected:
  // Entries as compact JSON texts, sorted (the system's order is arbitrary).
  static std::vector<std::string> Entries(const Json& result) {
    std::vector<std::string> out;
    for (const Json& entry : result["entries"]) out.push_back(ToJsonText(entry));
    std::sort(out.begin(), out.end());
    return out;
  }
  static std::string ErrorOf(const Json& params) {
    ToolResult result = ListDir(params);
    return result ? "(succeeded: " + ToJsonText(*result) + ")" : result.error();
  }
};

TEST_F(ListDirTest, EmptyDirectory) {
  ToolResult result = ListDir(Json{{"path", "~/work"}});
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(ToJsonText(*result), R"({"entries":[],"path":")" + home_ + R"(/work"})");
}

// Links describe themselves; names that are not UTF-8 come back lossy.
TEST_F(ListDirTest, EntriesReportTheirOwnStatus) {
  const std::string dir = home_ + "/work";
  Put(dir + "/file.txt", "12345");
  fs::create_directory(dir + "/sub");
  fs::create_directory_symlink(dir + "/sub", dir + "/to-sub");
  fs::create_symlink("nowhere", dir + "/dangling");
  Put(dir +
          "/a\xFF"
          "b",
      "");
  ToolResult result = ListDir(Json{{"path", dir}});
  ASSERT_TRUE(result) << result.error();
  struct stat sub;
  ASSERT_EQ(lstat((dir + "/sub").c_str(), &sub), 0);
  const std::string sub_size = std::to_string(sub.st_size);
  EXPECT_EQ(Entries(*result),
            (std::vector<std::string>{
                R"({"is_dir":false,"name":"a)"
                "\xEF\xBF\xBD"
                R"(b","size":0})",
                R"({"is_dir":false,"name":"dangling","size":7})",
                R"({"is_dir":false,"name":"file.txt","size":5})",
                R"({"is_dir":false,"name":"to-sub","size":)" + std::to_string(dir.size() + 4) + "}",
                R"({"is_dir":true,"name":"sub","size":)" + sub_size + "}",
            }));
}

TEST_F(ListDirTest, ErrorTexts) {
  Put(home_ + "/file", "x");
  EXPECT_EQ(ErrorOf(Json{{"path", home_ + "/file"}}),
            "read_dir failed: Not a directory (os error 20)");
  EXPECT_EQ(ErrorOf(Json{{"path", home_ + "/nope"}}),
            "read_dir failed: No such file or directory (os error 2)");
  EXPECT_EQ(ErrorOf(Json{{"path", std::string("a\0b", 3)}}),
            "read_dir failed: file name contained an unexpected NUL byte");
  EXPECT_EQ(ErrorOf(Json{{"path", nullptr}}), "missing param: path");
  EXPECT_EQ(ErrorOf(Json{{"path", "~/.gnupg"}}), "path refused (sensitive)");
}

TEST_F(ListDirTest, ScreensWhereALinkLeads) {
  fs::create_directories(home_ + "/.ssh");
  fs::create_directory_symlink(home_ + "/.ssh", home_ + "/work/keys");
  EXPECT_EQ(ErrorOf(Json{{"path", home_ + "/work/keys"}}), "path refused (sensitive)");
}

}  // namespace
}  // namespace tarvix
