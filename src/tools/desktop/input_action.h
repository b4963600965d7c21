// The input executor: performs one "input" request (move, click,
// double_click, scroll, type, key) on a freshly opened backend. Runs on the
// first thread inside the main-thread input loop.
#ifndef TARVIX_TOOLS_DESKTOP_INPUT_ACTION_H_
#define TARVIX_TOOLS_DESKTOP_INPUT_ACTION_H_

#include <functional>
#include <memory>

#include "json/json.h"
#include "platform/input_backend.h"
#include "tools/desktop/click_pacer.h"

namespace tarvix {

using InputBackendOpener = std::function<Result<std::unique_ptr<InputBackend>>()>;

// Checks exec mode and "action", opens a backend with `open`, performs the
// action and returns {"action","done"} or the error message. `clicks` is
// the input loop's click pacer, the only state kept between requests.
ToolResult PerformInput(const Json& params, bool allow_exec, ClickPacer& clicks,
                        const InputBackendOpener& open = OpenInputBackend);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_INPUT_ACTION_H_
