#include "mcp/stdio_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <set>
#include <thread>

#include "mcp/fake_daemon.h"
#include "support/loopback.h"

namespace tarvix::mcp {
namespace {

using std::chrono::milliseconds;
using testing::FakeDaemon;

// The server on a pair of pipes, run on its own thread.
class PipedServer {
 public:
  PipedServer(McpSession* session, StdioServerOptions options = {}) {
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    to_server_ = in[1];
    from_server_ = out[0];
    done_ = std::async(std::launch::async, [=] {
      RunStdioServer(session, in[0], out[1], options);
      close(in[0]);
      close(out[1]);
    });
  }
  ~PipedServer() {
    EndInput();
    done_.wait();
    close(from_server_);
  }

  void Send(const std::string& text) {
    ASSERT_EQ(write(to_server_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void EndInput() {
    if (to_server_ >= 0) close(to_server_);
    to_server_ = -1;
  }
  // The next output line, or "" when none comes within the time.
  std::string Line(milliseconds timeout = milliseconds(3000)) {
    while (pending_.find('\n') == std::string::npos) {
      const std::string more = ::tarvix::testing::ReadUntil(from_server_, "\n", timeout);
      if (more.empty()) return "";
      pending_ += more;
    }
    const size_t newline = pending_.find('\n');
    std::string line = pending_.substr(0, newline);
    pending_.erase(0, newline + 1);
    return line;
  }
  bool Ended(milliseconds timeout) {
    return done_.wait_for(timeout) == std::future_status::ready;
  }

 private:
  int to_server_ = -1;
  int from_server_ = -1;
  std::string pending_;
  std::future<void> done_;
};

std::string Call(int id, const std::string& tool, const std::string& extra = "") {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
         R"(,"method":"tools/call","params":{"name":")" + tool + "\"" + extra + "}}\n";
}

TEST(StdioServerTest, AnswersCallsInCompletionOrder) {
  FakeDaemon daemon;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  daemon.replies["run_command"] = {true, Json{{"exit_code", 0}}};
  daemon.replies["read_file"] = {true, Json{{"bytes", 0}}};
  daemon.on_call = [&](std::string_view method, const Json&) {
    if (method == "run_command") released.wait();
  };
  McpSession session(&daemon, "0.1.0");
  PipedServer server(&session);
  server.Send(Call(1, "run_command") + Call(2, "read_file"));
  EXPECT_EQ(Json::parse(server.Line())["id"], 2);
  release.set_value();
  EXPECT_EQ(Json::parse(server.Line())["id"], 1);
}

TEST(StdioServerTest, ReadingWaitsWhileUnansweredLinesHoldTheByteBound) {
  FakeDaemon daemon;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  daemon.replies["write_file"] = {true, Json{{"bytes", 0}}};
  daemon.on_call = [&](std::string_view, const Json&) { released.wait(); };
  McpSession session(&daemon, "0.1.0");
  PipedServer server(&session, {.workers = 3, .max_held_bytes = 500});
  // Each call alone passes the bound (nothing else is held), two together
  // do not; the ping must wait behind the second although workers are free.
  const std::string content = R"(,"arguments":{"content":")" + std::string(500, 'x') + "\"}";
  server.Send(Call(1, "write_file", content) + Call(2, "write_file", content) +
              R"({"jsonrpc":"2.0","id":3,"method":"ping"})" "\n");
  EXPECT_EQ(server.Line(milliseconds(300)), "");
  EXPECT_EQ(daemon.calls().size(), 1u);
  release.set_value();
  for (const int id : {1, 2, 3}) EXPECT_EQ(Json::parse(server.Line())["id"], id);
}

TEST(StdioServerTest, ACancelledRequestGetsNoReply) {
  FakeDaemon daemon;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  daemon.replies["run_command"] = {true, Json{{"exit_code", 0}}};
  daemon.on_call = [&](std::string_view, const Json&) { released.wait(); };
  McpSession session(&daemon, "0.1.0");
  PipedServer server(&session);
  server.Send(Call(1, "run_command") + Call(2, "run_command"));
  // Only ids of requests in flight count; 3 was never sent.
  for (const char* id : {"1", "3"}) {
    server.Send(std::string(R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":)") +
                id + "}}\n");
  }
  server.Send(R"({"jsonrpc":"2.0","id":3,"method":"ping"})" "\n");
  EXPECT_EQ(server.Line(), R"({"id":3,"jsonrpc":"2.0","result":{}})");
  release.set_value();
  EXPECT_EQ(Json::parse(server.Line())["id"], 2);
  EXPECT_EQ(server.Line(milliseconds(300)), "");
  EXPECT_EQ(daemon.calls().size(), 2u);
}

TEST(StdioServerTest, LongCallsWithATokenReportProgressUntilTheyEnd) {
  FakeDaemon daemon;
  daemon.replies["run_command"] = {true, Json{{"exit_code", 0}}};
  daemon.on_call = [](std::string_view, const Json&) {
    std::this_thread::sleep_for(milliseconds(2300));
  };
  McpSession session(&daemon, "0.1.0");
  PipedServer server(&session);
  server.Send(Call(1, "run_command", R"(,"_meta":{"progressToken":"p"})") + Call(2, "run_command"));
  std::vector<std::string> lines;
  for (int i = 0; i < 4; ++i) lines.push_back(server.Line());
  const std::string progress =
      R"({"jsonrpc":"2.0","method":"notifications/progress","params":{"message":"run_command running for %d s","progress":%d,"progressToken":"p"}})";
  auto Progress = [&](int s) {
    std::string text = progress;
    for (int k = 0; k < 2; ++k) text.replace(text.find("%d"), 2, std::to_string(s));
    return text;
  };
  EXPECT_EQ(lines[0], Progress(1));
  EXPECT_EQ(lines[1], Progress(2));
  // Both replies follow; the call without a token got no notifications.
  std::set<int> ids = {Json::parse(lines[2])["id"], Json::parse(lines[3])["id"]};
  EXPECT_EQ(ids, (std::set<int>{1, 2}));
  EXPECT_EQ(server.Line(milliseconds(1200)), "");
}

TEST(StdioServerTest, AnswersBadLinesAndEndsWithItsInput) {
  FakeDaemon daemon;
  daemon.replies["read_file"] = {true, Json{{"bytes", 0}}};
  McpSession session(&daemon, "0.1.0");
  PipedServer server(&session, {.max_line_bytes = 64});
  server.Send("\n{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}\n");
  server.Send("nonsense\n");
  EXPECT_EQ(server.Line(),
            R"({"error":{"code":-32700,"message":"Parse error"},"id":null,"jsonrpc":"2.0"})");
  server.Send(std::string(100, ' ') + "\n");
  EXPECT_EQ(
      server.Line(),
      R"({"error":{"code":-32600,"message":"Invalid Request: message longer than 64 bytes"},"id":null,"jsonrpc":"2.0"})");
  // A last message without its line feed is still answered after input ends.
  server.Send(R"({"jsonrpc":"2.0","id":7,"method":"ping"})");
  server.EndInput();
  EXPECT_EQ(server.Line(), R"({"id":7,"jsonrpc":"2.0","result":{}})");
  EXPECT_TRUE(server.Ended(milliseconds(2000)));
  EXPECT_TRUE(daemon.calls().empty());
}

}  // namespace
}  // namespace tarvix::mcp
