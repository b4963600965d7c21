#include "tools/desktop/clipboard.h"

#include <string>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

TEST(ClipboardReadTest, ReplyIsValidUtf8WithinMaxBytes) {
  struct Case {
    const char* name;
    Json params;
    Result<ClipboardText> platform;
    size_t asked;  // max_bytes the platform sees
    std::string reply;
  } cases[] = {
      {"default limit", Json::object(), ClipboardText{"héllo", false, {"UTF8_STRING"}}, 1 << 20,
       R"({"bytes":6,"text":"héllo","truncated":false,"types":["UTF8_STRING"]})"},
      {"nothing owns it", Json::object(), ClipboardText{}, 1 << 20,
       R"({"bytes":0,"text":"","truncated":false,"types":[]})"},
      {"cut inside a character", Json{{"max_bytes", 4}},
       ClipboardText{"ab\xE6\x97", true, {}}, 4,
       R"({"bytes":2,"text":"ab","truncated":true,"types":[]})"},
      {"ill-formed bytes", Json{{"max_bytes", 16}}, ClipboardText{"a\xFF", false, {}}, 16,
       R"({"bytes":4,"text":"a�","truncated":false,"types":[]})"},
      {"replacement grows past the limit", Json{{"max_bytes", 3}},
       ClipboardText{"ab\xFF", false, {}}, 3,
       R"({"bytes":2,"text":"ab","truncated":true,"types":[]})"},
      {"largest limit", Json{{"max_bytes", 16777216}}, ClipboardText{"x", false, {}}, 16777216,
       R"({"bytes":1,"text":"x","truncated":false,"types":[]})"},
      {"platform error", Json::object(),
       Error("unavailable: the clipboard owner did not answer"), 1 << 20, ""},
  };
  for (const Case& c : cases) {
    size_t seen = 0;
    ToolResult result = ClipboardReadFrom(c.params, [&](size_t max_bytes) {
      seen = max_bytes;
      return c.platform;
    });
    EXPECT_EQ(seen, c.asked) << c.name;
    if (c.reply.empty()) {
      ASSERT_FALSE(result) << c.name;
      EXPECT_EQ(result.error(), c.platform.error()) << c.name;
    } else {
      ASSERT_TRUE(result) << c.name << ": " << result.error();
      EXPECT_EQ(ToJsonText(*result), c.reply) << c.name;
    }
  }
}

TEST(ClipboardToolsTest, RefuseBadParamsBeforeTouchingTheClipboard) {
  const char kBadMax[] = "invalid param: max_bytes must be an integer from 1 to 16777216";
  for (const Json& params : {Json{{"max_bytes", 0}}, Json{{"max_bytes", 16777217}},
                             Json{{"max_bytes", "10"}}, Json{{"max_bytes", -1}},
                             Json{{"max_bytes", 1.5}}}) {
    ToolResult result = ClipboardReadFrom(params, [](size_t) -> Result<ClipboardText> {
      ADD_FAILURE() << "read";
      return ClipboardText{};
    });
    ASSERT_FALSE(result) << params.dump();
    EXPECT_EQ(result.error(), kBadMax) << params.dump();
  }
  struct Case {
    Json params;
    std::string error;
  } writes[] = {
      {Json::object(), "missing param: text"},
      {Json{{"text", 5}}, "missing param: text"},
      {Json::array(), "missing param: text"},
      {Json{{"text", std::string(16777217, 'a')}},
       "invalid param: text is longer than 16777216 bytes"},
  };
  for (const Case& c : writes) {
    ToolResult result = ClipboardWriteTo(c.params, [](std::string) -> Result<void> {
      ADD_FAILURE() << "write";
      return {};
    });
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), c.error);
  }
}

TEST(ClipboardWriteTest, HandsTheTextOverAndCountsItsBytes) {
  std::string written;
  ToolResult result = ClipboardWriteTo(Json{{"text", "日本語 😀"}}, [&](std::string text) {
    written = std::move(text);
    return Result<void>();
  });
  ASSERT_TRUE(result);
  EXPECT_EQ(ToJsonText(*result), R"({"bytes":14,"done":true})");
  EXPECT_EQ(written, "日本語 😀");
  result = ClipboardWriteTo(Json{{"text", ""}},
                            [](std::string) -> Result<void> { return Error("unavailable: x"); });
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "unavailable: x");
}

}  // namespace
}  // namespace tarvix
