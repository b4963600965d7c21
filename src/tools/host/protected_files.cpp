#include "tools/host/protected_files.h"

#include <mutex>
#include <utility>

namespace tarvix {
namespace {

std::mutex& ListMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<std::string>& List() {
  static std::vector<std::string> paths;
  return paths;
}

}  // namespace

void SetProtectedFiles(std::vector<std::string> paths) {
  std::lock_guard<std::mutex> lock(ListMutex());
  List() = std::move(paths);
}

bool IsProtectedFile(const struct stat& opened) {
  std::lock_guard<std::mutex> lock(ListMutex());
  for (const std::string& path : List()) {
    struct stat named;
    if (stat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino) {
      return true;
    }
  }
  return false;
}

}  // namespace tarvix
