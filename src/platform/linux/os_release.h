// The os-release file (/etc/os-release, /usr/lib/os-release): shell-style
// KEY=value lines that name the distribution and its version.
#ifndef TARVIX_PLATFORM_LINUX_OS_RELEASE_H_
#define TARVIX_PLATFORM_LINUX_OS_RELEASE_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvix {

// Files above this size are not os-release files; they are ignored.
inline constexpr size_t kMaxOsReleaseBytes = 64 * 1024;

// The value assigned to `key` in os-release text, unquoted and unescaped
// (double quotes honour backslash escapes, single quotes none), as valid
// UTF-8. The last assignment wins. nullopt when the key is absent or its
// value is empty.
std::optional<std::string> OsReleaseValue(std::string_view text, std::string_view key);

// Looks `key` up in the first of `paths` that can be read (the next path is
// tried only when one cannot be opened or read, as os-release(5) asks).
std::optional<std::string> ReadOsReleaseValue(std::span<const std::string> paths,
                                              std::string_view key);

// VERSION_ID from /etc/os-release, else /usr/lib/os-release.
std::optional<std::string> SystemOsVersionId();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_LINUX_OS_RELEASE_H_
