// The state the input loop keeps between requests, owned by the first
// thread and handed to every method that runs there.
#ifndef TARVIX_TOOLS_DESKTOP_INPUT_SESSION_H_
#define TARVIX_TOOLS_DESKTOP_INPUT_SESSION_H_

#include "tools/desktop/click_pacer.h"
#include "tools/desktop/held_input.h"

namespace tarvix {

struct InputSession {
  ClickPacer clicks;
  HeldInput held;
};

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_INPUT_SESSION_H_
