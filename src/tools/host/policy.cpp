#include "tools/host/policy.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "base/lower_case.h"
#include "base/utf8.h"

namespace tarvix {
namespace {

// Order matters in all three tables: screens stop at the first match, and the
// denylist message names the entry that matched.
// clang-format off
constexpr std::array<std::string_view, 15> kCommandDenylist = {
    "rm -rf /",
    "rm -rf /*",
    ":(){",
    "mkfs",
    "dd if=",
    "> /dev/sd",
    "of=/dev/sd",
    "format c:",
    "del /f /s /q c:\\",
    "shutdown",
    "reboot",
    "init 0",
    "init 6",
    "diskpart",
    "wipefs",
};

constexpr std::array<std::string_view, 18> kProtectedWriteLocations = {
    "authorized_keys",
    ".bashrc",
    ".bash_profile",
    ".zshrc",
    ".profile",
    "/etc/",
    "/boot/",
    "/lib/systemd",
    "/.config/autostart",
    "/library/launchagents",
    "/library/launchdaemons",
    "/startup/",
    "\\start menu\\",
    "currentversion/run",
    "tarvix-agentd",
    "crontab",
    "sudoers",
    "/.ssh/",
};

constexpr std::array<std::string_view, 12> kSensitiveReadPaths = {
    ".ssh",
    "/.aws",
    ".gnupg",
    "id_rsa",
    "id_ed25519",
    "keychain",
    "/etc/shadow",
    "\\sam",
    "cookies",
    "login data",
    ".mozilla",
    "google-chrome/default",
};
// clang-format on

// Paths are compared with "\" read as "/", so Windows-style spellings match
// the table entries too.
std::string SlashForm(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::string NormalisedPath(std::string_view path) { return SlashForm(LowerCaseFull(path)); }

// Table entries are compared in the same slash form as the path.
bool ContainsInSlashForm(std::string_view normalised, std::string_view entry) {
  const auto same = [](char path_char, char entry_char) {
    return path_char == (entry_char == '\\' ? '/' : entry_char);
  };
  return std::search(normalised.begin(), normalised.end(), entry.begin(), entry.end(), same) !=
         normalised.end();
}

template <size_t N>
bool ContainsPathEntry(std::string_view normalised, const std::array<std::string_view, N>& table) {
  for (std::string_view entry : table) {
    if (ContainsInSlashForm(normalised, entry)) return true;
  }
  return false;
}

bool HasParentComponent(std::string_view normalised) {
  size_t start = 0;
  while (true) {
    const size_t slash = normalised.find('/', start);
    const std::string_view component = normalised.substr(start, slash - start);
    if (component == "..") return true;
    if (slash == std::string_view::npos) return false;
    start = slash + 1;
  }
}

// HOME or USERPROFILE, when set to valid UTF-8 text.
const char* HomeDirectory() {
  for (const char* name : {"HOME", "USERPROFILE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && IsValidUtf8(value)) return value;
  }
  return nullptr;
}

}  // namespace

std::string ExpandHome(std::string_view path) {
  const bool applies = path == "~" || path.starts_with("~/") || path.starts_with("~\\");
  if (!applies) return std::string(path);
  const char* home = HomeDirectory();
  if (home == nullptr) return std::string(path);
  std::string out(home);
  out.append(path.substr(1));
  return out;
}

Result<void> GuardPath(std::string_view expanded) {
  const std::string normalised = NormalisedPath(expanded);
  if (HasParentComponent(normalised)) return Error("path refused (traversal)");
  if (ContainsPathEntry(normalised, kSensitiveReadPaths)) return Error("path refused (sensitive)");
  return {};
}

Result<void> GuardWritePath(std::string_view expanded) {
  if (ContainsPathEntry(NormalisedPath(expanded), kProtectedWriteLocations)) {
    return Error("write refused (protected location)");
  }
  return {};
}

Result<void> GuardCommand(std::string_view command) {
  const std::string lowered = LowerCaseFull(command);
  for (std::string_view entry : kCommandDenylist) {
    if (lowered.find(entry) != std::string::npos) {
      std::string message = "command refused by safety denylist (matched: ";
      message += entry;
      message += ')';
      return Error(std::move(message));
    }
  }
  return {};
}

}  // namespace tarvix
