// The cursor method: where the pointer is, the display holding it, and the
// buttons and keys the daemon holds down. Runs on the input loop, which
// owns what is held.
#ifndef TARVIX_TOOLS_DESKTOP_CURSOR_H_
#define TARVIX_TOOLS_DESKTOP_CURSOR_H_

#include <functional>

#include "json/json.h"
#include "platform/pointer_location.h"
#include "tools/call_context.h"
#include "tools/desktop/held_input.h"

namespace tarvix {

using PointerLocator = std::function<Result<PointerLocation>()>;

// {"buttons","display","keys","x","y"}; a display server that cannot be
// reached gives input's open text.
ToolResult ReportCursor(const HeldInput& held, const PointerLocator& locate);

// The "cursor" method as the registry calls it on the input loop.
ToolResult CursorTool(const Json& params, const CallContext& context);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_CURSOR_H_
