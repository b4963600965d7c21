// Starts the real tarvix-agentd binary on a free loopback port with a
// controlled environment and talks to it over real HTTP.
#ifndef TARVIX_TESTS_INTEGRATION_DAEMON_HARNESS_H_
#define TARVIX_TESTS_INTEGRATION_DAEMON_HARNESS_H_

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "json/json.h"
#include "support/loopback.h"

namespace tarvix::testing {

inline constexpr char kTestToken[] = "test-token-0123456789";

struct DaemonOptions {
  bool allow_exec = false;
  // Passed with --token; nullopt passes none.
  std::optional<std::string> token = std::string(kTestToken);
  std::vector<std::string> extra_args;
  // Added to the daemon's environment, which otherwise holds only PATH and
  // HOME (a fresh temporary directory).
  std::map<std::string, std::string> env;
  // Run as this user (setpriv, so the pid is still the daemon's; root
  // only), its HOME handed to it: a daemon in a desktop session runs as
  // the session's user.
  std::string user;
  // Pass --port with a free port (otherwise the arguments decide).
  bool pick_port = true;
  // Wait until the banner (or an exit) before returning.
  bool wait_for_banner = true;
  // Start it the way a careless parent might: SIGCHLD ignored and every
  // signal blocked (both survive exec).
  bool hostile_signal_state = false;
};

struct HttpReply {
  int status = 0;
  std::string body;
  std::map<std::string, std::string> headers;  // names lower-cased
};

using Headers = std::vector<std::pair<std::string, std::string>>;

class TestDaemon {
 public:
  static std::unique_ptr<TestDaemon> Start(DaemonOptions options = {});
  ~TestDaemon();  // kills the daemon and removes its temporary HOME

  uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::string& home() const { return home_; }
  // The default audit log under HOME.
  std::string default_audit_path() const;

  // Everything the daemon wrote to standard error so far.
  std::string Stderr();
  // Waits up to `timeout` for the process to end; its exit status, or the
  // negated signal number, or nullopt when it is still running.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout);

  // POST /rpc with the test token (unless `headers` replaces it).
  HttpReply Post(const std::string& body);
  HttpReply Post(const std::string& body, const Headers& headers);
  HttpReply Request(const std::string& method, const std::string& target, const std::string& body,
                    const Headers& headers);
  // The parsed reply envelope of one call; fails the test on a non-200.
  Json Call(const std::string& method, const Json& params = Json::object());

  static Headers AuthHeaders(const std::string& token = kTestToken);

 private:
  TestDaemon() = default;
  pid_t pid_ = -1;
  int stderr_fd_ = -1;
  uint16_t port_ = 0;
  std::string home_;
  std::string stderr_;
  std::optional<int> exit_status_;
};

// A free loopback port at the time of the call.
uint16_t FreePort();
// Sends `bytes` and reads until the peer closes or `timeout` passes.
std::string RawExchange(uint16_t port, const std::string& bytes,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
// The body of a raw HTTP response (after the blank line).
std::string BodyOf(const std::string& response);
// The number of entries of a directory (a process's /proc fd or task).
size_t CountEntries(const std::string& dir);
// The bytes of a Base64 text (an image in a reply).
std::string DecodeBase64(const std::string& text);
// PNG bytes as 8-bit RGB rows, decoded by ImageMagick (an independent
// decoder); "" when they are no image.
std::string Rgb(const std::string& png);

}  // namespace tarvix::testing

#endif  // TARVIX_TESTS_INTEGRATION_DAEMON_HARNESS_H_
