// Steps and parameter readers that the input-loop methods (input,
// key_combo, pointer, drag) share.
#ifndef TARVIX_TOOLS_DESKTOP_INPUT_STEPS_H_
#define TARVIX_TOOLS_DESKTOP_INPUT_STEPS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "json/json.h"
#include "platform/input_backend.h"
#include "tools/desktop/click_pacer.h"

namespace tarvix {

// An integer member saturated to 32 bits with its sign kept (a far-off
// position must not wrap into a near one); nullopt when absent or not an
// integer.
std::optional<int32_t> Int32Param(const Json& params, std::string_view key);

// An integer member from `min` to `max`; `fallback` when absent;
// "invalid param: <key> must be an integer from <min> to <max>" otherwise.
Result<int64_t> BoundedParam(const Json& params, std::string_view key, int64_t min,
                             int64_t max, int64_t fallback);

// "button": left (the default), middle or right.
Result<MouseButton> ButtonParam(const Json& params);

// "modifiers": an array of at most 8 key names (any name a chord takes).
Result<std::vector<Key>> ModifiersParam(const Json& params);

// "input unavailable: <open error>" with the platform hint, as every
// input-loop method reports a backend that cannot open.
std::string InputUnavailable(const std::string& open_error);

// `step`, its error prefixed.
Result<void> Prefixed(Result<void> step, const char* prefix);

// One click of `button` at the pointer, counted and paced by `clicks`.
Result<void> ClickOnce(MouseButton button, InputBackend& backend, ClickPacer& clicks);

// Wheel lines: a positive dy scrolls up, a positive dx right.
Result<void> ScrollLines(int32_t dx, int32_t dy, InputBackend& backend);

// Presses `keys` in order: on failure the keys already pressed go up again
// and the first error returns.
Result<void> PressKeys(const std::vector<Key>& keys, InputBackend& backend);
// Releases `keys` in reverse, every one even after a failure; the first
// error returns.
Result<void> ReleaseKeys(const std::vector<Key>& keys, InputBackend& backend);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_INPUT_STEPS_H_
