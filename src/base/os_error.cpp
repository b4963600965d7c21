#include "base/os_error.h"

#include <string.h>

namespace tarvix {

std::string OsErrorText(int error_number) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(error_number, buffer, sizeof buffer);
  std::string out(text);
  out += " (os error ";
  out += std::to_string(error_number);
  out += ')';
  return out;
}

}  // namespace tarvix
