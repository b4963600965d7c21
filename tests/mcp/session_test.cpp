#include "mcp/session.h"

#include <gtest/gtest.h>

#include "mcp/fake_daemon.h"
#include "mcp/tool_catalogue.h"

namespace tarvix::mcp {
namespace {

using testing::FakeDaemon;

Json Params(const char* text) { return Json::parse(text); }

std::string InitializeVersion(McpSession& session, const char* requested) {
  const Json reply = session.Answer(
      1, "initialize", Json{{"protocolVersion", requested}, {"capabilities", Json::object()}});
  return reply["result"]["protocolVersion"];
}

TEST(McpSessionTest, NegotiatesTheProtocolVersion) {
  const std::pair<const char*, const char*> cases[] = {
      {"2025-11-25", "2025-11-25"}, {"2025-06-18", "2025-06-18"}, {"2025-03-26", "2025-03-26"},
      {"2024-11-05", "2025-11-25"}, {"2026-01-01", "2025-11-25"}, {"", "2025-11-25"},
  };
  for (const auto& [requested, answered] : cases) {
    FakeDaemon daemon;
    McpSession session(&daemon, "0.1.0");
    EXPECT_EQ(session.protocol_version(), "2025-11-25");
    EXPECT_EQ(InitializeVersion(session, requested), answered) << requested;
    EXPECT_EQ(session.protocol_version(), answered) << requested;
  }
}

TEST(McpSessionTest, InitializeReportsTheDaemonVersionWhenItCanAsk) {
  FakeDaemon daemon;
  McpSession session(&daemon, "0.1.0");
  Json reply = session.Answer("i", "initialize", Params(R"({"protocolVersion":"2025-06-18"})"));
  EXPECT_EQ(ToJsonText(reply["result"]["serverInfo"]),
            R"({"name":"tarvix-agentd","title":"Tarvix agent daemon","version":"0.1.0"})");
  EXPECT_EQ(ToJsonText(reply["result"]["capabilities"]), R"({"tools":{"listChanged":false}})");
  EXPECT_EQ(reply["id"], "i");

  daemon.replies["ping"] = FakeDaemon::Ping(false);
  reply = session.Answer(2, "initialize", Params(R"({"protocolVersion":"2025-03-26"})"));
  // 2025-03-26 has no title in Implementation.
  EXPECT_EQ(ToJsonText(reply["result"]["serverInfo"]),
            R"({"name":"tarvix-agentd","version":"0.1.7"})");
}

TEST(McpSessionTest, ProtocolErrors) {
  FakeDaemon daemon;
  daemon.replies["ping"] = FakeDaemon::Ping(true);
  McpSession session(&daemon, "0.1.0");
  const std::tuple<const char*, const char*, int, const char*> cases[] = {
      {"resources/list", "{}", -32601, "Method not found: resources/list"},
      {"Ping", "{}", -32601, "Method not found: Ping"},
      {"ping", "[]", -32602, "Invalid params: params must be an object"},
      {"initialize", "{}", -32602, "Invalid params: protocolVersion must be a string"},
      {"tools/call", "{}", -32602, "Invalid params: name must be a string"},
      {"tools/call", R"({"name":"ping"})", -32602, "Unknown tool: ping"},
      {"tools/call", R"({"name":"Read_File"})", -32602, "Unknown tool: Read_File"},
      {"tools/call", R"({"name":"read_file","arguments":"a"})", -32602,
       "Invalid params: arguments must be an object"},
  };
  for (const auto& [method, params, code, message] : cases) {
    const Json reply = session.Answer(5, method, Params(params));
    EXPECT_EQ(reply["error"]["code"], code) << method << " " << params;
    EXPECT_EQ(reply["error"]["message"], message) << method << " " << params;
    EXPECT_EQ(reply["id"], 5);
  }
  // None of them reached a tool.
  for (const auto& [method, params] : daemon.calls()) EXPECT_EQ(method, "ping");
}

TEST(McpSessionTest, PingAnswersEmpty) {
  FakeDaemon daemon;
  McpSession session(&daemon, "0.1.0");
  EXPECT_EQ(ToJsonText(session.Answer(3, "ping", Json::object())),
            R"({"id":3,"jsonrpc":"2.0","result":{}})");
  EXPECT_TRUE(daemon.calls().empty());
}

TEST(McpSessionTest, ListsToolsByTheDaemonsMode) {
  struct Case {
    std::optional<DaemonReply> ping;
    bool exec_tools;
  };
  const Case cases[] = {
      {FakeDaemon::Ping(false), false},
      {FakeDaemon::Ping(true), true},
      {std::nullopt, false},  // unreachable: only what a read-only daemon serves
      {DaemonReply{true, Error("boom")}, false},
  };
  ASSERT_LT(ToolDefinitions(false, true).size(), ToolDefinitions(true, true).size());
  for (const Case& c : cases) {
    FakeDaemon daemon;
    if (c.ping) daemon.replies["ping"] = *c.ping;
    McpSession session(&daemon, "0.1.0");
    const Json reply = session.Answer(1, "tools/list", Json::object());
    EXPECT_EQ(reply["result"]["tools"].size(), ToolDefinitions(c.exec_tools, true).size());
    EXPECT_TRUE(reply["result"]["tools"][0].contains("title"));
  }
  FakeDaemon daemon;
  McpSession old_client(&daemon, "0.1.0");
  (void)InitializeVersion(old_client, "2025-03-26");
  EXPECT_FALSE(old_client.Answer(1, "tools/list", Json::object())["result"]["tools"][0].contains(
      "title"));
}

TEST(McpSessionTest, ForwardsToolCallsUnchanged) {
  FakeDaemon daemon;
  daemon.replies["read_file"] = {true, Json{{"bytes", 1}, {"content", "x"}, {"path", "a"}}};
  daemon.replies["run_command"] = {
      true, Error("run_command is disabled (read-only mode; start with --allow-exec)")};
  McpSession session(&daemon, "0.1.0");

  const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
      {R"({"name":"read_file","arguments":{"path":"a","max_bytes":5,"extra":[1]}})", "read_file",
       R"({"extra":[1],"max_bytes":5,"path":"a"})",
       R"({"content":[{"text":"{\"bytes\":1,\"content\":\"x\",\"path\":\"a\"}","type":"text"}],"isError":false,"structuredContent":{"bytes":1,"content":"x","path":"a"}})"},
      {R"({"name":"run_command","_meta":{"progressToken":1}})", "run_command", "{}",
       R"j({"content":[{"text":"run_command is disabled (read-only mode; start with --allow-exec)","type":"text"}],"isError":true})j"},
      {R"({"name":"ui_tree","arguments":{}})", "ui_tree", "{}",
       R"j({"content":[{"text":"cannot reach tarvix-agentd at 127.0.0.1:8765: Connection refused (os error 111) (start it, or pass --port)","type":"text"}],"isError":true})j"},
  };
  size_t calls = 0;
  for (const auto& [params, method, forwarded, result] : cases) {
    const Json reply = session.Answer(9, "tools/call", Params(params));
    EXPECT_EQ(ToJsonText(reply["result"]), result) << params;
    ASSERT_EQ(daemon.calls().size(), ++calls);
    EXPECT_EQ(daemon.calls().back().first, method);
    EXPECT_EQ(ToJsonText(daemon.calls().back().second), forwarded);
  }
}

TEST(McpSessionTest, ProgressTokenIsTakenFromMeta) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"_meta":{"progressToken":"abc"}})", "\"abc\""},
      {R"({"_meta":{"progressToken":12}})", "12"},
      {R"({"_meta":{"progressToken":null}})", "null"},
      {R"({"_meta":{"progressToken":{}}})", "null"},
      {R"({"_meta":5})", "null"},
      {R"({"progressToken":1})", "null"},
      {"[]", "null"},
  };
  for (const auto& [params, token] : cases) {
    EXPECT_EQ(ToJsonText(ProgressToken(Params(params))), token) << params;
  }
}

}  // namespace
}  // namespace tarvix::mcp
