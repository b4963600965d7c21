#include "tools/host/policy.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

#include "tools/host/temp_home.h"

namespace tarvix {
namespace {

// Empty expectation: the screen lets the text pass.
std::string Outcome(const Result<void>& screen) { return screen ? "" : screen.error(); }

std::string Denied(const std::string& entry) {
  return "command refused by safety denylist (matched: " + entry + ")";
}

using Case = std::pair<std::string, std::string>;  // input, expected outcome

class GuardCommandTest : public ::testing::TestWithParam<Case> {};

TEST_P(GuardCommandTest, NamesFirstEntryInTableOrder) {
  EXPECT_EQ(Outcome(GuardCommand(GetParam().first)), GetParam().second) << GetParam().first;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, GuardCommandTest,
    ::testing::Values(Case{"rm -rf /tmp/build", Denied("rm -rf /")},
                      Case{"rm -rf /*", Denied("rm -rf /")},
                      Case{"shutdown; mkfs /dev/x", Denied("mkfs")},  // table order, not text order
                      Case{"SHUTDOWN -h now", Denied("shutdown")},
                      Case{"echo reboot", Denied("reboot")},
                      Case{"DEL /F /S /Q C:\\", Denied("del /f /s /q c:\\")},
                      Case{"del /f /s /q c:/", ""},  // backslashes stay backslashes here
                      Case{"cat ~/.ssh/id_rsa", ""}, Case{"rm -r /tmp/x", ""}, Case{"", ""}));

// Every entry, spelled in upper case inside a longer command, is found and
// named exactly as the table holds it.
TEST(GuardCommandTableTest, EveryEntryMatchesAndIsNamedVerbatim) {
  const std::vector<std::string> entries = {
      "rm -rf /",          ":(){",     "mkfs",   "dd if=", "> /dev/sd", "of=/dev/sd", "format c:",
      "del /f /s /q c:\\", "shutdown", "reboot", "init 0", "init 6",    "diskpart",   "wipefs"};
  for (const std::string& entry : entries) {
    std::string upper = entry;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(Outcome(GuardCommand("x " + upper + " y")), Denied(entry)) << entry;
  }
}

class GuardPathTest : public ::testing::TestWithParam<Case> {};

TEST_P(GuardPathTest, RefusesTraversalBeforeSensitive) {
  EXPECT_EQ(Outcome(GuardPath(GetParam().first)), GetParam().second) << GetParam().first;
}

const std::string kSensitive = "path refused (sensitive)";
const std::string kTraversal = "path refused (traversal)";

INSTANTIATE_TEST_SUITE_P(
    Examples, GuardPathTest,
    ::testing::Values(
        Case{"/tmp/sample.txt", kSensitive}, Case{"C:\\SAM", kSensitive},
        Case{"/Users/me/Library/Keychains/login.keychain-db", kSensitive},
        Case{"/home/me/.SSH/config", kSensitive}, Case{"/x/Cookies", kSensitive},
        Case{"\xE2\x84\xAA"
             "eychain",
             kSensitive},              // Kelvin sign lower-cases to "k"
        Case{".aws/credentials", ""},  // "/.aws" needs its slash; the opened file is screened later
        Case{"/h/.AWS\\credentials", kSensitive}, Case{"/a/Login Data", kSensitive},
        Case{"/g/Google-Chrome\\Default/x", kSensitive}, Case{"/etc/shadow", kSensitive},
        Case{"/etc//shadow", ""},  // names are not resolved; the opened file is screened later
        Case{"a/../b", kTraversal}, Case{"..\\secret.txt", kTraversal},
        Case{"../.ssh/id_rsa", kTraversal}, Case{"..", kTraversal}, Case{"a/.../b", ""},
        Case{"a/..b/c..", ""}, Case{"", ""}, Case{"/home/me/notes.txt", ""}));

class GuardWritePathTest : public ::testing::TestWithParam<Case> {};

TEST_P(GuardWritePathTest, RefusesProtectedLocations) {
  EXPECT_EQ(Outcome(GuardWritePath(GetParam().first)), GetParam().second) << GetParam().first;
}

const std::string kProtected = "write refused (protected location)";

INSTANTIATE_TEST_SUITE_P(Examples, GuardWritePathTest,
                         ::testing::Values(Case{"/home/me/.zshrc", kProtected},
                                           Case{"/etc/hosts", kProtected},
                                           Case{"/private/etc/hosts", kProtected},
                                           Case{"/Library/LaunchAgents/x.plist", kProtected},
                                           Case{"/tmp/crontab.txt", kProtected},
                                           Case{"/opt/Tarvix-Agentd/x", kProtected},
                                           Case{"C:\\Users\\me\\Start Menu\\x.lnk", kProtected},
                                           Case{"HKCU\\CurrentVersion\\Run", kProtected},
                                           Case{"/lib/systemd/x", kProtected}, Case{"/etc", ""},
                                           Case{"/home/me/notes.txt", ""}, Case{"", ""}));

// Protected by the write screen but refused earlier, as sensitive, when the
// tool runs both screens in order.
TEST(GuardOrderTest, AuthorizedKeysIsSensitiveFirst) {
  EXPECT_EQ(Outcome(GuardPath("/h/.ssh/authorized_keys")), kSensitive);
  EXPECT_EQ(Outcome(GuardWritePath("/h/.ssh/authorized_keys")), kProtected);
}

using ExpandHomeTest = TempHomeTest;

TEST_F(ExpandHomeTest, ExpandsOnlyALeadingTildeWithSeparator) {
  setenv("HOME", "/Users/me", 1);
  EXPECT_EQ(ExpandHome("~"), "/Users/me");
  EXPECT_EQ(ExpandHome("~/notes.txt"), "/Users/me/notes.txt");
  EXPECT_EQ(ExpandHome("~\\notes.txt"), "/Users/me\\notes.txt");
  EXPECT_EQ(ExpandHome("~me/x"), "~me/x");
  EXPECT_EQ(ExpandHome("x/~/y"), "x/~/y");
  EXPECT_EQ(ExpandHome("/abs"), "/abs");
  setenv("HOME", "", 1);  // set but empty is used verbatim
  EXPECT_EQ(ExpandHome("~/x"), "/x");
}

TEST_F(ExpandHomeTest, FallsBackToUserProfileThenLeavesPathAlone) {
  unsetenv("HOME");
  setenv("USERPROFILE", "C:\\Users\\me", 1);
  EXPECT_EQ(ExpandHome("~/x"), "C:\\Users\\me/x");
  setenv("HOME", "/bad\xFFhome", 1);  // not UTF-8: counts as unset
  EXPECT_EQ(ExpandHome("~/x"), "C:\\Users\\me/x");
  unsetenv("USERPROFILE");
  EXPECT_EQ(ExpandHome("~/x"), "~/x");
}

}  // namespace
}  // namespace tarvix
