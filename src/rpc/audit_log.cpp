#include "rpc/audit_log.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <optional>

#include "json/params.h"

namespace tarvix {

Json AuditTarget(std::string_view key, const Json& params) {
  if (key.empty()) return nullptr;
  const Json* member = FindParam(params, key);
  return member == nullptr ? Json(nullptr) : *member;
}

std::string AuditLine(std::string_view method, const Json& arg, const ToolResult& result,
                      uint64_t unix_seconds) {
  Json record = {
      {"arg", arg},
      {"error", result.has_value() ? Json(nullptr) : Json(result.error())},
      {"method", method},
      {"ok", result.has_value()},
      {"ts", unix_seconds},
  };
  std::string line = ToJsonText(record);
  line += '\n';
  return line;
}

uint64_t UnixSecondsNow() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();
  return seconds < 0 ? 0 : static_cast<uint64_t>(seconds);
}

namespace {

// A file whose last record was torn by a short write and whose line could
// not be ended then: the next record written to it starts with a line feed.
struct TornLine {
  dev_t device = 0;
  ino_t inode = 0;
};

std::mutex& AppendMutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<TornLine>& PendingTornLine() {
  static std::optional<TornLine> torn;
  return torn;
}

ssize_t WriteOnce(int fd, std::string_view bytes) {
  ssize_t written;
  do {
    written = write(fd, bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  return written;
}

}  // namespace

void AppendAuditRecord(const std::string& path, std::string_view method, const Json& arg,
                       const ToolResult& result) {
  std::string line = AuditLine(method, arg, result, UnixSecondsNow());
  if (path.empty() || path.find('\0') != std::string::npos) return;
  // Appends are serialised so that a torn record and the line feed that
  // ends it stay together. Every call below is non-blocking, so the lock
  // is held for moments only.
  std::lock_guard<std::mutex> lock(AppendMutex());
  int fd;
  do {
    // O_NONBLOCK: a FIFO named as the log must not hang a worker.
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return;
  std::optional<TornLine>& torn = PendingTornLine();
  struct stat st;
  std::optional<TornLine> file;
  if (fstat(fd, &st) == 0) file = TornLine{st.st_dev, st.st_ino};
  const bool ends_torn = torn && file && torn->device == file->device && torn->inode == file->inode;
  if (ends_torn) line.insert(line.begin(), '\n');

  // One write call keeps the line whole against other processes appending.
  const ssize_t written = WriteOnce(fd, line);
  if (written > 0 && ends_torn) torn.reset();  // its line feed went out first
  if (written > (ends_torn ? 1 : 0) && written < static_cast<ssize_t>(line.size())) {
    // A short write (disk full, a FIFO whose reader lags) tore this record.
    // The rest is lost, but the line is ended so the next record stands on
    // its own: now if the file takes one more byte, else with the next one.
    if (WriteOnce(fd, "\n") != 1) torn = file;
  }
  close(fd);
}

}  // namespace tarvix
