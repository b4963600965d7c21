#include "tools/desktop/screenshot.h"

#include <string>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

std::string Header(const char* tag, uint32_t width, uint32_t height) {
  std::string png = "\x89PNG\r\n\x1a\n" + std::string("\0\0\0\x0d", 4) + tag;
  for (uint32_t v : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<char>(v >> shift));
  }
  return png;
}

TEST(ReadPngSizeTest, TakesIhdrFieldsOnlyFromAWholeHeader) {
  const std::string good = Header("IHDR", 0x01020304, 0xA0B0C0D0);
  struct Case {
    std::string png;
    PngSize size;
  } cases[] = {
      {good, {0x01020304, 0xA0B0C0D0}},
      {good + "more bytes", {0x01020304, 0xA0B0C0D0}},
      {"garbage!" + good.substr(8), {0x01020304, 0xA0B0C0D0}},  // signature not checked
      {good.substr(0, 23), {0, 0}},
      {Header("IDAT", 5, 6), {0, 0}},
      {Header("ihdr", 5, 6), {0, 0}},
      {"", {0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadPngSize(c.png), c.size) << c.png.size();
}

TEST(Base64Test, StandardAlphabetAndPadding) {
  struct Case {
    std::string bytes, text;
  } cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {std::string("\xfb\xff\xbf\x00", 4), "+/+/AA=="},
  };
  for (const Case& c : cases) EXPECT_EQ(Base64(c.bytes), c.text) << c.text;
  const std::string long_text = Base64(std::string(3000, 'x'));
  EXPECT_EQ(long_text.size(), 4000u);
  EXPECT_EQ(long_text.find('\n'), std::string::npos);
}

TEST(ScreenshotTest, ResultDescribesTheCapturedFile) {
  const std::string png = Header("IHDR", 640, 480) + "rest";
  ToolResult result = ScreenshotFrom([&]() -> Result<std::string> { return png; });
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(*result, (Json{{"base64", Base64(png)},
                           {"bytes", png.size()},
                           {"format", "png"},
                           {"height", 480},
                           {"width", 640}}));

  ToolResult empty = ScreenshotFrom([]() -> Result<std::string> { return std::string(); });
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(ToJsonText(*empty), R"({"base64":"","bytes":0,"format":"png","height":0,"width":0})");

  ToolResult failed = ScreenshotFrom([]() -> Result<std::string> { return Error("no screen"); });
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(failed.error(), "no screen");
}

}  // namespace
}  // namespace tarvix
