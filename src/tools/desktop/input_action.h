// The input executor: performs one "input" request (move, click,
// double_click, scroll, type, key) on a freshly opened backend. Runs on the
// first thread inside the main-thread input loop.
#ifndef TARVIX_TOOLS_DESKTOP_INPUT_ACTION_H_
#define TARVIX_TOOLS_DESKTOP_INPUT_ACTION_H_

#include <functional>
#include <memory>

#include "json/json.h"
#include "platform/input_backend.h"
#include "tools/call_context.h"
#include "tools/desktop/click_pacer.h"
#include "tools/desktop/held_input.h"

namespace tarvix {

// Checks "action", opens a backend with `open`, performs the action and
// returns {"action","done"} or the error message. `clicks` is the input
// loop's click pacer, the only state kept between requests. Exec mode is
// the method registry's check, made before this is reached.
ToolResult PerformInput(const Json& params, ClickPacer& clicks,
                        const InputBackendOpener& open = OpenInputBackend);

// The "input" method as the registry calls it on the input loop (needs
// `context.input_session`).
ToolResult InputTool(const Json& params, const CallContext& context);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_INPUT_ACTION_H_
