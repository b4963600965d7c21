// Fixture for the file tools: a fresh directory tree with HOME pointing into
// it, and the caller's HOME, USERPROFILE and working directory restored after.
#ifndef TARVIX_TESTS_TOOLS_HOST_TEMP_HOME_H_
#define TARVIX_TESTS_TOOLS_HOST_TEMP_HOME_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace tarvix {

class TempHomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_home_ = Get("HOME");
    saved_profile_ = Get("USERPROFILE");
    saved_cwd_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvix-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    home_ = root_ + "/home";
    std::filesystem::create_directories(home_ + "/work");
    setenv("HOME", home_.c_str(), 1);
    unsetenv("USERPROFILE");
  }

  void TearDown() override {
    std::filesystem::current_path(saved_cwd_);
    Restore("HOME", saved_home_);
    Restore("USERPROFILE", saved_profile_);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  static std::string Slurp(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
  }

  static bool Exists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::symlink_status(path));
  }

  std::string root_;  // the whole tree, removed after each test
  std::string home_;  // $HOME, with an empty "work" directory

 private:
  static std::optional<std::string> Get(const char* name) {
    const char* value = getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  }
  static void Restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  std::optional<std::string> saved_home_;
  std::optional<std::string> saved_profile_;
  std::filesystem::path saved_cwd_;
};

}  // namespace tarvix

#endif  // TARVIX_TESTS_TOOLS_HOST_TEMP_HOME_H_
