#include "platform/linux/os_release.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/utf8.h"

namespace tarvix {
namespace {

// Reads a whole regular file of at most kMaxOsReleaseBytes. The file is
// opened non-blocking and must be regular, so a FIFO planted at the path
// cannot stall the caller.
std::optional<std::string> ReadSmallRegularFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> out;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<uint64_t>(st.st_size) <= kMaxOsReleaseBytes) {
    std::string text(kMaxOsReleaseBytes + 1, '\0');
    size_t used = 0;
    bool failed = false;
    while (used < text.size()) {
      const ssize_t n = read(fd, text.data() + used, text.size() - used);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failed = true;
      if (n <= 0) break;
      used += static_cast<size_t>(n);
    }
    // A file that grew past the bound while being read is still refused.
    if (!failed && used <= kMaxOsReleaseBytes) {
      text.resize(used);
      out = std::move(text);
    }
  }
  close(fd);
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Decodes one shell-style value: quoted pieces and bare words may follow
// each other ("a"'b'c is abc); a blank outside quotes ends the value.
std::string DecodeValue(std::string_view raw) {
  std::string out;
  size_t i = 0;
  while (i < raw.size()) {
    const char c = raw[i];
    if (c == '"') {
      for (++i; i < raw.size() && raw[i] != '"'; ++i) {
        // Inside double quotes a backslash escapes only these characters.
        if (raw[i] == '\\' && i + 1 < raw.size() &&
            std::string_view("\"\\$`").find(raw[i + 1]) != std::string_view::npos) {
          ++i;
        }
        out += raw[i];
      }
      ++i;  // closing quote (or end of line)
    } else if (c == '\'') {
      for (++i; i < raw.size() && raw[i] != '\''; ++i) out += raw[i];
      ++i;
    } else if (IsBlank(c)) {
      break;
    } else if (c == '\\' && i + 1 < raw.size()) {
      out += raw[i + 1];
      i += 2;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> OsReleaseValue(std::string_view text, std::string_view key) {
  std::optional<std::string> found;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != '=') {
      continue;
    }
    std::string value = DecodeValue(line.substr(key.size() + 1));
    if (value.empty()) {
      found.reset();
    } else {
      found = LossyUtf8(std::move(value));
    }
  }
  return found;
}

std::optional<std::string> ReadOsReleaseValue(std::span<const std::string> paths,
                                              std::string_view key) {
  for (const std::string& path : paths) {
    const std::optional<std::string> text = ReadSmallRegularFile(path);
    if (text) return OsReleaseValue(*text, key);
  }
  return std::nullopt;
}

std::optional<std::string> SystemOsVersionId() {
  const std::string paths[] = {"/etc/os-release", "/usr/lib/os-release"};
  return ReadOsReleaseValue(paths, "VERSION_ID");
}

}  // namespace tarvix
