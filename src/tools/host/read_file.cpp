// read_file: the text of one file, bounded by max_bytes.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <new>
#include <string>

#include "base/os_error.h"
#include "base/utf8.h"
#include "json/params.h"
#include "tools/host/host_tools.h"
#include "tools/host/opened_file.h"
#include "tools/host/policy.h"

namespace tarvix {
namespace {

constexpr uint64_t kDefaultMaxBytes = 65536;
// A larger max_bytes is clamped to this, like run_command's timeout: one
// call holds at most this much file data, whatever the caller asks for.
constexpr uint64_t kMaxReadBytes = uint64_t{64} << 20;
// Streams and files of unknown size are read through a chunk of this size.
constexpr size_t kReadChunk = 64 * 1024;
// A pipe or device need not ever reach end of file. Its content is what it
// delivers until it ends, fills the limit, stays silent for kStreamQuiet, or
// has kept the call waiting until kStreamDeadline; so a FIFO whose writer
// never writes holds a worker for a moment, not forever. A source that
// never pauses (/dev/zero) is bounded by max_bytes alone.
constexpr std::chrono::milliseconds kStreamQuiet{200};
constexpr std::chrono::seconds kStreamDeadline{2};

constexpr char kStatFailed[] = "stat failed: ";
constexpr char kReadFailed[] = "read failed: ";

std::string TooLarge(uint64_t size, uint64_t limit) {
  return "file too large (" + std::to_string(size) + " bytes > max " + std::to_string(limit) + ")";
}

Unexpected<std::string> ReadFailed(int error_number) {
  return Error(kReadFailed + OsErrorText(error_number));
}

// Reads until end of file or until `cap` bytes are in, whichever is first,
// into one buffer that is never copied as it fills. A file of known size is
// read in place into a buffer of that size plus one byte (one more step, to
// the cap, only if it grew meanwhile). Anything else is appended through a
// chunk to a buffer reserved at the cap: reserving touches no pages, so a
// short stream costs what it delivers and /dev/zero at most the cap.
Result<std::string> ReadUpTo(int fd, size_t cap, size_t known_size, bool stream) {
  std::string buffer;
  if (known_size > 0) {
    buffer.resize(std::min(known_size + 1, cap));
  } else {
    buffer.reserve(cap);
  }
  char chunk[kReadChunk];
  size_t filled = 0;
  const auto deadline = std::chrono::steady_clock::now() + kStreamDeadline;
  while (filled < cap) {
    char* into = chunk;
    size_t room = std::min(sizeof chunk, cap - filled);
    if (known_size > 0) {
      if (filled == buffer.size()) buffer.resize(cap);
      into = buffer.data() + filled;
      room = buffer.size() - filled;
    }
    const ssize_t n = read(fd, into, room);
    if (n > 0) {
      if (into == chunk) buffer.append(chunk, static_cast<size_t>(n));
      filled += static_cast<size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno == EINTR) {
      continue;
    } else if (stream && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitReady(fd, POLLIN, kStreamQuiet, deadline)) break;
    } else {
      return Error(OsErrorText(errno));
    }
  }
  buffer.resize(filled);
  return buffer;
}

ToolResult ReadScreenedFile(const std::string& path, uint64_t max_bytes) {
  if (ContainsNul(path)) return Error(std::string(kStatFailed) + kNulInPathText);
  struct stat by_path;
  if (stat(path.c_str(), &by_path) != 0) return Error(kStatFailed + OsErrorText(errno));
  const uint64_t reported = static_cast<uint64_t>(std::max<off_t>(by_path.st_size, 0));
  if (reported > max_bytes) return Error(TooLarge(reported, max_bytes));

  // Non-blocking so that opening a FIFO never waits for a writer; no
  // controlling terminal may be picked up by opening a tty.
  ScopedFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return ReadFailed(errno);
  // The path may have led through a symbolic link: screen where it led.
  if (auto screened = ScreenOpened(fd.get(), /*for_write=*/false, kReadFailed); !screened) {
    return Error(std::move(screened).error());
  }
  struct stat opened;
  if (fstat(fd.get(), &opened) != 0) return ReadFailed(errno);
  const bool regular = S_ISREG(opened.st_mode);
  const uint64_t opened_size = regular ? static_cast<uint64_t>(opened.st_size) : 0;
  // The name may now lead to another file than the one measured above.
  if (opened_size > max_bytes) return Error(TooLarge(opened_size, max_bytes));
  if (regular) {
    if (const int error = ClearNonBlocking(fd.get()); error != 0) return ReadFailed(error);
  }

  // One byte past the limit tells a file that is too large from one that
  // fits exactly, whatever its status said.
  const size_t cap = static_cast<size_t>(max_bytes) + 1;
  Result<std::string> data =
      ReadUpTo(fd.get(), cap, static_cast<size_t>(opened_size), /*stream=*/!regular);
  if (!data) return Error(kReadFailed + std::move(data).error());
  const uint64_t bytes = data->size();
  if (bytes > max_bytes) {
    uint64_t known = bytes;
    struct stat now;
    if (regular && fstat(fd.get(), &now) == 0) known = std::max<uint64_t>(known, now.st_size);
    return Error(TooLarge(known, max_bytes));
  }
  Json result = Json::object();
  result["bytes"] = bytes;
  result["content"] = LossyUtf8(std::move(*data));
  result["path"] = path;
  return result;
}

}  // namespace

ToolResult ReadFile(const Json& params) {
  const std::string* path = StringParam(params, "path");
  if (path == nullptr) return Error(MissingParam("path"));
  std::string expanded = ExpandHome(*path);
  if (auto screened = GuardPath(expanded); !screened) return Error(std::move(screened).error());
  const uint64_t max_bytes =
      std::min(UnsignedParam(params, "max_bytes").value_or(kDefaultMaxBytes), kMaxReadBytes);
  try {
    return ReadScreenedFile(expanded, max_bytes);
  } catch (const std::bad_alloc&) {
    // Even the clamped limit may be more than memory holds at the moment.
    return ReadFailed(ENOMEM);
  }
}

}  // namespace tarvix
