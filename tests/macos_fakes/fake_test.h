// The fixture of the fakes' tests: fresh frameworks before each test, and
// no leaked, over-released or released-then-used object after it.
#ifndef TARVIX_TESTS_MACOS_FAKES_FAKE_TEST_H_
#define TARVIX_TESTS_MACOS_FAKES_FAKE_TEST_H_

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "macos_fakes.h"

namespace tarvix {

class MacFakeTest : public ::testing::Test {
 protected:
  void SetUp() override { macfake::Reset(); }
  void TearDown() override { EXPECT_THAT(macfake::CfFaults(), ::testing::IsEmpty()); }
};

}  // namespace tarvix

#endif  // TARVIX_TESTS_MACOS_FAKES_FAKE_TEST_H_
