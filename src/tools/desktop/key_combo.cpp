#include "tools/desktop/key_combo.h"

#include <chrono>

#include "json/params.h"
#include "platform/input_stop.h"
#include "tools/desktop/input_session.h"
#include "tools/desktop/input_steps.h"
#include "tools/desktop/key_names.h"

namespace tarvix {
namespace {

constexpr size_t kMaxKeys = 8;
constexpr char kKeyCountError[] = "invalid param: keys must name 1 to 8 keys";
// A long hold looks for a shutdown this often.
constexpr std::chrono::milliseconds kHoldSlice(50);

Result<std::vector<std::string>> KeyNamesParam(const Json& params) {
  const Json* keys = FindParam(params, "keys");
  if (keys == nullptr) return Error(MissingParam("keys"));
  std::vector<std::string> names;
  if (keys->is_string()) {
    names = SplitChord(keys->get_ref<const std::string&>());
  } else if (keys->is_array() && keys->size() <= kMaxKeys) {
    for (const Json& name : *keys) {
      if (!name.is_string()) return Error(kKeyCountError);
      names.push_back(name.get<std::string>());
    }
  } else {
    return Error(kKeyCountError);
  }
  if (names.empty() || names.size() > kMaxKeys) return Error(kKeyCountError);
  return names;
}

// Waits `hold`, or fails as soon as the daemon stops.
Result<void> Hold(std::chrono::milliseconds hold, PacerClock& clock) {
  const PacerClock::TimePoint end = clock.Now() + hold;
  while (clock.Now() < end) {
    if (InputStopRequested()) return Error("simulating input failed: (the daemon is shutting down)");
    clock.SleepUntil(std::min(end, clock.Now() + kHoldSlice));
  }
  return {};
}

}  // namespace

std::vector<std::string> SplitChord(std::string_view chord) {
  std::vector<std::string> names;
  size_t at = 0;
  while (at < chord.size()) {
    const size_t end = chord[at] == '+' ? at + 1 : std::min(chord.find('+', at), chord.size());
    names.emplace_back(chord.substr(at, end - at));
    at = end;
    if (at == chord.size()) break;
    ++at;  // the separator
    if (at == chord.size()) return {};
  }
  return names;
}

ToolResult PerformKeyCombo(const Json& params, HeldInput& held, PacerClock& clock,
                           const InputBackendOpener& open) {
  Result<std::vector<std::string>> names = KeyNamesParam(params);
  if (!names) return Error(std::move(names).error());
  const Result<int64_t> repeat = BoundedParam(params, "repeat", 1, 100, 1);
  if (!repeat) return Error(repeat.error());
  const Result<int64_t> hold_ms = BoundedParam(params, "hold_ms", 0, 10000, 0);
  if (!hold_ms) return Error(hold_ms.error());
  std::vector<Key> keys;
  Json resolved = Json::array();
  for (const std::string& name : *names) {
    const std::optional<Key> key = ResolveChordKeyName(name);
    if (!key) return Error("unknown key name: " + name);
    keys.push_back(*key);
    resolved.push_back(ReportedKeyName(*key));
  }

  Result<std::unique_ptr<InputBackend>> backend = held.Open(open);
  if (!backend) return Error(InputUnavailable(backend.error()));
  for (int64_t round = 0; round < *repeat; ++round) {
    // A failed press has already released what it pressed.
    Result<void> done = PressKeys(keys, **backend);
    if (done) {
      Result<void> hold = Hold(std::chrono::milliseconds(*hold_ms), clock);
      Result<void> up = ReleaseKeys(keys, **backend);
      done = hold ? std::move(up) : std::move(hold);
    }
    if (!done) return Error("key failed: " + std::move(done).error());
  }
  backend->reset();  // close before answering
  return Json{{"done", true}, {"keys", std::move(resolved)}, {"repeat", *repeat}};
}

ToolResult KeyComboTool(const Json& params, const CallContext& context) {
  InputSession& session = *context.input_session;
  return session.held.Finish(
      PerformKeyCombo(params, session.held, SteadyPacerClock(), OpenInputBackend));
}

}  // namespace tarvix
