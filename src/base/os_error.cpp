#include "base/os_error.h"

#include <string.h>

namespace tarvix {
namespace {

// glibc's strerror_r returns the text, which may be a static string
// instead of the buffer; the POSIX form (macOS) fills the buffer and
// returns 0 or an error number, still filling it for unknown numbers.
[[maybe_unused]] const char* StrerrorText(const char* returned, const char*) { return returned; }
[[maybe_unused]] const char* StrerrorText(int, const char* buffer) {
  return buffer[0] != '\0' ? buffer : "Unknown error";
}

}  // namespace

std::string OsErrorText(int error_number) {
  char buffer[256] = {};
  std::string out(StrerrorText(strerror_r(error_number, buffer, sizeof buffer), buffer));
  out += " (os error ";
  out += std::to_string(error_number);
  out += ')';
  return out;
}

}  // namespace tarvix
