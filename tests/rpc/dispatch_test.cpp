#include "rpc/dispatch.h"

#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

ToolResult EchoParams(const Json& params, bool) { return Json{{"saw", params}}; }
ToolResult Fails(const Json&, bool) { return Error("boom"); }
ToolResult Throws(const Json&, bool) { throw std::runtime_error("surprise"); }
ToolResult ThrowsInt(const Json&, bool) { throw 42; }
ToolResult NeverCalled(const Json&, bool) {
  ADD_FAILURE() << "a gated tool ran in read-only mode";
  return Json();
}

constexpr MethodEntry kFakeTable[] = {
    {"echo", EchoParams, false}, {"fails", Fails, false},     {"throws", Throws, false},
    {"throws_int", ThrowsInt, false}, {"mutate", NeverCalled, true},
    {"echo", Fails, false},  // shadowed: the first match runs
};

TEST(DispatchTest, TableLookupIsExactAndFirstMatch) {
  EXPECT_EQ(DispatchTool(kFakeTable, "echo", 5, false).value(), Json({{"saw", 5}}));
  EXPECT_EQ(DispatchTool(kFakeTable, "Echo", 5, false).error(), "unknown method: Echo");
  EXPECT_EQ(DispatchTool(kFakeTable, "", 5, false).error(), "unknown method: ");
  EXPECT_EQ(DispatchTool(kFakeTable, "fails", 5, false).error(), "boom");
}

TEST(DispatchTest, ReadOnlyGateComesBeforeParams) {
  EXPECT_EQ(DispatchTool(kFakeTable, "mutate", Json(), false).error(),
            "mutate is disabled (read-only mode; start with --allow-exec)");
  for (const char* method : {"run_command", "write_file", "kill_process"}) {
    EXPECT_EQ(DispatchTool(DaemonMethodTable(), method, Json::object(), false).error(),
              std::string(method) + " is disabled (read-only mode; start with --allow-exec)");
  }
}

TEST(DispatchTest, ExceptionsBecomeErrors) {
  EXPECT_EQ(DispatchTool(kFakeTable, "throws", {}, false).error(), "internal error: surprise");
  EXPECT_EQ(DispatchTool(kFakeTable, "throws_int", {}, false).error(), "internal error");
}

TEST(DispatchTest, PingAndEnvelope) {
  EXPECT_EQ(ToJsonText(Envelope(DispatchTool(DaemonMethodTable(), "ping", "ignored", false))),
            R"({"ok":true,"result":{"agent":"tarvix-agentd","mutating":false,"ok":true,"version":"0.1.0"}})");
  EXPECT_EQ(DispatchTool(DaemonMethodTable(), "ping", {}, true).value()["mutating"], true);
  EXPECT_EQ(ToJsonText(Envelope(Error("x \"y\""))), R"({"error":"x \"y\"","ok":false})");
}

TEST(DispatchInputTest, ReadOnlyNeverReachesTheChannel) {
  auto channel = std::make_shared<InputChannel>();
  {
    InputChannel::Sender sender(channel);
    EXPECT_EQ(DispatchInput(sender, Json::object(), false).error(),
              "input is disabled (read-only mode; start with --allow-exec)");
  }
  // With every sender gone, Receive returns whatever was queued, then nullopt.
  EXPECT_FALSE(channel->Receive()) << "a read-only input request reached the first thread";
}

TEST(DispatchInputTest, AnswersComeFromTheReceivingThread) {
  auto channel = std::make_shared<InputChannel>();
  std::optional<InputChannel::Sender> sender(std::in_place, channel);
  std::thread first([&] {
    int served = 0;
    while (std::optional<InputRequest> request = channel->Receive()) {
      const Json& params = request->params;
      if (params.contains("drop")) continue;  // reply sender dies unanswered
      request->reply.Send(Json{{"n", ++served}, {"echo", params}});
    }
  });
  ToolResult answered = DispatchInput(*sender, Json{{"a", 1}}, true);
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered.value(), Json({{"n", 1}, {"echo", {{"a", 1}}}}));
  EXPECT_EQ(DispatchInput(*sender, Json{{"drop", true}}, true).error(), "input dispatch failed");
  sender.reset();  // last sender gone: the loop ends
  first.join();
}

TEST(DispatchInputTest, GoneReceiverIsReported) {
  auto channel = std::make_shared<InputChannel>();
  InputChannel::Sender sender(channel);
  channel->CloseReceiver();
  EXPECT_EQ(DispatchInput(sender, Json::object(), true).error(),
            "input dispatch failed (main thread gone)");
}

TEST(RpcServiceTest, HandleBodyStatusesAndAudit) {
  auto channel = std::make_shared<InputChannel>();
  const std::string audit = ::testing::TempDir() + "/dispatch-audit.jsonl";
  std::remove(audit.c_str());
  RpcService service(kFakeTable, false, audit, InputChannel::Sender(channel));
  EXPECT_EQ(service.HandleBody("\xC0\xAF"),
            (std::pair<int, std::string>{400, R"({"error":"bad body","ok":false})"}));
  EXPECT_EQ(service.HandleBody(R"({"method":"echo","params":[1]})"),
            (std::pair<int, std::string>{200, R"({"ok":true,"result":{"saw":[1]}})"}));
  EXPECT_EQ(service.HandleBody("nonsense"),
            (std::pair<int, std::string>{200, R"({"error":"unknown method: ","ok":false})"}));
  FILE* f = fopen(audit.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char buffer[512] = {};
  const size_t n = fread(buffer, 1, sizeof buffer - 1, f);
  fclose(f);
  const std::string text(buffer, n);
  // Two dispatched calls, two lines; the 400 left none.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_NE(text.find(R"({"arg":null,"error":null,"method":"echo","ok":true,"ts":)"),
            std::string::npos);
  EXPECT_NE(text.find(R"({"arg":null,"error":"unknown method: ","method":"","ok":false,"ts":)"),
            std::string::npos);
  std::remove(audit.c_str());
}

}  // namespace
}  // namespace tarvix
