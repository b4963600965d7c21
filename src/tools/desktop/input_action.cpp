#include "tools/desktop/input_action.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "json/params.h"
#include "tools/desktop/input_session.h"
#include "tools/desktop/input_steps.h"
#include "tools/desktop/key_names.h"

namespace tarvix {
namespace {

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
  return ScrollLines(Int32Param(params, "dx").value_or(0), Int32Param(params, "dy").value_or(0),
                     backend);
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
  if (!backend) return Error(InputUnavailable(backend.error()));
  clicks.BeginRequest();
  Result<void> done = RunAction(*action, params, **backend, clicks);
  backend->reset();  // close before answering, on success and on failure
  if (!done) return Error(std::move(done).error());
  return Json{{"action", *action}, {"done", true}};
}

ToolResult InputTool(const Json& params, const CallContext& context) {
  InputSession& session = *context.input_session;
  return session.held.Finish(PerformInput(
      params, session.clicks, [&] { return session.held.Open(OpenInputBackend); }));
}

}  // namespace tarvix
