#include "platform/input_backend.h"

namespace tarvix {

// No event service is wired up on this platform yet, so opening fails the
// way a refused event source does.
Result<std::unique_ptr<InputBackend>> OpenInputBackend() {
  return Error("no connection could be established: (failed creating event source)");
}

const char kInputUnavailableHint[] =
    " (macOS: grant Tarvix 'Accessibility' in System Settings > Privacy & Security)";

}  // namespace tarvix
