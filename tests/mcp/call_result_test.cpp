#include "mcp/call_result.h"

#include <gtest/gtest.h>

namespace tarvix::mcp {
namespace {

struct Case {
  const char* tool;
  ToolResult outcome;
  bool structured;
  const char* expected;
};

TEST(CallToolResultTest, OutcomesBecomeContent) {
  const Json shot = Json::parse(
      R"({"base64":"iVBORw0K","bytes":6,"format":"png","height":2,"width":3})");
  const Case cases[] = {
      {"read_file", Json::parse(R"({"bytes":2,"content":"h\"","path":"a"})"), true,
       R"({"content":[{"text":"{\"bytes\":2,\"content\":\"h\\\"\",\"path\":\"a\"}","type":"text"}],)"
       R"("isError":false,"structuredContent":{"bytes":2,"content":"h\"","path":"a"}})"},
      // Protocol 2025-03-26 has no structured content.
      {"read_file", Json::parse(R"({"bytes":0})"), false,
       R"({"content":[{"text":"{\"bytes\":0}","type":"text"}],"isError":false})"},
      // Only objects can be structured content.
      {"list_processes", Json::parse("[1]"), true,
       R"({"content":[{"text":"[1]","type":"text"}],"isError":false})"},
      {"read_file", Error("stat failed: No such file or directory (os error 2)"), true,
       R"j({"content":[{"text":"stat failed: No such file or directory (os error 2)","type":"text"}],"isError":true})j"},
      {"screenshot", shot, true,
       R"({"content":[{"data":"iVBORw0K","mimeType":"image/png","type":"image"},)"
       R"({"text":"{\"bytes\":6,\"format\":\"png\",\"height\":2,\"width\":3}","type":"text"}],)"
       R"("isError":false,"structuredContent":{"bytes":6,"format":"png","height":2,"width":3}})"},
      // A screenshot that is not the PNG form stays plain JSON.
      {"screenshot", Json::parse(R"({"base64":"AA==","format":"jpeg"})"), false,
       R"({"content":[{"text":"{\"base64\":\"AA==\",\"format\":\"jpeg\"}","type":"text"}],"isError":false})"},
      {"capture", Json::parse(R"({"base64":"/9j/","format":"jpeg","scale":0.5})"), false,
       R"({"content":[{"data":"/9j/","mimeType":"image/jpeg","type":"image"},)"
       R"({"text":"{\"format\":\"jpeg\",\"scale\":0.5}","type":"text"}],"isError":false})"},
      {"capture", Json::parse(R"({"base64":"AA==","format":"gif"})"), false,
       R"({"content":[{"text":"{\"base64\":\"AA==\",\"format\":\"gif\"}","type":"text"}],"isError":false})"},
      // Only the screenshot and capture tools' results are turned into images.
      {"read_file", shot, false,
       R"({"content":[{"text":"{\"base64\":\"iVBORw0K\",\"bytes\":6,\"format\":\"png\",\"height\":2,\"width\":3}","type":"text"}],"isError":false})"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToJsonText(CallToolResult(c.tool, c.outcome, c.structured)), c.expected) << c.tool;
  }
}

}  // namespace
}  // namespace tarvix::mcp
