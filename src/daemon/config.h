// The daemon's configuration: settled once at start-up from the command
// line and the environment, immutable afterwards and shared read-only.
#ifndef TARVIX_DAEMON_CONFIG_H_
#define TARVIX_DAEMON_CONFIG_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

// The publicly known built-in token; never accepted for authentication.
inline constexpr char kDefaultToken[] = "zed-quota";
inline constexpr uint16_t kDefaultPort = 8765;

struct DaemonConfig {
  std::string token = kDefaultToken;
  std::string audit_path;
  std::optional<uint32_t> parent_pid;
  uint16_t port = kDefaultPort;
  bool allow_exec = false;
};

// Reads one environment variable's raw bytes; nullopt when unset.
using EnvLookup = std::function<std::optional<std::string>(const char* name)>;
// The process environment.
std::optional<std::string> ProcessEnv(const char* name);

// The per-user state directory: $XDG_STATE_HOME/Tarvix, else
// $HOME/.local/state/Tarvix, else <temporary directory>/Tarvix. Pure.
std::string StateDirectory(const EnvLookup& env);

// Creates `dir` with its parents and restricts it to its owner (0700).
// Failures are silent: they surface later as audit appends that fail.
void PrepareStateDirectory(const std::string& dir);

// Applies the command line (without the program name) to `config`. Never
// fails: malformed values fall back, unknown arguments are skipped.
void ApplyCommandLine(const std::vector<std::string>& args, DaemonConfig* config);

// The whole settlement: state directory (created), default audit path,
// command line, then TARVIX_AGENTD_TOKEN.
DaemonConfig LoadConfig(const std::vector<std::string>& args, const EnvLookup& env);

// Splits the token setting at commas, trims Unicode white space, drops
// empty pieces and the default token. May be empty: then nothing is
// accepted.
std::vector<std::string> AcceptedTokens(std::string_view token);

// Parses one or more ASCII digits with an optional single leading '+'.
std::optional<uint64_t> ParseDecimal(std::string_view text, uint64_t max);

// "127.0.0.1:<port>".
std::string ListenAddress(uint16_t port);
// The start-up banner line, line feed included.
std::string Banner(const DaemonConfig& config);
// The warning printed when no token is accepted, line feed included.
extern const char kNoTokenWarning[];

}  // namespace tarvix

#endif  // TARVIX_DAEMON_CONFIG_H_
