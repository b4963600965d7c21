#include "daemon/secret_scrub.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace tarvix {
namespace {

// Only values that the command line reads as tokens change, in place and
// keeping their length; "--token" as the value of another option is not
// an option.
TEST(SecretScrubTest, OverwritesEveryTokenValueInPlace) {
  std::vector<std::string> args = {"tarvix-agentd", "--token",  "first", "--port", "--token",
                                   "--token",       "second",   "--audit", "--token", "--token"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  ScrubTokenArguments(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(args, (std::vector<std::string>{"tarvix-agentd", "--token", "xxxxx", "--port",
                                            "--token", "--token", "xxxxxx", "--audit", "--token",
                                            "--token"}));
}

TEST(SecretScrubTest, OverwritesTheEnvironmentStringAndRemovesIt) {
  char entry[] = "TARVIX_SCRUB_TEST=hunter2";
  ASSERT_EQ(putenv(entry), 0);  // the environment now points at `entry`
  ScrubEnvironmentVariable("TARVIX_SCRUB_TEST");
  EXPECT_STREQ(entry, "TARVIX_SCRUB_TEST=xxxxxxx");
  EXPECT_EQ(getenv("TARVIX_SCRUB_TEST"), nullptr);
}

}  // namespace
}  // namespace tarvix
