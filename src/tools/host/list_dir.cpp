// list_dir: the entries of one directory, in the order the system gives them.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "base/os_error.h"
#include "base/utf8.h"
#include "json/params.h"
#include "tools/host/host_tools.h"
#include "tools/host/opened_file.h"
#include "tools/host/policy.h"

namespace tarvix {
namespace {

constexpr char kReadDirFailed[] = "read_dir failed: ";

// Closes a directory stream (and the descriptor it took over).
struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

Json Entry(int dir_fd, const char* name) {
  struct stat st;
  // A link describes itself: is_dir and size are the link's own.
  const bool have_status = fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
  Json entry = Json::object();
  entry["is_dir"] = have_status && S_ISDIR(st.st_mode);
  entry["name"] = LossyUtf8(std::string_view(name));
  entry["size"] = have_status ? static_cast<uint64_t>(st.st_size) : uint64_t{0};
  return entry;
}

ToolResult ListScreenedDir(const std::string& path) {
  if (ContainsNul(path)) return Error(std::string(kReadDirFailed) + kNulInPathText);
  ScopedFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return Error(kReadDirFailed + OsErrorText(errno));
  // The path may have led through a symbolic link: screen where it led.
  if (auto screened = ScreenOpened(fd.get(), /*for_write=*/false, kReadDirFailed); !screened) {
    return Error(std::move(screened).error());
  }
  std::unique_ptr<DIR, DirCloser> dir(fdopendir(fd.get()));
  if (dir == nullptr) return Error(kReadDirFailed + OsErrorText(errno));
  const int dir_fd = fd.get();
  (void)fd.Release();  // the stream owns the descriptor now

  Json entries = Json::array();
  // A failed read of the next entry ends the listing like the end of the
  // directory does: the entries read so far are the answer.
  while (const dirent* entry = readdir(dir.get())) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    entries.push_back(Entry(dir_fd, name));
  }
  Json result = Json::object();
  result["entries"] = std::move(entries);
  result["path"] = path;
  return result;
}

}  // namespace

ToolResult ListDir(const Json& params) {
  const std::string* path = StringParam(params, "path");
  if (path == nullptr) return Error(MissingParam("path"));
  std::string expanded = ExpandHome(*path);
  if (auto screened = GuardPath(expanded); !screened) return Error(std::move(screened).error());
  return ListScreenedDir(expanded);
}

}  // namespace tarvix
