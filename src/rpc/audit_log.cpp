#include "rpc/audit_log.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>

#include "json/params.h"

namespace tarvix {

Json AuditTarget(std::string_view method, const Json& params) {
  const char* key = nullptr;
  if (method == "list_dir" || method == "read_file" || method == "write_file") {
    key = "path";
  } else if (method == "run_command") {
    key = "command";
  } else if (method == "kill_process") {
    key = "pid";
  }
  if (key == nullptr) return nullptr;
  const Json* member = FindParam(params, key);
  return member == nullptr ? Json(nullptr) : *member;
}

std::string AuditLine(std::string_view method, const Json& params, const ToolResult& result,
                      uint64_t unix_seconds) {
  Json record = {
      {"arg", AuditTarget(method, params)},
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

void AppendAuditRecord(const std::string& path, std::string_view method, const Json& params,
                       const ToolResult& result) {
  const std::string line = AuditLine(method, params, result, UnixSecondsNow());
  if (path.empty() || path.find('\0') != std::string::npos) return;
  int fd;
  do {
    fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return;
  // O_NONBLOCK: a FIFO named as the log must not hang a worker.
  // One write call keeps the line whole against other appenders; a short
  // write (disk full) loses the rest, like any other failed append.
  ssize_t written;
  do {
    written = write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  close(fd);
}

}  // namespace tarvix
