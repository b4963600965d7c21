#include <string>
#include <string_view>

#include "tools/host/host_tools.h"

namespace tarvix {

std::string ReadOnlyRefusal(std::string_view method) {
  std::string out(method);
  out += " is disabled (read-only mode; start with --allow-exec)";
  return out;
}

}  // namespace tarvix
