#include "daemon/config.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "base/utf8.h"
#include "platform/temp_dir.h"

namespace tarvix {
namespace {

// A variable whose value is not UTF-8 text counts as unset.
std::optional<std::string> TextEnv(const EnvLookup& env, const char* name) {
  std::optional<std::string> value = env(name);
  if (value && !IsValidUtf8(*value)) return std::nullopt;
  return value;
}

std::string SystemTempDir(const EnvLookup& env) {
  if (std::optional<std::string> tmpdir = env("TMPDIR")) return LossyUtf8(*tmpdir);
  if (std::optional<std::string> per_user = PerUserTempDir()) return LossyUtf8(*per_user);
  return "/tmp";
}

// Unicode's White_Space property.
bool IsUnicodeWhiteSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

std::string_view TrimUnicodeWhiteSpace(std::string_view s) {
  size_t begin = 0;
  while (begin < s.size()) {
    size_t len = 0;
    if (!IsUnicodeWhiteSpace(DecodeScalarAt(s, begin, &len))) break;
    begin += len;
  }
  size_t end = begin;
  for (size_t i = begin; i < s.size();) {  // last non-space scalar decides the end
    size_t len = 0;
    const char32_t c = DecodeScalarAt(s, i, &len);
    i += len;
    if (!IsUnicodeWhiteSpace(c)) end = i;
  }
  return s.substr(begin, end - begin);
}

}  // namespace

const char kNoTokenWarning[] =
    "tarvix-agentd: WARNING \xE2\x80\x94 running with the publicly-known default token; ALL "
    "requests will be rejected. Pass a real secret via --token (or TARVIX_AGENTD_TOKEN) to "
    "enable access.\n";

std::optional<std::string> ProcessEnv(const char* name) {
  const char* value = getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string StateDirectory(const EnvLookup& env) {
  if (std::optional<std::string> xdg = TextEnv(env, "XDG_STATE_HOME")) return *xdg + "/Tarvix";
  if (std::optional<std::string> home = TextEnv(env, "HOME")) {
    return *home + "/.local/state" + "/Tarvix";
  }
  std::string tmp = SystemTempDir(env);
  if (tmp.empty() || tmp.back() != '/') tmp += '/';
  return tmp + "Tarvix";
}

void PrepareStateDirectory(const std::string& dir) {
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  while (chmod(dir.c_str(), 0700) != 0 && errno == EINTR) {
  }
}

std::optional<uint64_t> ParseDecimal(std::string_view text, uint64_t max) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

void ApplyCommandLine(const std::vector<std::string>& args, DaemonConfig* config) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--allow-exec") {
      config->allow_exec = true;
      continue;
    }
    const bool takes_value = arg == "--port" || arg == "--token" || arg == "--audit" ||
                             arg == "--parent-pid";
    if (!takes_value || i + 1 >= args.size()) continue;
    const std::string& value = args[++i];
    // A value that is not UTF-8 text is consumed but ignored: the field keeps
    // what it had (for numbers: as if unparsable).
    const bool is_text = IsValidUtf8(value);
    if (arg == "--port") {
      const std::optional<uint64_t> port = is_text ? ParseDecimal(value, 65535) : std::nullopt;
      config->port = port ? static_cast<uint16_t>(*port) : kDefaultPort;
    } else if (arg == "--parent-pid") {
      const std::optional<uint64_t> pid = is_text ? ParseDecimal(value, 4294967295u) : std::nullopt;
      config->parent_pid =
          pid ? std::optional<uint32_t>(static_cast<uint32_t>(*pid)) : std::nullopt;
    } else if (is_text && arg == "--token") {
      config->token = value;
    } else if (is_text && arg == "--audit") {
      config->audit_path = value;
    }
  }
}

DaemonConfig LoadConfig(const std::vector<std::string>& args, const EnvLookup& env) {
  DaemonConfig config;
  const std::string state_dir = StateDirectory(env);
  PrepareStateDirectory(state_dir);
  config.audit_path = state_dir + "/agentd-audit.jsonl";
  ApplyCommandLine(args, &config);
  if (std::optional<std::string> token = TextEnv(env, "TARVIX_AGENTD_TOKEN")) {
    config.token = *token;
  }
  return config;
}

std::vector<std::string> AcceptedTokens(std::string_view token) {
  std::vector<std::string> accepted;
  size_t start = 0;
  while (true) {
    const size_t comma = token.find(',', start);
    const std::string_view piece = TrimUnicodeWhiteSpace(
        token.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                             : comma - start));
    if (!piece.empty() && piece != kDefaultToken) accepted.emplace_back(piece);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return accepted;
}

std::string ListenAddress(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

std::string Banner(const DaemonConfig& config) {
  return "tarvix-agentd listening on http://" + ListenAddress(config.port) + "  (mode: " +
         (config.allow_exec ? "MUTATING ENABLED" : "read-only") + ", audit: " +
         config.audit_path + ")\n";
}

}  // namespace tarvix
