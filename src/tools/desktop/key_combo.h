// The key_combo method: presses a chord's keys in order, holds them,
// releases them in reverse, as many times as asked. Runs on the input loop.
#ifndef TARVIX_TOOLS_DESKTOP_KEY_COMBO_H_
#define TARVIX_TOOLS_DESKTOP_KEY_COMBO_H_

#include <string>
#include <vector>

#include "base/result.h"
#include "json/json.h"
#include "tools/call_context.h"
#include "tools/desktop/click_pacer.h"
#include "tools/desktop/held_input.h"

namespace tarvix {

// The key names of "ctrl+shift+t": split at each "+" that follows a name;
// a "+" where a name starts is the plus key itself ("ctrl++"). Empty on
// an empty text or a trailing separator.
std::vector<std::string> SplitChord(std::string_view chord);

// Reads and checks every param, then opens a backend through `held` (the
// held one, or a fresh one from `open`) and plays the chord. Every key
// pressed is released, also when a step fails. `clock` times hold_ms.
ToolResult PerformKeyCombo(const Json& params, HeldInput& held, PacerClock& clock,
                           const InputBackendOpener& open);

// The "key_combo" method as the registry calls it on the input loop.
ToolResult KeyComboTool(const Json& params, const CallContext& context);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_KEY_COMBO_H_
