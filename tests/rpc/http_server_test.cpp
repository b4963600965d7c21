// The HTTP front in-process, with small limits: eviction of idle
// connections at the cap and the time limits of each connection state.
#include "rpc/http_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_limit.h"
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
      while (std::optional<PendingRequest> request = server->Receive()) {
        std::string body(request->body().rbegin(), request->body().rend());
        server->Respond(std::move(*request), 200, std::move(body));
      }
    }).detach();
  }
  return server;
}

std::string Request(const std::string& body) {
  return "POST /rpc HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer t\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(HttpServerTest, AtTheCapIdleKeepAliveGoesFirstAndBusyNever) {
  HttpServerLimits limits;
  limits.max_connections = 3;
  HttpServer* server = StartEchoServer(limits);
  ASSERT_NE(server, nullptr);
  bool closed = false;
  const int fresh = Connect(server->port());  // the oldest, but has never sent
  std::this_thread::sleep_for(milliseconds(50));
  const int kept = Connect(server->port());  // answered once, now idle
  Send(kept, Request("k"));
  EXPECT_NE(Drain(kept, milliseconds(500), &closed).find("\r\n\r\nk"), std::string::npos);
  const int busy = Connect(server->port());  // mid-request: never evicted
  Send(busy, "POST /rpc HTTP/1.1\r\n");
  std::this_thread::sleep_for(milliseconds(50));

  const int first = Connect(server->port());
  Send(first, "POST /rpc HTTP/1.1\r\nAuthorization: Bearer t\r\nConnection: close\r\n"
              "Content-Length: 3\r\n\r\nabc");
  EXPECT_NE(Drain(first, milliseconds(2000), &closed).find("\r\n\r\ncba"), std::string::npos);
  close(first);  // gone, so it needs no room of its own
  Drain(kept, milliseconds(2000), &closed);
  EXPECT_TRUE(closed) << "the idle keep-alive connection stayed open";
  std::this_thread::sleep_for(milliseconds(50));
  // Among connections that never sent a byte the oldest goes; the busy
  // one never does.
  const int filler = Connect(server->port());
  std::this_thread::sleep_for(milliseconds(50));
  const int second = Connect(server->port());
  Send(second, Request("xy"));
  EXPECT_NE(Drain(second, milliseconds(2000), &closed).find("\r\n\r\nyx"), std::string::npos);
  Drain(fresh, milliseconds(2000), &closed);
  EXPECT_TRUE(closed) << "the idle fresh connection stayed open";
  const std::string busy_got = Drain(busy, milliseconds(100), &closed);
  EXPECT_FALSE(closed) << busy_got;
  Drain(filler, milliseconds(100), &closed);
  EXPECT_FALSE(closed);
  for (int fd : {fresh, kept, busy, filler, second}) close(fd);
}

// A flood of silent connections at the cap never costs a client whose
// request is already on its way.
TEST(HttpServerTest, FloodAtTheCapStillAnswersARealClient) {
  HttpServerLimits limits;
  limits.max_connections = 64;
  RaiseOpenFileLimit();
  HttpServer* server = StartEchoServer(limits);
  ASSERT_NE(server, nullptr);
  std::vector<int> flood;
  int answered = 0;
  for (int round = 0; round < 10; ++round) {
    for (int i = 0; i < 40; ++i) flood.push_back(Connect(server->port()));
    const int client = Connect(server->port());
    Send(client, Request("ping"));
    for (int i = 0; i < 40; ++i) flood.push_back(Connect(server->port()));
    bool closed = false;
    if (Drain(client, milliseconds(2000), &closed).find("gnip") != std::string::npos) ++answered;
    close(client);
  }
  EXPECT_EQ(answered, 10);
  for (int fd : flood) close(fd);
}

// Request bodies share a budget: past it, the next body waits unread until
// a request in hand is answered.
TEST(HttpServerTest, BodyBudgetHoldsFurtherBodiesBack) {
  static const Authenticator auth({"t"});
  HttpServerLimits limits;
  limits.body_budget = 100;
  Result<std::unique_ptr<HttpServer>> created = HttpServer::Create(0, &auth, limits);
  ASSERT_TRUE(created);
  std::unique_ptr<HttpServer> server = std::move(created).value();
  server->Start();
  const int a = Connect(server->port());
  const int b = Connect(server->port());
  Send(a, Request(std::string(80, 'a')));
  std::optional<PendingRequest> first = server->Receive();
  ASSERT_TRUE(first);
  Send(b, Request(std::string(80, 'b')));
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_FALSE(server->TryReceive()) << "a body was read past the budget";
  server->Respond(std::move(*first), 200, "one");
  std::optional<PendingRequest> second = server->Receive();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->body(), std::string(80, 'b'));
  // Stopping releases waiting workers, and the server may go while a worker
  // still holds a request; that request is then dropped safely.
  std::thread waiter([&] { EXPECT_FALSE(server->Receive()); });
  std::this_thread::sleep_for(milliseconds(50));
  server->Stop();
  waiter.join();
  server.reset();
  second.reset();
  close(a);
  close(b);
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
