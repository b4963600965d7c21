// Screen capture on macOS: the system's screencapture program writes a PNG
// into the temporary directory, which is then read back.
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "base/os_error.h"
#include "platform/screen_capture.h"
#include "platform/temp_dir.h"

extern char** environ;

namespace tarvix {
namespace {

constexpr char kCaptureProgram[] = "/usr/sbin/screencapture";
constexpr char kCaptureFileName[] = "tarvix-agentd-shot.png";
constexpr char kCaptureRefused[] =
    "screencapture failed - grant Tarvix 'Screen Recording' in System Settings > Privacy & "
    "Security";

// TMPDIR as given, else the per-user directory, else /tmp.
std::string CapturePath() {
  std::string dir;
  if (const char* tmpdir = getenv("TMPDIR")) {
    dir = tmpdir;
  } else if (std::optional<std::string> per_user = PerUserTempDir()) {
    dir = std::move(*per_user);
  } else {
    dir = "/tmp";
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + kCaptureFileName;
}

// Runs the capture program to completion; its wait status or the spawn
// error number.
Result<int> RunCapture(const std::string& path) {
  char* argv[] = {const_cast<char*>(kCaptureProgram), const_cast<char*>("-x"),
                  const_cast<char*>("-t"), const_cast<char*>("png"),
                  const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = -1;
  const int spawn_error = posix_spawn(&pid, kCaptureProgram, nullptr, nullptr, argv, environ);
  if (spawn_error != 0) return Error(OsErrorText(spawn_error));
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return Error(OsErrorText(errno));
  }
  return status;
}

Result<std::string> ReadWholeFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Error(OsErrorText(errno));
  std::string bytes;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      const int error = errno;
      close(fd);
      return Error(OsErrorText(error));
    }
  }
  close(fd);
  return bytes;
}

}  // namespace

Result<std::string> CaptureMainDisplayPng(MemoryBudget&, MemoryBudget::Grant&) {
  // Every capture goes through the one file, so captures take turns: one
  // call must not read, or remove, the file another is producing. Taking
  // turns also bounds their memory, so nothing is reserved.
  static std::mutex one_at_a_time;
  std::lock_guard<std::mutex> lock(one_at_a_time);
  const std::string path = CapturePath();
  unlink(path.c_str());
  Result<int> status = RunCapture(path);
  if (!status) return Error("screencapture spawn failed: " + std::move(status).error());
  if (*status != 0) return Error(kCaptureRefused);
  Result<std::string> png = ReadWholeFile(path);
  if (!png) return Error("read png: " + std::move(png).error());
  return png;
}

}  // namespace tarvix
