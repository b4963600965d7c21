// HTTP intake through the real binary: statuses, exact reply bytes,
// authentication, keep-alive, 100-continue and refused bodies.
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "platform/file_limit.h"

namespace tarvix::testing {
namespace {

constexpr char kPingReply[] =
    R"({"ok":true,"result":{"agent":"tarvix-agentd","mutating":false,"ok":true,"version":"0.1.0"}})";
constexpr char kNotFound[] = R"({"error":"not found","ok":false})";
constexpr char kUnauthorized[] = R"({"error":"unauthorized","ok":false})";

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class HttpIntakeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { daemon_ = TestDaemon::Start({.token = "alpha, beta"}).release(); }
  static void TearDownTestSuite() { delete daemon_; }

  std::string Raw(const std::string& request) { return RawExchange(daemon_->port(), request); }

  static TestDaemon* daemon_;
};
TestDaemon* HttpIntakeTest::daemon_ = nullptr;

TEST_F(HttpIntakeTest, PingEndToEndWithExactHeaders) {
  const HttpReply reply = daemon_->Post(R"({"method":"ping"})", TestDaemon::AuthHeaders("alpha"));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, kPingReply);
  EXPECT_EQ(reply.headers.at("content-type"), "application/json");
  EXPECT_EQ(reply.headers.at("content-length"), std::to_string(reply.body.size()));
  EXPECT_TRUE(reply.headers.count("date"));
  EXPECT_FALSE(reply.headers.count("server")) << "no library version on the wire";
  // The second token of the list is accepted too.
  EXPECT_EQ(daemon_->Post(R"({"method":"ping"})", TestDaemon::AuthHeaders("beta")).body,
            kPingReply);
}

TEST_F(HttpIntakeTest, RoutingAnswers404WhateverTheToken) {
  const auto auth = TestDaemon::AuthHeaders("alpha");
  for (const auto& [method, target] : std::vector<std::pair<std::string, std::string>>{
           {"GET", "/rpc"}, {"POST", "/rpc?x=1"}, {"POST", "/rpc/"}, {"POST", "/RPC"},
           {"OPTIONS", "/rpc"}, {"post", "/rpc"}, {"GET", "/"}}) {
    for (const Headers& headers : {auth, Headers{}}) {
      const HttpReply reply = daemon_->Request(method, target, "{}", headers);
      EXPECT_EQ(reply.status, 404) << method << " " << target;
      EXPECT_EQ(reply.body, kNotFound);
      EXPECT_FALSE(reply.headers.count("access-control-allow-origin"));
    }
  }
}

TEST_F(HttpIntakeTest, AuthenticationIsExact) {
  const std::string ping = R"({"method":"ping"})";
  struct Case {
    Headers headers;
    int status;
  };
  const Case cases[] = {
      {{}, 401},
      {{{"AUTHORIZATION", "Bearer alpha"}}, 200},
      {{{"authorization", "Bearer beta"}}, 200},
      {{{"Authorization", "bearer alpha"}}, 401},
      {{{"Authorization", "Bearer  alpha"}}, 401},
      {{{"Authorization", "Bearer alph"}}, 401},
      {{{"Authorization", "Bearer alpha, beta"}}, 401},
      {{{"Authorization", "Bearer zed-quota"}}, 401},
      {{{"Authorization", "Bearer alpha"}, {"Authorization", "Bearer alpha"}}, 401},
  };
  for (const Case& c : cases) {
    const HttpReply reply = daemon_->Post(ping, c.headers);
    EXPECT_EQ(reply.status, c.status) << (c.headers.empty() ? "" : c.headers[0].second);
    EXPECT_EQ(reply.body, c.status == 200 ? kPingReply : kUnauthorized);
  }
  // Refused before the body is looked at.
  EXPECT_EQ(daemon_->Post("\xFF\xFE", {}).status, 401);
}

TEST_F(HttpIntakeTest, BodiesThatAreNotTextOrNotCalls) {
  const auto auth = TestDaemon::AuthHeaders("alpha");
  const HttpReply bad = daemon_->Post("{\"method\":\"ping\xFF\"}", auth);
  EXPECT_EQ(bad.status, 400);
  EXPECT_EQ(bad.body, R"({"error":"bad body","ok":false})");
  for (const char* body : {"", "not json", "[1]", R"({"method":"ping"} x)", R"({"method":5})"}) {
    const HttpReply reply = daemon_->Post(body, auth);
    EXPECT_EQ(reply.status, 200) << body;
    EXPECT_EQ(reply.body, R"({"error":"unknown method: ","ok":false})") << body;
  }
  // A byte-order mark or a NUL around the value is not JSON whitespace.
  for (const std::string& body : {std::string("\xEF\xBB\xBF{\"method\":\"ping\"}"),
                                 std::string("{\"method\":\"ping\"}\0", 18)}) {
    EXPECT_EQ(daemon_->Post(body, auth).body, R"({"error":"unknown method: ","ok":false})");
  }
  EXPECT_EQ(daemon_->Post(R"({"method":"Ping"})", auth).body,
            R"({"error":"unknown method: Ping","ok":false})");
  EXPECT_EQ(daemon_->Post(R"({"method":"run_command","params":{}})", auth).body,
            R"j({"error":"run_command is disabled (read-only mode; start with --allow-exec)","ok":false})j");
  EXPECT_EQ(daemon_->Post(R"({"method":"input"})", auth).body,
            R"j({"error":"input is disabled (read-only mode; start with --allow-exec)","ok":false})j");
}

TEST_F(HttpIntakeTest, NestingLimit) {
  const auto auth = TestDaemon::AuthHeaders("alpha");
  auto nested = [](int depth) {
    // "params" itself is one level inside the body object.
    return R"({"method":"ping","params":)" + std::string(depth - 1, '[') +
           std::string(depth - 1, ']') + "}";
  };
  EXPECT_EQ(daemon_->Post(nested(127), auth).body, kPingReply);
  EXPECT_EQ(daemon_->Post(nested(128), auth).body, R"({"error":"unknown method: ","ok":false})");
  EXPECT_EQ(daemon_->Post(std::string(1 << 20, '['), auth).body,
            R"({"error":"unknown method: ","ok":false})");
}

TEST_F(HttpIntakeTest, KeepAliveServesManyRequestsOnOneConnection) {
  const int fd = ConnectLoopback(daemon_->port());
  ASSERT_GE(fd, 0);
  const std::string request =
      "POST /rpc HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer alpha\r\nContent-Length: 17\r\n\r\n"
      R"({"method":"ping"})";
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    const std::string reply = ReadUntil(fd, kPingReply, std::chrono::seconds(5));
    ASSERT_NE(reply.find(kPingReply), std::string::npos) << i;
    EXPECT_EQ(reply.find("Connection: close"), std::string::npos);
  }
  // Two requests in one write are answered in order.
  const std::string two = request + request;
  send(fd, two.data(), two.size(), MSG_NOSIGNAL);
  const std::string replies = ReadUntil(fd, std::string(kPingReply) + "HTTP/1.1", std::chrono::seconds(5));
  std::string both = ReadUntil(fd, kPingReply, std::chrono::milliseconds(500));
  EXPECT_NE((replies + both).rfind(kPingReply), (replies + both).find(kPingReply));
  close(fd);
}

TEST_F(HttpIntakeTest, ContinueOnlyForBodiesThatWillBeRead) {
  const std::string head =
      "POST /rpc HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: 17\r\n";
  // Accepted: 100 Continue first, then the reply once the body is sent.
  const int fd = ConnectLoopback(daemon_->port());
  const std::string accepted = head + "Authorization: Bearer alpha\r\n\r\n";
  send(fd, accepted.data(), accepted.size(), MSG_NOSIGNAL);
  EXPECT_EQ(ReadUntil(fd, "\r\n\r\n", std::chrono::seconds(5)), "HTTP/1.1 100 Continue\r\n\r\n");
  send(fd, R"({"method":"ping"})", 17, MSG_NOSIGNAL);
  EXPECT_NE(ReadUntil(fd, kPingReply, std::chrono::seconds(5)).find(kPingReply),
            std::string::npos);
  close(fd);

  // Refused: a final 401 without 100 Continue, and the connection closes
  // without the daemon waiting for the body.
  const std::string refused = RawExchange(daemon_->port(), head + "\r\n");
  EXPECT_EQ(refused.rfind("HTTP/1.1 401 Unauthorized\r\n", 0), 0u) << refused;
  EXPECT_EQ(refused.find("100 Continue"), std::string::npos);
  EXPECT_NE(refused.find("Connection: close"), std::string::npos);
  EXPECT_EQ(BodyOf(refused), kUnauthorized);
}

TEST_F(HttpIntakeTest, RefusedRequestsWithLargeBodiesAreNotRead) {
  // A 404 for a request announcing a gigabyte: answered at once, then closed.
  const std::string response = Raw(
      "POST /nope HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000000\r\n\r\n" + std::string(1000, 'x'));
  EXPECT_EQ(response.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
  EXPECT_EQ(BodyOf(response), kNotFound);
  // Without a body pending the connection stays open for the next request.
  const int fd = ConnectLoopback(daemon_->port());
  const std::string get = "GET /x HTTP/1.1\r\nHost: x\r\n\r\n";
  send(fd, get.data(), get.size(), MSG_NOSIGNAL);
  EXPECT_NE(ReadUntil(fd, kNotFound, std::chrono::seconds(5)).find(kNotFound), std::string::npos);
  send(fd, get.data(), get.size(), MSG_NOSIGNAL);
  EXPECT_NE(ReadUntil(fd, kNotFound, std::chrono::seconds(5)).find(kNotFound), std::string::npos);
  close(fd);
}

TEST_F(HttpIntakeTest, MalformedAndOversizedHeadersNeverReachAWorker) {
  EXPECT_EQ(Raw("GARBAGE\r\n\r\n"), "");
  EXPECT_EQ(Raw("POST /rpc HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n"), "");
  const std::string bad_chunk = Raw(
      "POST /rpc HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer alpha\r\n"
      "Transfer-Encoding: chunked\r\n\r\nzz\r\n");
  EXPECT_EQ(BodyOf(bad_chunk), R"({"error":"bad body","ok":false})");
  // An accepted request announcing more than the daemon reads is refused
  // before any of it is buffered.
  const std::string huge = Raw(
      "POST /rpc HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer alpha\r\n"
      "Content-Length: 1000000000\r\n\r\n{");
  EXPECT_EQ(huge.rfind("HTTP/1.1 413 Content Too Large\r\n", 0), 0u) << huge;
  EXPECT_EQ(BodyOf(huge), R"j({"error":"request body too large (limit 67108864 bytes)","ok":false})j");
  // The daemon still answers.
  EXPECT_EQ(daemon_->Post(R"({"method":"ping"})", TestDaemon::AuthHeaders("alpha")).body,
            kPingReply);
}

TEST_F(HttpIntakeTest, HeadGetsNoBodyAndTheConnectionStaysInStep) {
  const std::string ping =
      "POST /rpc HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer alpha\r\nContent-Length: 17\r\n\r\n"
      R"({"method":"ping"})";
  const int fd = ConnectLoopback(daemon_->port());
  const std::string both = "HEAD /rpc HTTP/1.1\r\nHost: x\r\n\r\n" + ping;
  send(fd, both.data(), both.size(), MSG_NOSIGNAL);
  const std::string replies = ReadUntil(fd, kPingReply, std::chrono::seconds(5));
  close(fd);
  EXPECT_EQ(replies.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << replies;
  EXPECT_NE(replies.find("Content-Length: 32\r\n\r\nHTTP/1.1 200 OK\r\n"), std::string::npos)
      << replies;
  EXPECT_EQ(BodyOf(replies.substr(replies.find("HTTP/1.1 200"))), kPingReply);
}

// Framing the daemon cannot trust, or that would make it buffer without
// bound, closes the connection without an answer.
TEST_F(HttpIntakeTest, UntrustedFramingIsClosed) {
  const std::string head = "POST /rpc HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer alpha\r\n";
  const std::string body = R"({"method":"ping"})";
  const std::string chunked = head + "Transfer-Encoding: chunked\r\n\r\n";
  const std::string cases[] = {
      head + "Transfer-Encoding: xchunked\r\nContent-Length: 17\r\n\r\n" + body,
      head + "Transfer-Encoding: chunked, gzip\r\nContent-Length: 17\r\n\r\n" + body,
      head + "Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n11\r\n" + body +
          "\r\n0\r\n\r\n",
      chunked + "11;" + std::string(20000, 'e') + "\r\n" + body + "\r\n0\r\n\r\n",
      chunked + "11\r\n" + body + "\r\n0\r\nX-Trailer: " + std::string(20000, 't') + "\r\n\r\n",
  };
  for (const std::string& request : cases) {
    EXPECT_EQ(Raw(request), "") << request.substr(0, 160);
  }
  // Small extensions and trailers are fine.
  EXPECT_EQ(BodyOf(Raw(chunked + "11;a=b\r\n" + body + "\r\n0\r\nX-T: 1\r\n\r\n")), kPingReply);
}

TEST_F(HttpIntakeTest, ChunkedBodiesAreRead) {
  const std::string response = Raw(
      "POST /rpc HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer alpha\r\nConnection: close\r\n"
      "Transfer-Encoding: chunked\r\n\r\n5\r\n{\"met\r\nC\r\nhod\":\"ping\"}\r\n0\r\n\r\n");
  EXPECT_EQ(BodyOf(response), kPingReply);
}

TEST_F(HttpIntakeTest, ThousandIdleConnectionsDoNotDelayARequest) {
  RaiseOpenFileLimit();  // this test process holds the thousand sockets
  std::vector<int> idle;
  for (int i = 0; i < 1000; ++i) {
    const int fd = ConnectLoopback(daemon_->port());
    if (fd < 0) break;
    idle.push_back(fd);
  }
  EXPECT_EQ(idle.size(), 1000u);
  // Half of them have sent part of a header.
  for (size_t i = 0; i < idle.size(); i += 2) send(idle[i], "POST /rpc HTTP/1.1\r\n", 20, MSG_NOSIGNAL);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(daemon_->Post(R"({"method":"ping"})", TestDaemon::AuthHeaders("alpha")).body,
            kPingReply);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  for (int fd : idle) close(fd);
}

TEST_F(HttpIntakeTest, HalfSentHeaderIsDroppedAfterTheHeaderTimeout) {
  const int fd = ConnectLoopback(daemon_->port());
  ASSERT_GE(fd, 0);
  // Only the start line: the parser takes it whole, so the connection's
  // buffer is empty again, yet a header has begun.
  send(fd, "POST /rpc HTTP/1.1\r\n", 20, MSG_NOSIGNAL);
  // The daemon closes the connection (read returns 0) without answering,
  // about ten seconds later; the test gives it twenty.
  EXPECT_EQ(ReadUntil(fd, "", std::chrono::seconds(20)), "");
  char byte;
  EXPECT_EQ(recv(fd, &byte, 1, MSG_DONTWAIT), 0) << "connection still open";
  close(fd);
}

class AuditIntegrationTest : public ::testing::Test {};

TEST_F(AuditIntegrationTest, OneLinePerDispatchedCallOnly) {
  auto daemon = TestDaemon::Start();
  const std::string audit = daemon->default_audit_path();
  daemon->Post(R"({"method":"run_command","params":{"command":"ls"}})");
  daemon->Post("not json");
  daemon->Post(R"({"method":"kill_process","params":{"pid":"12"}})");
  daemon->Post(R"({"method":"ping"})", {});                           // 401
  daemon->Request("GET", "/rpc", "", TestDaemon::AuthHeaders());       // 404
  daemon->Post("\xFF");                                                // 400
  const std::string text = ReadFileText(audit);
  std::istringstream lines(text);
  std::vector<Json> records;
  std::string line;
  while (std::getline(lines, line)) records.push_back(Json::parse(line));
  ASSERT_EQ(records.size(), 3u) << text;
  EXPECT_EQ(records[0]["arg"], "ls");
  EXPECT_EQ(records[0]["error"], "run_command is disabled (read-only mode; start with --allow-exec)");
  EXPECT_EQ(records[0]["method"], "run_command");
  EXPECT_EQ(records[0]["ok"], false);
  EXPECT_TRUE(records[0]["ts"].is_number_unsigned());
  EXPECT_EQ(records[1].dump(), R"({"arg":null,"error":"unknown method: ","method":"","ok":false,"ts":)" +
                                   records[1]["ts"].dump() + "}");
  EXPECT_EQ(records[2]["arg"], "12");
}

TEST_F(AuditIntegrationTest, UnwritableLogStillAnswers) {
  auto daemon = TestDaemon::Start({.extra_args = {"--audit", "/nonexistent-dir/x/a.jsonl"}});
  EXPECT_EQ(daemon->Call("ping")["ok"], true);
}

}  // namespace
}  // namespace tarvix::testing
