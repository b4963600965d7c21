// The pointer and drag methods: pointer primitives (move, down, up, click,
// scroll) with modifier keys held, a button that may stay down across
// requests, and a press-move-release drag along a path. Run on the input
// loop.
#ifndef TARVIX_TOOLS_DESKTOP_POINTER_ACTION_H_
#define TARVIX_TOOLS_DESKTOP_POINTER_ACTION_H_

#include "json/json.h"
#include "tools/call_context.h"
#include "tools/desktop/click_pacer.h"
#include "tools/desktop/held_input.h"

namespace tarvix {

struct InputSession;

// Reads and checks every param, then performs one pointer op on the
// session's backend (`open` gives a fresh one when nothing is held).
// "down" leaves its button and modifiers held in `session.held`; "up"
// releases them, and posts nothing for a button not held there.
ToolResult PerformPointer(const Json& params, InputSession& session,
                          const InputBackendOpener& open);

// Presses at the first point of "path", moves through every point in
// evenly spaced steps over duration_ms (timed by `clock`), releases at the
// last. The button and modifiers go up whatever happens.
ToolResult PerformDrag(const Json& params, InputSession& session, PacerClock& clock,
                       const InputBackendOpener& open);

// The "pointer" and "drag" methods as the registry calls them.
ToolResult PointerTool(const Json& params, const CallContext& context);
ToolResult DragTool(const Json& params, const CallContext& context);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_POINTER_ACTION_H_
