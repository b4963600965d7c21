#include "base/lower_case.h"

#include <gtest/gtest.h>
#include <unicode/uloc.h>

#include <string>

namespace tarvix {
namespace {

TEST(LowerCaseFullTest, AsciiMapsOnlyLetters) {
  EXPECT_EQ(LowerCaseFull("Hello/WORLD_123 @[`{"), "hello/world_123 @[`{");
  EXPECT_EQ(LowerCaseFull(""), "");
}

TEST(LowerCaseFullTest, FullMappingOfWholeString) {
  EXPECT_EQ(LowerCaseFull("\xE2\x84\xAA"
                          "EYCHAIN"),
            "keychain");                                     // Kelvin sign
  EXPECT_EQ(LowerCaseFull("\xC3\x84.SSH"), "\xC3\xA4.ssh");  // Ä
  // U+0130 has a two-character lower case in the root locale: "i" + U+0307.
  EXPECT_EQ(LowerCaseFull("\xC4\xB0X"), "i\xCC\x87x");
  // Final sigma: U+03A3 becomes U+03C2 at the end of a word, U+03C3 elsewhere.
  EXPECT_EQ(LowerCaseFull("\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3"), "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82");
  EXPECT_EQ(LowerCaseFull("\xCE\xA3\xCE\x91"), "\xCF\x83\xCE\xB1");
}

TEST(LowerCaseFullTest, IllFormedBytesPassThrough) {
  EXPECT_EQ(LowerCaseFull("\xFF.SSH\xC3"), "\xFF.ssh\xC3");
}

TEST(LowerCaseFullTest, IgnoresTheProcessLocale) {
  const std::string saved = uloc_getDefault();
  UErrorCode status = U_ZERO_ERROR;
  uloc_setDefault("tr", &status);
  ASSERT_TRUE(U_SUCCESS(status));
  const std::string lowered = LowerCaseFull("I\xC3\x84");  // Turkish would give dotless i
  uloc_setDefault(saved.c_str(), &status);
  EXPECT_EQ(lowered, "i\xC3\xA4");
}

}  // namespace
}  // namespace tarvix
