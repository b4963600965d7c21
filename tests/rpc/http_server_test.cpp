// The HTTP front in-process, with small limits: eviction of idle
// connections at the cap and the time limits of each connection state.
#include "rpc/http_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/loopback.h"

namespace tarvix {
namespace {

using std::chrono::milliseconds;

void Send(int fd, const std::string& bytes) {
  ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// Everything readable until the peer closes (`*closed`) or `timeout`.
std::string Drain(int fd, milliseconds timeout, bool* closed) {
  return testing::ReadUntil(fd, "", timeout, closed);
}

int Connect(uint16_t port) { return testing::ConnectLoopback(port); }

// A server that lives for the rest of the test program (its I/O thread and
// workers never end), answering every request with its body reversed.
HttpServer* StartEchoServer(HttpServerLimits limits) {
  static const Authenticator auth({"t"});
  Result<std::unique_ptr<HttpServer>> created = HttpServer::Create(0, &auth, limits);
  if (!created) return nullptr;
  HttpServer* server = created->release();
  server->Start();
  for (int i = 0; i < 2; ++i) {
    std::thread([server] {
      while (true) {
        PendingRequest request = server->Receive();
        std::string body(request.body().rbegin(), request.body().rend());
        server->Respond(std::move(request), 200, std::move(body));
      }
    }).detach();
  }
  return server;
}

std::string Request(const std::string& body) {
  return "POST /rpc HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer t\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(HttpServerTest, AtTheCapTheLongestIdleConnectionMakesRoom) {
  HttpServerLimits limits;
  limits.max_connections = 3;
  HttpServer* server = StartEchoServer(limits);
  ASSERT_NE(server, nullptr);
  const int oldest = Connect(server->port());
  std::this_thread::sleep_for(milliseconds(50));
  const int busy = Connect(server->port());  // mid-request: never evicted
  Send(busy, "POST /rpc HTTP/1.1\r\n");
  std::this_thread::sleep_for(milliseconds(50));
  const int newer = Connect(server->port());
  std::this_thread::sleep_for(milliseconds(50));

  const int client = Connect(server->port());
  Send(client, Request("abc"));
  bool closed = false;
  const std::string reply = Drain(client, milliseconds(2000), &closed);
  EXPECT_NE(reply.find("\r\n\r\ncba"), std::string::npos) << reply;
  Drain(oldest, milliseconds(2000), &closed);
  EXPECT_TRUE(closed) << "the longest-idle connection stayed open";
  const std::string busy_got = Drain(busy, milliseconds(100), &closed);
  EXPECT_FALSE(closed) << busy_got;
  Drain(newer, milliseconds(100), &closed);
  EXPECT_FALSE(closed);
  for (int fd : {oldest, busy, newer, client}) close(fd);
}

TEST(HttpServerTest, EachStateHasItsTimeLimit) {
  HttpServerLimits limits;
  limits.idle_seconds = 2;
  limits.header_seconds = 1;
  limits.body_seconds = 1;
  HttpServer* server = StartEchoServer(limits);
  ASSERT_NE(server, nullptr);
  // A keep-alive connection that has just been answered is idle, not late.
  const int idle = Connect(server->port());
  Send(idle, Request("x"));
  bool closed = false;
  EXPECT_NE(Drain(idle, milliseconds(500), &closed).find("\r\n\r\nx"), std::string::npos);
  EXPECT_FALSE(closed);
  const int half_header = Connect(server->port());
  Send(half_header, "POST /rpc HTTP/1.1\r\n");
  const int half_body = Connect(server->port());
  Send(half_body, "POST /rpc HTTP/1.1\r\nAuthorization: Bearer t\r\nContent-Length: 9\r\n\r\nab");

  // Each closes within its limit plus the once-a-second sweep; the test
  // allows generous slack for a loaded machine.
  Drain(half_header, milliseconds(5000), &closed);
  EXPECT_TRUE(closed) << "half-sent header kept";
  Drain(half_body, milliseconds(5000), &closed);
  EXPECT_TRUE(closed) << "half-sent body kept";
  Drain(idle, milliseconds(6000), &closed);
  EXPECT_TRUE(closed) << "idle connection kept past the idle limit";
  for (int fd : {idle, half_header, half_body}) close(fd);
}

}  // namespace
}  // namespace tarvix
