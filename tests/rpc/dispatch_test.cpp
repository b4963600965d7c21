#include "rpc/dispatch.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "rpc/batch.h"
#include "rpc/worker_lane.h"
#include "tools/desktop/input_session.h"

namespace tarvix {
namespace {

ToolResult EchoParams(const Json& params, const CallContext&) { return Json{{"saw", params}}; }
ToolResult Fails(const Json&, const CallContext&) { return Error("boom"); }
ToolResult Throws(const Json&, const CallContext&) { throw std::runtime_error("surprise"); }
ToolResult ThrowsInt(const Json&, const CallContext&) { throw 42; }
ToolResult NeverCalled(const Json&, const CallContext&) {
  ADD_FAILURE() << "a gated tool ran in read-only mode";
  return Json();
}
ToolResult OnInputLoop(const Json& params, const CallContext& context) {
  if (context.input_session == nullptr) return Error("ran without the input session");
  return Json{{"loop", params}};
}

constexpr auto kAny = ModeNeeded::kAny;
constexpr auto kExec = ModeNeeded::kExecMode;
constexpr auto kWorker = RunsOn::kWorker;
constexpr auto kHost = Lane::kHost;
constexpr MethodEntry kFakeTable[] = {
    {"echo", kAny, kWorker, kHost, "path", EchoParams},
    {"fails", kAny, kWorker, kHost, "", Fails},
    {"throws", kAny, kWorker, kHost, "", Throws},
    {"throws_int", kAny, kWorker, kHost, "", ThrowsInt},
    {"mutate", kExec, kWorker, kHost, "", NeverCalled},
    {"mutate_loop", kExec, RunsOn::kInputLoop, Lane::kDesktop, "", OnInputLoop},
    {"echo", kAny, kWorker, kHost, "", Fails},  // shadowed: the first match runs
};

class DispatchTest : public ::testing::Test {
 protected:
  ToolResult Call(std::span<const MethodEntry> table, std::string_view method, const Json& params,
                  bool exec_mode) {
    return Dispatch(table, method, params, exec_mode, *sender_);
  }
  std::shared_ptr<InputChannel> channel_ = std::make_shared<InputChannel>();
  std::optional<InputChannel::Sender> sender_{std::in_place, channel_};
};

TEST_F(DispatchTest, LookupGateAndGuard) {
  const std::string refusal = " is disabled (read-only mode; start with --allow-exec)";
  struct Case {
    std::string_view method;
    bool exec_mode;
    ToolResult expected;
  } cases[] = {
      {"echo", false, Json{{"saw", 5}}},
      {"Echo", false, Error("unknown method: Echo")},
      {"", true, Error("unknown method: ")},
      {"fails", true, Error("boom")},
      {"throws", true, Error("internal error: surprise")},
      {"throws_int", true, Error("internal error")},
      {"mutate", false, Error("mutate" + refusal)},
      {"mutate_loop", false, Error("mutate_loop" + refusal)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Envelope(Call(kFakeTable, c.method, 5, c.exec_mode)), Envelope(c.expected)) << c.method;
  }
  // The daemon's exec-mode rows, refused before their params are read.
  for (const MethodEntry& entry : DaemonMethodTable()) {
    if (!entry.needs_exec_mode()) continue;
    EXPECT_EQ(Call(DaemonMethodTable(), entry.name, Json::object(), false).error(),
              std::string(entry.name) + refusal);
  }
  sender_.reset();  // with every sender gone, Receive returns what was queued, then nullopt
  EXPECT_FALSE(channel_->Receive()) << "a read-only call reached the first thread";
}

TEST_F(DispatchTest, PingAndEnvelope) {
  EXPECT_EQ(ToJsonText(Envelope(Call(DaemonMethodTable(), "ping", "ignored", false))),
            R"({"ok":true,"result":{"agent":"tarvix-agentd","mutating":false,"ok":true,"version":"0.1.0"}})");
  EXPECT_EQ(Call(DaemonMethodTable(), "ping", {}, true).value()["mutating"], true);
  EXPECT_EQ(ToJsonText(Envelope(Error("x \"y\""))), R"({"error":"x \"y\"","ok":false})");
}

// The audit "arg" of each daemon method comes from its row.
TEST(MethodTableTest, AuditKeysAndPlacement) {
  const std::pair<std::string_view, std::string_view> keys[] = {
      {"ping", ""},       {"get_system_info", ""}, {"list_processes", ""},
      {"list_dir", "path"}, {"read_file", "path"},   {"screenshot", ""},
      {"ui_tree", ""},    {"run_command", "command"}, {"write_file", "path"},
      {"kill_process", "pid"}, {"input", ""}, {"clipboard_read", ""},
      {"clipboard_write", ""}, {"batch", ""}, {"wait_for", ""},
      {"ui_snapshot", ""}, {"ui_action", ""}, {"ui_set_value", ""}, {"displays", ""},
      {"capture", ""}, {"list_windows", ""}, {"window_action", ""},
      {"key_combo", ""}, {"pointer", ""}, {"drag", ""}, {"cursor", ""},
  };
  for (const auto& [name, key] : keys) {
    const MethodEntry* entry = FindMethod(DaemonMethodTable(), name);
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_EQ(entry->audit_key, key) << name;
    const bool input_loop = name == "input" || name == "key_combo" || name == "pointer" ||
                            name == "drag" || name == "cursor";
    const bool desktop = name == "screenshot" || name == "ui_tree" || input_loop ||
                         name.starts_with("clipboard_") || name == "batch" || name == "wait_for" ||
                         name == "ui_snapshot" || name == "ui_action" ||
                         name == "ui_set_value" || name == "displays" || name == "capture" ||
                         name == "list_windows" || name == "window_action";
    EXPECT_EQ(entry->lane == Lane::kDesktop, desktop) << name;
    EXPECT_EQ(entry->runs_on == RunsOn::kInputLoop, input_loop) << name;
  }
  EXPECT_EQ(DaemonMethodTable().size(), std::size(keys));
}

TEST_F(DispatchTest, InputLoopMethodsRunOnTheReceivingThread) {
  std::thread first([channel = channel_] {
    InputSession session;
    while (std::optional<InputRequest> request = channel->Receive()) {
      if (request->params.contains("drop")) continue;  // reply sender dies unanswered
      request->reply.Send(RunInputRequest(*request, true, session));
    }
  });
  EXPECT_EQ(Call(kFakeTable, "mutate_loop", Json{{"a", 1}}, true).value(),
            Json({{"loop", {{"a", 1}}}}));
  EXPECT_EQ(Call(kFakeTable, "mutate_loop", Json{{"drop", true}}, true).error(),
            "mutate_loop dispatch failed");
  // The first thread checks the gate again from the row.
  InputSession session;
  auto [reply, unused] = MakeOneShot<ToolResult>();
  EXPECT_EQ(RunInputRequest(InputRequest{&kFakeTable[5], Json(), std::move(reply)}, false,
                            session)
                .error(),
            "mutate_loop is disabled (read-only mode; start with --allow-exec)");
  channel_->CloseReceiver();
  EXPECT_EQ(Call(kFakeTable, "mutate_loop", Json(), true).error(),
            "mutate_loop dispatch failed (main thread gone)");
  sender_.reset();  // the last sender gone: the loop ends
  first.join();
}

TEST(RpcServiceTest, HandleBodyStatusesAndAudit) {
  auto channel = std::make_shared<InputChannel>();
  const std::string audit = ::testing::TempDir() + "/dispatch-audit.jsonl";
  std::remove(audit.c_str());
  RpcService service(kFakeTable, false, audit, InputChannel::Sender(channel));
  EXPECT_EQ(service.HandleBody("\xC0\xAF"),
            (std::pair<int, std::string>{400, R"({"error":"bad body","ok":false})"}));
  EXPECT_EQ(service.HandleBody(R"({"method":"echo","params":{"path":"/p"}})"),
            (std::pair<int, std::string>{200, R"({"ok":true,"result":{"saw":{"path":"/p"}}})"}));
  EXPECT_EQ(service.HandleBody(R"({"method":"mutate","params":{"path":"/p"}})").second,
            R"j({"error":"mutate is disabled (read-only mode; start with --allow-exec)","ok":false})j");
  EXPECT_EQ(service.HandleBody("nonsense"),
            (std::pair<int, std::string>{200, R"({"error":"unknown method: ","ok":false})"}));
  std::ifstream in(audit);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) lines.push_back(line.substr(0, line.find(",\"ts\"")));
  // Three dispatched calls, three lines; the 400 left none. The row's audit
  // key picks "arg".
  EXPECT_EQ(lines, (std::vector<std::string>{
                       R"({"arg":"/p","error":null,"method":"echo","ok":true)",
                       R"j({"arg":null,"error":"mutate is disabled (read-only mode; start with --allow-exec)","method":"mutate","ok":false)j",
                       R"({"arg":null,"error":"unknown method: ","method":"","ok":false)"}));
  std::remove(audit.c_str());
}

std::vector<std::string> AuditLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.find(",\"ts\"")));
  return lines;
}

ToolResult Big(const Json&, const CallContext&) { return Json(std::string(kMaxBatchResultBytes, 'x')); }

TEST(BatchTest, ChecksEveryStepFirstThenRunsInOrderAuditingEach) {
  constexpr MethodEntry kTable[] = {
      {"echo", kAny, kWorker, kHost, "path", EchoParams},
      {"fails", kAny, kWorker, kHost, "", Fails},
      {"mutate", kExec, kWorker, kHost, "", NeverCalled},
      {"big", kAny, kWorker, kHost, "", Big},
      {"batch", kAny, kWorker, Lane::kDesktop, "", Batch},
  };
  auto channel = std::make_shared<InputChannel>();
  const std::string audit = ::testing::TempDir() + "/batch-audit.jsonl";
  std::remove(audit.c_str());
  RpcService service(kTable, false, audit, InputChannel::Sender(channel));
  struct Refused {
    Json params;
    std::string error;
  } refused[] = {
      {Json::object(), "missing param: steps"},
      {{{"steps", Json::array()}}, "invalid param: steps (an array of 1-32 steps)"},
      {{{"steps", Json(33, {{"method", "echo"}})}}, "invalid param: steps (an array of 1-32 steps)"},
      {{{"steps", {5}}}, "invalid param: steps[0]: a step is an object {method, params}"},
      {{{"steps", {{{"params", Json::object()}}}}}, "invalid param: steps[0]: missing method"},
      {{{"steps", {{{"method", "echo"}}, {{"method", "foo"}}}}},
       "invalid param: steps[1]: unknown method: foo"},
      {{{"steps", {{{"method", "batch"}, {"params", Json::object()}}}}},
       "invalid param: steps[0]: batch cannot be nested"},
      {{{"steps", {{{"method", "echo"}, {"params", 5}}}}},
       "invalid param: steps[0]: params must be an object"},
      {{{"steps", {{{"method", "echo"}}, {{"method", "mutate"}}}}},
       "steps[1]: mutate is disabled (read-only mode; start with --allow-exec)"},
  };
  for (const Refused& c : refused) {
    EXPECT_EQ(service.RunAudited("batch", c.params).error(), c.error) << c.params;
  }
  // None of their steps ran: only the refused batches are in the log.
  EXPECT_EQ(AuditLines(audit).size(), std::size(refused));
  std::remove(audit.c_str());

  const Json steps = {{{"method", "echo"}, {"params", {{"path", "/a"}}}},
                      {{"method", "echo"}},
                      {{"method", "fails"}},
                      {{"method", "echo"}, {"params", {{"path", "/never"}}}}};
  Json result = service.RunAudited("batch", {{"steps", steps}}).value();
  for (Json& step : result["results"]) {
    EXPECT_TRUE(step["ms"].is_number()) << step;
    step.erase("ms");
  }
  EXPECT_EQ(result, Json::parse(R"({"completed":2,"failed_at":2,"results":[
      {"ok":true,"result":{"saw":{"path":"/a"}}},{"ok":true,"result":{"saw":{}}},
      {"error":"boom","ok":false}]})"));
  EXPECT_EQ(AuditLines(audit), (std::vector<std::string>{
                                   R"({"arg":"/a","error":null,"method":"echo","ok":true)",
                                   R"({"arg":null,"error":null,"method":"echo","ok":true)",
                                   R"({"arg":null,"error":"boom","method":"fails","ok":false)",
                                   R"({"arg":null,"error":null,"method":"batch","ok":true)"}));
  // Results that reach the bound stop the batch before the next step runs.
  result = service.RunAudited("batch", {{"steps", {{{"method", "big"}}, {{"method", "echo"}}}}})
               .value();
  EXPECT_EQ(result["completed"], 1);
  EXPECT_EQ(result["failed_at"], 1);
  EXPECT_TRUE(result["results"][1]["error"].get<std::string>().starts_with("refused: "));
  EXPECT_EQ(AuditLines(audit).size(), 6u);
  // Without a service (on the input loop) there is nothing to run steps through.
  EXPECT_EQ(Batch({{"steps", steps}}, CallContext{}).error(),
            "unavailable: batch runs only on a request worker");
  std::remove(audit.c_str());
}

// Six callers, a lane of two: never more than two inside, the other four
// return at once, and the callers inside serve every parked call.
TEST(WorkerLaneTest, BoundsTheCallersInsideAndServesEveryParkedItem) {
  WorkerLane<int> lane(2);
  std::mutex mutex;
  std::condition_variable changed;
  int inside = 0, most_inside = 0;
  bool release = false;
  std::vector<int> served;
  auto serve = [&](int& item) {
    std::unique_lock<std::mutex> lock(mutex);
    most_inside = std::max(most_inside, ++inside);
    served.push_back(item);
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
    --inside;
  };
  std::vector<std::thread> callers;
  for (int i = 0; i < 2; ++i) callers.emplace_back([&, i] { lane.Enter(i, serve); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return served.size() == 2; });
  }
  // The lane is full: these return at once, parked.
  for (int i = 2; i < 6; ++i) lane.Enter(i, serve);
  EXPECT_EQ(lane.parked(), 4u);
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  changed.notify_all();
  for (auto& caller : callers) caller.join();
  EXPECT_EQ(lane.parked(), 0u);
  EXPECT_EQ(most_inside, 2);
  std::sort(served.begin(), served.end());
  EXPECT_EQ(served, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

}  // namespace
}  // namespace tarvix
