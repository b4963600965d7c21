#include "integration/daemon_harness.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <gtest/gtest.h>

extern char** environ;

namespace tarvix::testing {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
using tcp = boost::asio::ip::tcp;
using Clock = std::chrono::steady_clock;

std::string MakeTempHome() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvix-home-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return "";
  return pattern;
}

}  // namespace

uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

std::string RawExchange(uint16_t port, const std::string& bytes,
                        std::chrono::milliseconds timeout) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return "";
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string out = ReadUntil(fd, "", timeout);
  close(fd);
  return out;
}

std::string BodyOf(const std::string& response) {
  const size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? "" : response.substr(end + 4);
}

std::unique_ptr<TestDaemon> TestDaemon::Start(DaemonOptions options) {
  std::unique_ptr<TestDaemon> daemon(new TestDaemon());
  daemon->home_ = MakeTempHome();
  daemon->port_ = options.pick_port ? FreePort() : 0;

  std::vector<std::string> args;
  if (!options.user.empty()) {
    const passwd* user = getpwnam(options.user.c_str());
    if (user == nullptr || chown(daemon->home_.c_str(), user->pw_uid, user->pw_gid) != 0) {
      return nullptr;
    }
    args = {"/usr/bin/setpriv", "--reuid=" + options.user, "--regid=" + options.user,
            "--init-groups", "--"};
  }
  args.push_back(TARVIX_DAEMON_PATH);
  if (options.pick_port) {
    args.push_back("--port");
    args.push_back(std::to_string(daemon->port_));
  }
  if (options.token) {
    args.push_back("--token");
    args.push_back(*options.token);
  }
  if (options.allow_exec) args.push_back("--allow-exec");
  args.insert(args.end(), options.extra_args.begin(), options.extra_args.end());

  std::map<std::string, std::string> env = {{"HOME", daemon->home_}};
  if (const char* path = getenv("PATH")) env["PATH"] = path;
  for (const auto& [key, value] : options.env) env[key] = value;
  std::vector<std::string> env_strings;
  for (const auto& [key, value] : env) env_strings.push_back(key + "=" + value);

  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  int err_pipe[2];
  if (pipe2(err_pipe, O_CLOEXEC) != 0) return nullptr;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  // The daemon starts with the standard three only, so whatever else it
  // holds later it opened itself.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  struct sigaction saved_chld {};
  if (options.hostile_signal_state) {
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setsigmask(&attr, &all);
    // An ignored disposition passes through exec only from the parent.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, &saved_chld);
  }
  const int rc = posix_spawn(&daemon->pid_, argv[0], &actions, &attr, argv.data(), envp.data());
  if (options.hostile_signal_state) sigaction(SIGCHLD, &saved_chld, nullptr);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(err_pipe[1]);
  daemon->stderr_fd_ = err_pipe[0];
  fcntl(daemon->stderr_fd_, F_SETFL, O_NONBLOCK);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    daemon->pid_ = -1;
    return daemon;
  }
  if (options.wait_for_banner) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      if (daemon->Stderr().find("listening on") != std::string::npos) break;
      if (daemon->WaitExit(std::chrono::milliseconds(0))) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return daemon;
}

TestDaemon::~TestDaemon() {
  if (pid_ > 0 && !exit_status_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (stderr_fd_ >= 0) close(stderr_fd_);
  if (!home_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }
}

std::string TestDaemon::default_audit_path() const {
  return home_ + "/.local/state/Tarvix/agentd-audit.jsonl";
}

std::string TestDaemon::Stderr() {
  char buffer[4096];
  while (true) {
    const ssize_t n = read(stderr_fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    stderr_.append(buffer, static_cast<size_t>(n));
  }
  return stderr_;
}

std::optional<int> TestDaemon::WaitExit(std::chrono::milliseconds timeout) {
  if (exit_status_) return exit_status_;
  const auto deadline = Clock::now() + timeout;
  do {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
      return exit_status_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (Clock::now() < deadline);
  return std::nullopt;
}

Headers TestDaemon::AuthHeaders(const std::string& token) {
  return {{"Authorization", "Bearer " + token}};
}

HttpReply TestDaemon::Post(const std::string& body) { return Post(body, AuthHeaders()); }

HttpReply TestDaemon::Post(const std::string& body, const Headers& headers) {
  return Request("POST", "/rpc", body, headers);
}

HttpReply TestDaemon::Request(const std::string& method, const std::string& target,
                              const std::string& body, const Headers& headers) {
  HttpReply reply;
  boost::asio::io_context io;
  beast::tcp_stream stream(io);
  stream.expires_after(std::chrono::seconds(150));
  beast::error_code ec;
  stream.connect(tcp::endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), port_), ec);
  if (ec) {
    ADD_FAILURE() << "connect: " << ec.message();
    return reply;
  }
  http::request<http::string_body> request;
  request.method_string(method);
  request.target(target);
  request.version(11);
  request.set(http::field::host, "127.0.0.1");
  for (const auto& [name, value] : headers) request.insert(name, value);
  request.body() = body;
  request.prepare_payload();
  http::write(stream, request, ec);
  if (ec) {
    ADD_FAILURE() << "write: " << ec.message();
    return reply;
  }
  beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  parser.body_limit(std::numeric_limits<std::uint64_t>::max());
  http::read(stream, buffer, parser, ec);
  if (ec) {
    ADD_FAILURE() << "read: " << ec.message();
    return reply;
  }
  const auto& response = parser.get();
  reply.status = static_cast<int>(response.result_int());
  reply.body = response.body();
  for (const auto& field : response) {
    std::string name(field.name_string());
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    reply.headers[name] = std::string(field.value());
  }
  return reply;
}

Json TestDaemon::Call(const std::string& method, const Json& params) {
  const HttpReply reply = Post(ToJsonText(Json{{"method", method}, {"params", params}}));
  EXPECT_EQ(reply.status, 200) << reply.body;
  return Json::parse(reply.body, nullptr, false);
}

size_t CountEntries(const std::string& dir) {
  size_t n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

std::string DecodeBase64(const std::string& text) {
  std::string bytes(text.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  bytes.resize(static_cast<size_t>(std::max(n, 0)));
  // EVP_DecodeBlock counts the padding as zero bytes.
  bytes.resize(bytes.size() - (text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0));
  return bytes;
}

std::string Rgb(const std::string& png) {
  char path[] = "/tmp/tarvix-png-XXXXXX";
  const int fd = mkstemp(path);
  const bool written = write(fd, png.data(), png.size()) == static_cast<ssize_t>(png.size());
  close(fd);
  std::string rgb;
  if (written) {
    FILE* pipe = popen(("/usr/bin/convert png:" + std::string(path) + " -depth 8 rgb:-").c_str(), "r");
    char chunk[65536];
    size_t n;
    while (pipe != nullptr && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0) rgb.append(chunk, n);
    if (pipe != nullptr) pclose(pipe);
  }
  unlink(path);
  return rgb;
}

}  // namespace tarvix::testing
