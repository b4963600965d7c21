#include "json/json.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "json/params.h"
#include "support/library_json_form.h"

namespace tarvix {
namespace {

TEST(JsonTextTest, ObjectsAreCompactWithKeysInByteOrder) {
  Json value;
  value["zeta"] = 1;
  value["Alpha"] = true;
  value["alpha"] = nullptr;
  value["_"] = Json::array({1, "two", Json::object()});
  value["\xC3\xA9"] = "e";  // non-ASCII keys sort after ASCII by byte value
  EXPECT_EQ(ToJsonText(value),
            R"({"Alpha":true,"_":[1,"two",{}],"alpha":null,"zeta":1,"é":"e"})");
}

TEST(JsonTextTest, EscapesOnlyQuoteBackslashAndControls) {
  std::string all_controls;
  for (char c = 0; c < 0x20; ++c) all_controls += c;
  EXPECT_EQ(ToJsonText(all_controls),
            "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r"
            "\\u000e\\u000f\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018"
            "\\u0019\\u001a\\u001b\\u001c\\u001d\\u001e\\u001f\"");
  EXPECT_EQ(ToJsonText("q\"b\\s/del\x7f"), "\"q\\\"b\\\\s/del\x7f\"");
  EXPECT_EQ(ToJsonText("h\xC3\xA9llo \xE2\x80\x94 \xF0\x9F\x98\x80"),
            "\"h\xC3\xA9llo \xE2\x80\x94 \xF0\x9F\x98\x80\"");
}

TEST(JsonTextTest, NumbersRoundTripAndNonFiniteIsNull) {
  EXPECT_EQ(ToJsonText(Json(18446744073709551615ULL)), "18446744073709551615");
  EXPECT_EQ(ToJsonText(Json(-9223372036854775807LL - 1)), "-9223372036854775808");
  EXPECT_EQ(ToJsonText(Json(static_cast<double>(12.3f))), "12.300000190734863");
  EXPECT_EQ(ToJsonText(Json(0.1)), "0.1");
  EXPECT_EQ(ToJsonText(Json(1.0)), "1.0");
  EXPECT_EQ(ToJsonText(Json(1e-7)), "1e-7");
  EXPECT_EQ(ToJsonText(Json(1e100)), "1e100");
  EXPECT_EQ(ToJsonText(Json(-2.5e-300)), "-2.5e-300");
  EXPECT_EQ(ToJsonText(Json(1.5e300)), "1.5e300");
  EXPECT_EQ(ToJsonText(Json(5e-324)), "5e-324");
  EXPECT_EQ(ToJsonText(Json(std::nan(""))), "null");
  EXPECT_EQ(ToJsonText(Json(std::numeric_limits<double>::infinity())), "null");
  EXPECT_EQ(ToJsonText(Json(-std::numeric_limits<double>::infinity())), "null");
}

TEST(JsonTextTest, IllFormedTextNeverThrows) {
  EXPECT_EQ(ToJsonText(Json("a\xFF" "b")), "\"a\xEF\xBF\xBD" "b\"");
}

// The daemon's writer against the JSON library's own compact form, over
// strings whose escapes fall at every offset of an 8-byte word.
TEST(JsonTextTest, MatchesTheLibraryForm) {
  std::vector<Json> values = {nullptr, true, false, 0, -1, 18446744073709551615ULL, 0.0, -0.0,
                              1.0, 0.1, 1e100, 1e-7, 123.456, -2.5e-300, Json::array(),
                              Json::object()};
  const std::string specials[] = {"\"", "\\", "\n", std::string(1, '\0'), "\x1f", "\x7f",
                                  "\xC3\xA9", "\xE2\x80\x94", "\xF0\x9F\x98\x80", "/"};
  for (const std::string& special : specials) {
    for (size_t offset = 0; offset < 20; ++offset) {
      std::string text(offset, 'a');
      text += special;
      text += std::string(19 - offset, 'b');
      values.push_back(text);
      values.push_back(Json{{text, text}});
    }
  }
  values.push_back(Json::parse(R"({"b":[1,{"c":null,"a":"x\ny"}],"a":-3.25,"":""})"));
  for (const Json& value : values) {
    EXPECT_EQ(ToJsonText(value), testing::LibraryJsonForm(value)) << value.dump();
  }
}

TEST(JsonParseTest, OneValueWithJsonWhitespaceOnly) {
  EXPECT_EQ(ParseJsonOrNull(" \t\r\n{\"a\":1} \n"), Json({{"a", 1}}));
  EXPECT_TRUE(ParseJsonOrNull("{\"a\":1} x").is_null());
  EXPECT_TRUE(ParseJsonOrNull("{} {}").is_null());
  EXPECT_TRUE(ParseJsonOrNull("").is_null());
  EXPECT_TRUE(ParseJsonOrNull("\f{}").is_null());  // form feed is not JSON whitespace
  EXPECT_TRUE(ParseJsonOrNull("/* c */ {}").is_null());
  EXPECT_TRUE(ParseJsonOrNull("{'a':1}").is_null());
  EXPECT_EQ(ParseJsonOrNull("[1,2]"), Json::array({1, 2}));
  // The library would skip a byte-order mark and stop at a NUL.
  EXPECT_TRUE(ParseJsonOrNull("\xEF\xBB\xBF{\"a\":1}").is_null());
  EXPECT_TRUE(ParseJsonOrNull(std::string("{\"a\":1}\0x", 9)).is_null());
  EXPECT_TRUE(ParseJsonOrNull(std::string("{\"a\":1}\0", 8)).is_null());
}

TEST(JsonParseTest, ValueCountIsBounded) {
  auto empties = [](size_t n) {
    std::string text = "[";
    for (size_t i = 0; i < n; ++i) text += i ? ",{}" : "{}";
    return text + "]";
  };
  // The outer array counts as a value too.
  EXPECT_EQ(ParseJsonOrNull(empties(kMaxJsonValues - 1)).size(), kMaxJsonValues - 1);
  EXPECT_TRUE(ParseJsonOrNull(empties(kMaxJsonValues)).is_null());
}

std::string Nested(int depth, const std::string& open, const std::string& close) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += open;
  for (int i = 0; i < depth; ++i) text += close;
  return text;
}

TEST(JsonParseTest, NestingLimitIs128Levels) {
  EXPECT_FALSE(ParseJsonOrNull(Nested(127, "[", "]")).is_null());
  EXPECT_TRUE(ParseJsonOrNull(Nested(128, "[", "]")).is_null());
  EXPECT_TRUE(ParseJsonOrNull(Nested(100000, "[", "]")).is_null());
  std::string objects;
  for (int i = 0; i < 127; ++i) objects += "{\"k\":";
  objects += "0";
  for (int i = 0; i < 127; ++i) objects += "}";
  EXPECT_FALSE(ParseJsonOrNull(objects).is_null());
  // Brackets inside strings are not nesting, escaped quotes do not end them.
  EXPECT_EQ(ParseJsonOrNull(R"(["\"[[[[", "]]]"])"), Json::array({"\"[[[[", "]]]"}));
  EXPECT_FALSE(ParseJsonOrNull("[\"" + std::string(300, '[') + "\"]").is_null());
}

TEST(ParamsTest, UnsignedAcceptsOnlyNonNegativeIntegers) {
  const Json params = ParseJsonOrNull(
      R"({"a":0,"b":18446744073709551615,"c":-1,"d":100.5,"e":"100","f":1e2,"g":10.0,"h":null})");
  EXPECT_EQ(UnsignedParam(params, "a"), 0u);
  EXPECT_EQ(UnsignedParam(params, "b"), 18446744073709551615ULL);
  for (const char* absent : {"c", "d", "e", "f", "g", "h", "missing"}) {
    EXPECT_EQ(UnsignedParam(params, absent), std::nullopt) << absent;
  }
  EXPECT_EQ(UnsignedParam(Json("text"), "a"), std::nullopt);
  EXPECT_EQ(UnsignedParam(Json::array({1}), "0"), std::nullopt);
}

TEST(ParamsTest, SignedAndStringReaders) {
  const Json params = ParseJsonOrNull(
      R"({"min":-9223372036854775808,"max":9223372036854775807,"over":9223372036854775808,"s":"x","n":5})");
  EXPECT_EQ(SignedParam(params, "min"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(SignedParam(params, "max"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(SignedParam(params, "over"), std::nullopt);
  EXPECT_EQ(SignedParam(params, "s"), std::nullopt);
  ASSERT_NE(StringParam(params, "s"), nullptr);
  EXPECT_EQ(*StringParam(params, "s"), "x");
  EXPECT_EQ(StringParam(params, "n"), nullptr);
  EXPECT_EQ(StringParam(Json("s"), "s"), nullptr);
  EXPECT_EQ(MissingParam("path"), "missing param: path");
}

}  // namespace
}  // namespace tarvix
