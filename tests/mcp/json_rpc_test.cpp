#include "mcp/json_rpc.h"

#include <gtest/gtest.h>

namespace tarvix::mcp {
namespace {

using Kind = Incoming::Kind;

struct InvalidCase {
  const char* line;
  const char* reply;
};

TEST(ClassifyLineTest, MalformedMessagesGetTheirErrorReply) {
  const InvalidCase cases[] = {
      {"{", R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})"},
      {"{\"jsonrpc\":\"2.0\"} x",
       R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})"},
      {"nul", R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})"},
      {"null null",
       R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})"},
      // Valid JSON that is not a request object, a batch included: the
      // bridge takes none.
      {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])",
       R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})"},
      {"null", R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})"},
      {" null\r", R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})"},
      {"7", R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})"},
      {"-0.5e3", R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})"},
      {R"("ping")", R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})"},
      {"false", R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})"},
      {"[]", R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})"},
      {"[1,null]", R"({"error":{"code":-32600,"message":"Invalid Request"},"id":null,"jsonrpc":"2.0"})"},
      {R"({"id":3,"method":"ping"})",
       R"({"error":{"code":-32600,"message":"Invalid Request: jsonrpc must be \"2.0\""},"id":3,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"1.0","id":"a","method":"ping"})",
       R"({"error":{"code":-32600,"message":"Invalid Request: jsonrpc must be \"2.0\""},"id":"a","jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":null,"method":"ping"})",
       R"({"error":{"code":-32600,"message":"Invalid Request: id must be a string or a number"},"id":null,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":{"x":1},"method":"ping"})",
       R"({"error":{"code":-32600,"message":"Invalid Request: id must be a string or a number"},"id":null,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":4})",
       R"({"error":{"code":-32600,"message":"Invalid Request: no method"},"id":4,"jsonrpc":"2.0"})"},
      {R"({"jsonrpc":"2.0","id":5,"method":7})",
       R"({"error":{"code":-32600,"message":"Invalid Request: method must be a string"},"id":5,"jsonrpc":"2.0"})"},
  };
  for (const InvalidCase& c : cases) {
    const Incoming incoming = ClassifyLine(c.line);
    EXPECT_EQ(incoming.kind, Kind::kInvalid) << c.line;
    EXPECT_EQ(ToJsonText(incoming.error_reply), c.reply) << c.line;
  }
}

struct KindCase {
  const char* line;
  Kind kind;
  const char* id;  // compact JSON
  const char* method;
  const char* params;  // compact JSON
};

TEST(ClassifyLineTest, WellFormedMessagesAreTakenApart) {
  const KindCase cases[] = {
      {"", Kind::kBlank, "null", "", "null"},
      {" \t\r", Kind::kBlank, "null", "", "null"},
      {R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})", Kind::kRequest, "1", "tools/list",
       "{}"},
      {"{\"jsonrpc\":\"2.0\",\"id\":\"x-1\",\"method\":\"ping\",\"params\":{\"a\":[1]}}\r",
       Kind::kRequest, "\"x-1\"", "ping", R"({"a":[1]})"},
      {R"({"jsonrpc":"2.0","id":-2,"method":"m","params":[1]})", Kind::kRequest, "-2", "m", "[1]"},
      {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", Kind::kNotification, "null",
       "notifications/initialized", "{}"},
      {R"({"jsonrpc":"2.0","id":9,"result":{}})", Kind::kResponse, "9", "", "null"},
      {R"({"jsonrpc":"2.0","id":9,"error":{"code":1,"message":"m"}})", Kind::kResponse, "9", "",
       "null"},
  };
  for (const KindCase& c : cases) {
    const Incoming incoming = ClassifyLine(c.line);
    EXPECT_EQ(incoming.kind, c.kind) << c.line;
    EXPECT_EQ(ToJsonText(incoming.id), c.id) << c.line;
    EXPECT_EQ(incoming.method, c.method) << c.line;
    EXPECT_EQ(ToJsonText(incoming.params), c.params) << c.line;
  }
}

}  // namespace
}  // namespace tarvix::mcp
