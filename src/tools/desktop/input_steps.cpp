#include "tools/desktop/input_steps.h"

#include <algorithm>
#include <utility>

#include "json/params.h"
#include "tools/desktop/key_names.h"

namespace tarvix {
namespace {

constexpr size_t kMaxModifiers = 8;

}  // namespace

std::optional<int32_t> Int32Param(const Json& params, std::string_view key) {
  const std::optional<int64_t> value = SignedParam(params, key);
  if (!value) return std::nullopt;
  return static_cast<int32_t>(std::clamp<int64_t>(*value, INT32_MIN, INT32_MAX));
}

Result<int64_t> BoundedParam(const Json& params, std::string_view key, int64_t min,
                             int64_t max, int64_t fallback) {
  if (FindParam(params, key) == nullptr) return fallback;
  const std::optional<int64_t> value = SignedParam(params, key);
  if (!value || *value < min || *value > max) {
    return Error("invalid param: " + std::string(key) + " must be an integer from " +
                 std::to_string(min) + " to " + std::to_string(max));
  }
  return *value;
}

Result<MouseButton> ButtonParam(const Json& params) {
  if (FindParam(params, "button") == nullptr) return MouseButton::kLeft;
  const std::string* name = StringParam(params, "button");
  if (name != nullptr && *name == "left") return MouseButton::kLeft;
  if (name != nullptr && *name == "middle") return MouseButton::kMiddle;
  if (name != nullptr && *name == "right") return MouseButton::kRight;
  return Error("invalid param: button must be left, middle or right");
}

Result<std::vector<Key>> ModifiersParam(const Json& params) {
  std::vector<Key> keys;
  const Json* modifiers = FindParam(params, "modifiers");
  if (modifiers == nullptr) return keys;
  if (!modifiers->is_array() || modifiers->size() > kMaxModifiers) {
    return Error("invalid param: modifiers must be an array of at most 8 key names");
  }
  for (const Json& name : *modifiers) {
    if (!name.is_string()) {
      return Error("invalid param: modifiers must be an array of at most 8 key names");
    }
    const std::optional<Key> key = ResolveChordKeyName(name.get_ref<const std::string&>());
    if (!key) return Error("unknown key name: " + name.get<std::string>());
    keys.push_back(*key);
  }
  return keys;
}

std::string InputUnavailable(const std::string& open_error) {
  const bool hint = !open_error.ends_with(kInputServerSilent) &&
                    !open_error.ends_with(kInputNotOnWayland) &&
                    open_error.find(kInputWaylandCompositor) == std::string::npos;
  return "input unavailable: " + open_error + (hint ? kInputUnavailableHint : "");
}

Result<void> Prefixed(Result<void> step, const char* prefix) {
  if (step) return step;
  return Error(prefix + std::move(step).error());
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

Result<void> ScrollLines(int32_t dx, int32_t dy, InputBackend& backend) {
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

Result<void> PressKeys(const std::vector<Key>& keys, InputBackend& backend) {
  for (size_t i = 0; i < keys.size(); ++i) {
    if (Result<void> down = backend.PressKey(keys[i]); !down) {
      // The failed key too: it may be half down (its Shift, say).
      (void)ReleaseKeys(std::vector<Key>(keys.begin(), keys.begin() + i + 1), backend);
      return down;
    }
  }
  return {};
}

Result<void> ReleaseKeys(const std::vector<Key>& keys, InputBackend& backend) {
  Result<void> done;
  for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
    Result<void> up = backend.ReleaseKey(*key);
    if (done && !up) done = std::move(up);
  }
  return done;
}

}  // namespace tarvix
