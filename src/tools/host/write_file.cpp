// write_file: creates or replaces one file with the given text.
//
// The target is screened twice: by the name it was given (before anything is
// touched) and by what that name really leads to (before anything is created
// or truncated), so a symbolic link cannot carry a write into a place the
// screens refuse by name.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "base/os_error.h"
#include "json/params.h"
#include "platform/real_path.h"
#include "tools/host/host_tools.h"
#include "tools/host/opened_file.h"
#include "tools/host/policy.h"
#include "tools/host/protected_files.h"

namespace tarvix {
namespace {

constexpr char kWriteFailed[] = "write failed: ";
// Some systems reject larger counts; Linux stores at most about this anyway.
constexpr size_t kMaxWriteCall = 0x7FFFFFFF;
// Same bound as the kernel's: a longer chain of links is a loop.
constexpr int kMaxLinkHops = 40;
// Each retry means another process changed the name between two of our
// steps; give up rather than chase it forever.
constexpr int kMaxOpenAttempts = 8;
// A pipe or device that accepts nothing for this long fails the write.
constexpr std::chrono::seconds kStreamStall{2};
// Non-blocking so that a FIFO without a reader fails instead of holding the
// worker; no controlling terminal may be picked up by opening a tty.
constexpr int kOpenFlags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

Unexpected<std::string> WriteFailed(int error_number) {
  return Error(kWriteFailed + OsErrorText(error_number));
}

// The directory and name where open(O_CREAT) would create a missing file.
struct CreationSite {
  ScopedFd dir;
  std::string name;
};

// An opened target; `created` is set when this call created the file.
struct WriteTarget {
  ScopedFd fd;
  std::optional<CreationSite> created;
};

// Follows the final component of `path` through symbolic links the way
// open(O_CREAT) does, to the directory and name it would create. Empty when
// the name exists after all (another process created it meanwhile).
Result<std::optional<CreationSite>> FindCreationSite(const std::string& path) {
  std::string current = path;
  ScopedFd base;  // the directory a relative `current` starts from
  for (int hops = 0;; ++hops) {
    if (current.empty()) return Error(OsErrorText(ENOENT));
    const size_t slash = current.rfind('/');
    const std::string dir_part = slash == std::string::npos ? std::string(".")
                                 : slash == 0               ? std::string("/")
                                                            : current.substr(0, slash);
    std::string name = slash == std::string::npos ? current : current.substr(slash + 1);
    // A trailing slash names a directory, which a file cannot become.
    if (name.empty()) return Error(OsErrorText(EISDIR));

    ScopedFd dir(openat(base.valid() ? base.get() : AT_FDCWD, dir_part.c_str(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return Error(OsErrorText(errno));
    struct stat st;
    if (fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return Error(OsErrorText(errno));
      return std::optional<CreationSite>(CreationSite{std::move(dir), std::move(name)});
    }
    if (!S_ISLNK(st.st_mode)) return std::optional<CreationSite>();
    if (hops == kMaxLinkHops) return Error(OsErrorText(ELOOP));
    Result<std::string> target = ReadLinkAt(dir.get(), name);
    if (!target) return Error(std::move(target).error());
    // A relative link target is read from the link's own directory.
    current = std::move(*target);
    base = std::move(dir);
  }
}

// Opens `path` for writing without truncating it. A missing file is created
// only after the place it would appear at has passed the screens, so a
// dangling link onto a protected file cannot create that file.
Result<WriteTarget> OpenTarget(const std::string& path) {
  for (int attempt = 0; attempt < kMaxOpenAttempts; ++attempt) {
    ScopedFd existing(open(path.c_str(), kOpenFlags));
    if (existing.valid()) return WriteTarget{std::move(existing), std::nullopt};
    if (errno != ENOENT) return WriteFailed(errno);

    Result<std::optional<CreationSite>> site = FindCreationSite(path);
    if (!site) return Error(kWriteFailed + std::move(site).error());
    if (!site->has_value()) continue;
    CreationSite& where = **site;
    Result<std::string> dir_path = RealPathOfDescriptor(where.dir.get());
    if (!dir_path) return Error(kWriteFailed + std::move(dir_path).error());
    std::string resolved = std::move(*dir_path);
    if (!resolved.ends_with('/')) resolved += '/';
    resolved += where.name;
    if (auto screened = ScreenResolvedPath(resolved, /*for_write=*/true); !screened) {
      return Error(std::move(screened).error());
    }
    // O_EXCL with O_NOFOLLOW: if anything took the name since the lookup,
    // fail and look again instead of following it.
    ScopedFd created(openat(where.dir.get(), where.name.c_str(),
                            kOpenFlags | O_CREAT | O_EXCL | O_NOFOLLOW, 0666));
    if (created.valid()) return WriteTarget{std::move(created), std::move(where)};
    if (errno != EEXIST) return WriteFailed(errno);
  }
  return WriteFailed(EEXIST);
}

Result<void> WriteAll(int fd, std::string_view data, bool stream) {
  size_t done = 0;
  while (done < data.size()) {
    const size_t chunk = std::min(data.size() - done, kMaxWriteCall);
    const ssize_t n = write(fd, data.data() + done, chunk);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0) {
      return Error(kWriteZeroText);
    } else if (errno == EINTR) {
      continue;
    } else if (stream && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const auto deadline = std::chrono::steady_clock::now() + kStreamStall;
      if (!WaitReady(fd, POLLOUT, kStreamStall, deadline)) return Error(OsErrorText(EAGAIN));
    } else {
      return Error(OsErrorText(errno));
    }
  }
  return {};
}

ToolResult WriteScreenedFile(const std::string& path, const std::string& content) {
  if (ContainsNul(path)) return Error(std::string(kWriteFailed) + kNulInPathText);
  Result<WriteTarget> target = OpenTarget(path);
  if (!target) return Error(std::move(target).error());
  ScopedFd& fd = target->fd;
  if (auto screened = ScreenOpened(fd.get(), /*for_write=*/true, kWriteFailed); !screened) {
    // Only reachable when a directory moved under us after the site check;
    // a refused place keeps nothing of ours.
    if (target->created) unlinkat(target->created->dir.get(), target->created->name.c_str(), 0);
    return Error(std::move(screened).error());
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return WriteFailed(errno);
  // Checked on what was opened, before anything is truncated: the audit log
  // under any name it has (the screens know only the paths in their table).
  if (IsProtectedFile(st)) {
    if (target->created) unlinkat(target->created->dir.get(), target->created->name.c_str(), 0);
    return Error("write refused (protected location)");
  }
  const bool regular = S_ISREG(st.st_mode);
  if (regular) {
    if (const int error = ClearNonBlocking(fd.get()); error != 0) return WriteFailed(error);
    // Opening with O_TRUNC would have cut the file before the screen above;
    // pipes and devices ignore truncation, as they ignore O_TRUNC.
    int rc;
    do {
      rc = ftruncate(fd.get(), 0);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return WriteFailed(errno);
  }
  if (auto written = WriteAll(fd.get(), content, /*stream=*/!regular); !written) {
    return Error(kWriteFailed + std::move(written).error());
  }
  // Some file systems report a failed write only when the file is closed.
  if (const int error = fd.Close(); error != 0) return WriteFailed(error);
  Json result = Json::object();
  result["bytes_written"] = static_cast<uint64_t>(content.size());
  result["path"] = path;
  return result;
}

}  // namespace

ToolResult WriteFile(const Json& params) {
  const std::string* path = StringParam(params, "path");
  if (path == nullptr) return Error(MissingParam("path"));
  std::string expanded = ExpandHome(*path);
  const std::string* content = StringParam(params, "content");
  if (content == nullptr) return Error(MissingParam("content"));
  if (auto screened = GuardPath(expanded); !screened) return Error(std::move(screened).error());
  if (auto screened = GuardWritePath(expanded); !screened) {
    return Error(std::move(screened).error());
  }
  return WriteScreenedFile(expanded, *content);
}

}  // namespace tarvix
