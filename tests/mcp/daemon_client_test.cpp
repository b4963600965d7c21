#include "mcp/daemon_client.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

#include "support/loopback.h"

namespace tarvix::mcp {
namespace {

using std::chrono::milliseconds;

std::string Reply(int status, const std::string& body, bool close = false) {
  return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: application/json\r\n" +
         (close ? "Connection: close\r\n" : "") + "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A scripted HTTP server on 127.0.0.1: answers each request with the next
// reply, serving one connection at a time, and records what it received.
class ScriptedServer {
 public:
  struct Step {
    std::string reply;
    bool close_after = false;  // hang up after replying (an idle timeout)
    // Reply as soon as the head is in and hang up with the body unread, as
    // the daemon refuses a body over its limit.
    bool before_body = false;
  };

  explicit ScriptedServer(std::deque<Step> steps) : steps_(std::move(steps)) {
    signal(SIGPIPE, SIG_IGN);  // as tarvix-mcp does; the client relies on it
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener_, 8);
    socklen_t len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }

  uint16_t port() const { return port_; }
  int accepted() const { return accepted_; }
  std::vector<std::string> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    while (true) {
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      ++accepted_;
      while (true) {
        bool closed = false;
        std::string request = testing::ReadUntil(fd, "\r\n\r\n", milliseconds(2000), &closed);
        if (closed || request.empty()) break;
        const size_t length_at = request.find("Content-Length: ");
        const size_t head_end = request.find("\r\n\r\n") + 4;
        const size_t length = std::stoul(request.substr(length_at + 16));
        bool before_body;
        {
          std::lock_guard lock(mutex_);
          before_body = !steps_.empty() && steps_.front().before_body;
        }
        while (!before_body && request.size() < head_end + length) {
          const std::string more = testing::ReadUntil(fd, "", milliseconds(200));
          if (more.empty()) break;
          request += more;
        }
        Step step;
        {
          std::lock_guard lock(mutex_);
          requests_.push_back(request);
          if (steps_.empty()) break;
          step = steps_.front();
          steps_.pop_front();
        }
        send(fd, step.reply.data(), step.reply.size(), MSG_NOSIGNAL);
        if (step.close_after || step.before_body) break;
      }
      close(fd);
    }
  }

  int listener_;
  uint16_t port_;
  std::atomic<int> accepted_{0};
  std::mutex mutex_;
  std::deque<Step> steps_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

std::string Describe(const DaemonReply& reply) {
  return std::string(reply.answered ? "answered " : "unanswered ") +
         (reply.result ? "ok " + ToJsonText(*reply.result) : "error " + reply.result.error());
}

TEST(HttpDaemonClientTest, RepliesAndStatusesBecomeResultsOrMessages) {
  const std::pair<std::string, std::string> cases[] = {
      {Reply(200, R"({"ok":true,"result":{"a":1}})"), R"(answered ok {"a":1})"},
      {Reply(200, R"({"error":"missing param: path","ok":false})"),
       "answered error missing param: path"},
      {Reply(401, R"({"error":"unauthorized","ok":false})"),
       std::string("unanswered error ") + kUnauthorizedMessage},
      {Reply(413, R"({"error":"body too large","ok":false})"),
       "unanswered error tarvix-agentd answered HTTP 413: body too large"},
      {Reply(502, "<html>"), "unanswered error tarvix-agentd answered HTTP 502: <html>"},
      {Reply(200, "not json"), "unanswered error unexpected reply from tarvix-agentd: not json"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n{\"ok\"\r\n"
       "11\r\n:true,\"result\":7}\r\n0\r\n\r\n",
       "answered ok 7"},
      // Framed by the end of the connection.
      {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n{\"ok\":true,\"result\":null}",
       "answered ok null"},
  };
  for (const auto& [reply, expected] : cases) {
    ScriptedServer server({{reply, /*close_after=*/true}});
    HttpDaemonClient client(server.port(), "tok");
    EXPECT_EQ(Describe(client.Call("read_file", Json{{"path", "é"}})), expected) << reply;
  }
}

TEST(HttpDaemonClientTest, SendsOneAuthenticatedPostPerCall) {
  ScriptedServer server({{Reply(200, R"({"ok":true,"result":1})")}});
  HttpDaemonClient client(server.port(), "s3cret");
  ASSERT_TRUE(client.Call("list_dir", Json{{"path", "/tmp"}}).answered);
  const std::string body = R"({"method":"list_dir","params":{"path":"/tmp"}})";
  EXPECT_EQ(server.requests(),
            std::vector<std::string>{"POST /rpc HTTP/1.1\r\nHost: 127.0.0.1:" +
                                     std::to_string(server.port()) +
                                     "\r\nAuthorization: Bearer s3cret\r\nContent-Type: "
                                     "application/json\r\nContent-Length: " +
                                     std::to_string(body.size()) + "\r\n\r\n" + body});
}

TEST(HttpDaemonClientTest, ReusesKeptAliveConnections) {
  ScriptedServer server({{Reply(200, R"({"ok":true,"result":1})")},
                         {Reply(200, R"({"ok":true,"result":2})")},
                         {Reply(200, R"({"ok":true,"result":3})", /*close=*/true)},
                         {Reply(200, R"({"ok":true,"result":4})")}});
  HttpDaemonClient client(server.port(), "t");
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(Describe(client.Call("ping", Json::object())), "answered ok " + std::to_string(i));
  }
  // The third reply said Connection: close, so the fourth call connected anew.
  EXPECT_EQ(server.accepted(), 2);
}

TEST(HttpDaemonClientTest, ReplacesAConnectionTheDaemonClosedWhileIdle) {
  ScriptedServer server({{Reply(200, R"({"ok":true,"result":1})"), /*close_after=*/true},
                         {Reply(200, R"({"ok":true,"result":2})")}});
  HttpDaemonClient client(server.port(), "t");
  EXPECT_EQ(Describe(client.Call("ping", Json::object())), "answered ok 1");
  std::this_thread::sleep_for(milliseconds(50));  // the hang-up reaches the client's socket
  EXPECT_EQ(Describe(client.Call("ping", Json::object())), "answered ok 2");
  EXPECT_EQ(server.accepted(), 2);
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST(HttpDaemonClientTest, ReportsTheRefusalOfABodyTheDaemonStoppedReading) {
  const std::string too_large =
      Reply(413, R"j({"error":"request body too large (limit 67108864 bytes)","ok":false})j", true);
  ScriptedServer server({{too_large, false, /*before_body=*/true}});
  HttpDaemonClient client(server.port(), "t");
  // Far more than the socket buffers hold, so the write is still going
  // when the daemon hangs up.
  EXPECT_EQ(Describe(client.Call("write_file", Json{{"content", std::string(32 << 20, 'x')}})),
            "unanswered error tarvix-agentd answered HTTP 413: request body too large (limit "
            "67108864 bytes)");
}

TEST(HttpDaemonClientTest, ReportsADaemonThatIsNotRunning) {
  uint16_t port;
  {
    ScriptedServer gone({});
    port = gone.port();
  }
  HttpDaemonClient client(port, "t");
  EXPECT_EQ(Describe(client.Call("ping", Json::object())),
            "unanswered error cannot reach tarvix-agentd at 127.0.0.1:" + std::to_string(port) +
                ": Connection refused (os error 111) (start it, or pass --port)");
}

TEST(HttpDaemonClientTest, ReportsAReplyCutShortOrLate) {
  {
    ScriptedServer server({{"HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n{\"ok\"", true}});
    HttpDaemonClient client(server.port(), "t");
    EXPECT_EQ(Describe(client.Call("ping", Json::object())),
              "unanswered error tarvix-agentd at 127.0.0.1:" + std::to_string(server.port()) +
                  " did not answer: connection closed before the reply was complete");
  }
  {
    ScriptedServer server({{"HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n"}});
    HttpDaemonClient client(server.port(), "t", std::chrono::seconds(1));
    EXPECT_EQ(Describe(client.Call("ping", Json::object())),
              "unanswered error tarvix-agentd at 127.0.0.1:" + std::to_string(server.port()) +
                  " did not answer: no reply within the time limit");
  }
}

}  // namespace
}  // namespace tarvix::mcp
