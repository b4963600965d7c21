#include "tools/desktop/input_action.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "json/params.h"
#include "tools/desktop/key_names.h"
#include "tools/desktop/input_session.h"

namespace tarvix {
namespace {

// Coordinates and amounts beyond the 32-bit range saturate with their sign
// kept: a far-off position or a huge amount must not wrap around into a
// near one or one of the other sign.
std::optional<int32_t> Int32Param(const Json& params, std::string_view key) {
  const std::optional<int64_t> value = SignedParam(params, key);
  if (!value) return std::nullopt;
  return static_cast<int32_t>(std::clamp<int64_t>(*value, INT32_MIN, INT32_MAX));
}

Result<void> Prefixed(Result<void> step, const char* prefix) {
  if (step) return step;
  return Error(prefix + std::move(step).error());
}

Result<void> MoveIfPositioned(const Json& params, InputBackend& backend) {
  const std::optional<int32_t> x = Int32Param(params, "x");
  const std::optional<int32_t> y = Int32Param(params, "y");
  if (!x || !y) return {};
  return Prefixed(backend.MovePointer(*x, *y), "move failed: ");
}

Result<void> Move(const Json& params, InputBackend& backend) {
  const std::optional<int32_t> x = Int32Param(params, "x");
  if (!x) return Error(MissingParam("x"));
  const std::optional<int32_t> y = Int32Param(params, "y");
  if (!y) return Error(MissingParam("y"));
  return Prefixed(backend.MovePointer(*x, *y), "move failed: ");
}

Result<void> ClickOnce(MouseButton button, InputBackend& backend, ClickPacer& clicks) {
  const ClickTiming timing = backend.click_timing();
  const std::optional<PointerPoint> at =
      timing.counted_by_receiver ? backend.QueryPointer() : std::nullopt;
  const int64_t count = clicks.BeforeClick(button, timing, at);
  Result<void> clicked = backend.ClickButton(button, count);
  clicks.AfterClick(button);
  return Prefixed(std::move(clicked), "click failed: ");
}

Result<void> Click(const Json& params, InputBackend& backend, ClickPacer& clicks) {
  if (Result<void> moved = MoveIfPositioned(params, backend); !moved) return moved;
  MouseButton button = MouseButton::kLeft;
  if (const std::string* name = StringParam(params, "button")) {
    if (*name == "right") button = MouseButton::kRight;
    if (*name == "middle") button = MouseButton::kMiddle;
  }
  return ClickOnce(button, backend, clicks);
}

Result<void> DoubleClick(const Json& params, InputBackend& backend, ClickPacer& clicks) {
  if (Result<void> moved = MoveIfPositioned(params, backend); !moved) return moved;
  if (Result<void> first = ClickOnce(MouseButton::kLeft, backend, clicks); !first) return first;
  return ClickOnce(MouseButton::kLeft, backend, clicks);
}

Result<void> Scroll(const Json& params, InputBackend& backend) {
  const int32_t dy = Int32Param(params, "dy").value_or(0);
  const int32_t dx = Int32Param(params, "dx").value_or(0);
  if (dy != 0) {
    // A positive dy scrolls up, the backend's positive length scrolls down.
    // The most negative amount has no negation in 32 bits: it saturates.
    const auto up = static_cast<int32_t>(std::min<int64_t>(-static_cast<int64_t>(dy), INT32_MAX));
    if (Result<void> v = Prefixed(backend.Scroll(up, ScrollAxis::kVertical), "scroll failed: ");
        !v) {
      return v;
    }
  }
  if (dx != 0) {
    return Prefixed(backend.Scroll(dx, ScrollAxis::kHorizontal), "scroll failed: ");
  }
  return {};
}

Result<void> Type(const Json& params, InputBackend& backend) {
  const std::string* text = StringParam(params, "text");
  if (text == nullptr) return Error(MissingParam("text"));
  return Prefixed(backend.EnterText(*text), "type failed: ");
}

Result<void> PressKey(const Json& params, InputBackend& backend) {
  const std::string* name = StringParam(params, "name");
  if (name == nullptr) return Error(MissingParam("name"));
  const std::optional<Key> key = ResolveKeyName(*name);
  if (!key) return Error("unknown key name: " + *name);
  return Prefixed(backend.ClickKey(*key), "key failed: ");
}

Result<void> RunAction(const std::string& action, const Json& params, InputBackend& backend,
                       ClickPacer& clicks) {
  if (action == "move") return Move(params, backend);
  if (action == "click") return Click(params, backend, clicks);
  if (action == "double_click") return DoubleClick(params, backend, clicks);
  if (action == "scroll") return Scroll(params, backend);
  if (action == "type") return Type(params, backend);
  if (action == "key") return PressKey(params, backend);
  return Error("unknown input action: " + action);
}

}  // namespace

ToolResult PerformInput(const Json& params, ClickPacer& clicks, const InputBackendOpener& open) {
  const std::string* action = StringParam(params, "action");
  if (action == nullptr) return Error(MissingParam("action"));
  Result<std::unique_ptr<InputBackend>> backend = open();
  if (!backend) {
    const bool silent = backend.error().ends_with(kInputServerSilent);
    return Error("input unavailable: " + backend.error() + (silent ? "" : kInputUnavailableHint));
  }
  clicks.BeginRequest();
  Result<void> done = RunAction(*action, params, **backend, clicks);
  backend->reset();  // close before answering, on success and on failure
  if (!done) return Error(std::move(done).error());
  return Json{{"action", *action}, {"done", true}};
}

ToolResult InputTool(const Json& params, const CallContext& context) {
  return PerformInput(params, context.input_session->clicks);
}

}  // namespace tarvix
