#include "platform/file_limit.h"

namespace tarvix {
namespace {

// Written at start-up only, before the threads that read it exist.
std::optional<struct rlimit> original_limit;

}  // namespace

void RaiseOpenFileLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  original_limit = limit;
  if (limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

std::optional<struct rlimit> OriginalOpenFileLimit() { return original_limit; }

}  // namespace tarvix
