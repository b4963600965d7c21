#include "tools/desktop/pointer_action.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "json/params.h"
#include "platform/input_stop.h"
#include "tools/desktop/input_session.h"
#include "tools/desktop/input_steps.h"

namespace tarvix {
namespace {

constexpr size_t kMinPathPoints = 2;
constexpr size_t kMaxPathPoints = 64;
constexpr char kPathError[] = "invalid param: path must be 2 to 64 [x, y] integer points";
constexpr char kStopping[] = "simulating input failed: (the daemon is shutting down)";

enum class Op { kMove, kDown, kUp, kClick, kScroll };

Result<Op> OpParam(const Json& params) {
  const std::string* op = StringParam(params, "op");
  if (op == nullptr) return Error(MissingParam("op"));
  if (*op == "move") return Op::kMove;
  if (*op == "down") return Op::kDown;
  if (*op == "up") return Op::kUp;
  if (*op == "click") return Op::kClick;
  if (*op == "scroll") return Op::kScroll;
  return Error("invalid param: op must be move, down, up, click or scroll");
}

// An integer coordinate or amount, saturated to 32 bits like input's.
Result<std::optional<int32_t>> CoordinateParam(const Json& params, std::string_view key) {
  if (FindParam(params, key) == nullptr) return std::optional<int32_t>();
  const std::optional<int32_t> value = Int32Param(params, key);
  if (!value) return Error("invalid param: " + std::string(key) + " must be an integer");
  return value;
}

// x and y together, or neither.
Result<std::optional<PointerPoint>> PointParam(const Json& params) {
  Result<std::optional<int32_t>> x = CoordinateParam(params, "x");
  if (!x) return Error(std::move(x).error());
  Result<std::optional<int32_t>> y = CoordinateParam(params, "y");
  if (!y) return Error(std::move(y).error());
  if (x->has_value() != y->has_value()) return Error(MissingParam(x->has_value() ? "y" : "x"));
  if (!x->has_value()) return std::optional<PointerPoint>();
  return std::optional<PointerPoint>(PointerPoint{**x, **y});
}

Result<std::vector<PointerPoint>> PathParam(const Json& params) {
  const Json* path = FindParam(params, "path");
  if (path == nullptr) return Error(MissingParam("path"));
  if (!path->is_array() || path->size() < kMinPathPoints || path->size() > kMaxPathPoints) {
    return Error(kPathError);
  }
  std::vector<PointerPoint> points;
  for (const Json& point : *path) {
    if (!point.is_array() || point.size() != 2) return Error(kPathError);
    const Json pair = {{"x", point[0]}, {"y", point[1]}};
    const std::optional<int32_t> x = Int32Param(pair, "x");
    const std::optional<int32_t> y = Int32Param(pair, "y");
    if (!x || !y) return Error(kPathError);
    points.push_back(PointerPoint{*x, *y});
  }
  return points;
}

Result<void> MoveTo(PointerPoint point, InputBackend& backend) {
  return Prefixed(backend.MovePointer(point.x, point.y), "move failed: ");
}

// Where the pointer is after the op.
ToolResult Answer(InputBackend& backend) {
  const std::optional<PointerPoint> at = backend.QueryPointer();
  if (!at) return Error("unavailable: the pointer position cannot be read");
  return Json{{"done", true}, {"x", at->x}, {"y", at->y}};
}

// The op itself, with the modifiers already down.
Result<void> RunOp(Op op, const Json& params, std::optional<PointerPoint> point,
                   MouseButton button, int64_t count, InputBackend& backend,
                   InputSession& session) {
  if (point) {
    if (Result<void> moved = MoveTo(*point, backend); !moved) return moved;
  }
  switch (op) {
    case Op::kMove:
      return {};
    case Op::kDown:
      return Prefixed(backend.PressButton(button), "button failed: ");
    case Op::kUp:
      return Prefixed(session.held.Release(button), "button failed: ");
    case Op::kClick:
      for (int64_t i = 0; i < count; ++i) {
        if (Result<void> clicked = ClickOnce(button, backend, session.clicks); !clicked) {
          return clicked;
        }
      }
      return {};
    case Op::kScroll:
      return ScrollLines(Int32Param(params, "dx").value_or(0),
                         Int32Param(params, "dy").value_or(0), backend);
  }
  return {};
}

}  // namespace

ToolResult PerformPointer(const Json& params, InputSession& session,
                          const InputBackendOpener& open) {
  const Result<Op> op = OpParam(params);
  if (!op) return Error(op.error());
  Result<std::optional<PointerPoint>> point = PointParam(params);
  if (!point) return Error(std::move(point).error());
  if (*op == Op::kMove && !point->has_value()) return Error(MissingParam("x"));
  const Result<MouseButton> button = ButtonParam(params);
  if (!button) return Error(button.error());
  const Result<int64_t> count = BoundedParam(params, "count", 1, 3, 1);
  if (!count) return Error(count.error());
  Result<std::vector<Key>> modifiers = ModifiersParam(params);
  if (!modifiers) return Error(std::move(modifiers).error());
  for (const char* amount : {"dx", "dy"}) {
    if (Result<std::optional<int32_t>> read = CoordinateParam(params, amount); !read) {
      return Error(std::move(read).error());
    }
  }

  Result<std::unique_ptr<InputBackend>> backend = session.held.Open(open);
  if (!backend) return Error(InputUnavailable(backend.error()));
  InputBackend& input = **backend;
  if (*op == Op::kUp && !session.held.Holds(*button)) return Answer(input);
  session.clicks.BeginRequest();
  if (Result<void> down = PressKeys(*modifiers, input); !down) {
    return Error("key failed: " + std::move(down).error());
  }
  Result<void> done = RunOp(*op, params, *point, *button, *count, input, session);
  if (done && *op == Op::kDown) {
    // The modifiers stay down with the button, released with it.
    ToolResult answer = Answer(input);
    session.held.Keep(std::move(*backend), *button, std::move(*modifiers));
    return answer;
  }
  Result<void> up = ReleaseKeys(*modifiers, input);
  if (!done) return Error(std::move(done).error());
  if (!up) return Error("key failed: " + std::move(up).error());
  return Answer(input);
}

ToolResult PerformDrag(const Json& params, InputSession& session, PacerClock& clock,
                       const InputBackendOpener& open) {
  Result<std::vector<PointerPoint>> path = PathParam(params);
  if (!path) return Error(std::move(path).error());
  const Result<MouseButton> button = ButtonParam(params);
  if (!button) return Error(button.error());
  Result<std::vector<Key>> modifiers = ModifiersParam(params);
  if (!modifiers) return Error(std::move(modifiers).error());
  const Result<int64_t> duration_ms = BoundedParam(params, "duration_ms", 0, 10000, 300);
  if (!duration_ms) return Error(duration_ms.error());
  const Result<int64_t> steps = BoundedParam(params, "steps", 1, 100, 10);
  if (!steps) return Error(steps.error());

  Result<std::unique_ptr<InputBackend>> backend = session.held.Open(open);
  if (!backend) return Error(InputUnavailable(backend.error()));
  InputBackend& input = **backend;
  // A button "down" left held is the drag's to release.
  if (Result<void> released = session.held.Release(*button); !released) {
    return Error("button failed: " + std::move(released).error());
  }
  if (Result<void> down = PressKeys(*modifiers, input); !down) {
    return Error("key failed: " + std::move(down).error());
  }
  int64_t events = 0;
  const auto drag = [&]() -> Result<void> {
    const std::vector<PointerPoint>& points = *path;
    if (Result<void> moved = MoveTo(points.front(), input); !moved) return moved;
    ++events;
    if (Result<void> pressed = Prefixed(input.PressButton(*button), "button failed: ");
        !pressed) {
      return pressed;
    }
    ++events;
    const int64_t total = static_cast<int64_t>(points.size() - 1) * *steps;
    const PacerClock::TimePoint start = clock.Now();
    int64_t done = 0;
    for (size_t segment = 0; segment + 1 < points.size(); ++segment) {
      const PointerPoint from = points[segment];
      const PointerPoint to = points[segment + 1];
      for (int64_t step = 1; step <= *steps; ++step) {
        if (InputStopRequested()) return Error(kStopping);
        const auto between = [&](int32_t a, int32_t b) {
          const int64_t span = static_cast<int64_t>(b) - a;
          return static_cast<int32_t>(a + span * step / *steps);
        };
        if (Result<void> moved = MoveTo({between(from.x, to.x), between(from.y, to.y)}, input);
            !moved) {
          return moved;
        }
        ++events;
        ++done;
        if (*duration_ms > 0) {
          clock.SleepUntil(start + std::chrono::milliseconds(*duration_ms * done / total));
        }
      }
    }
    return {};
  };
  Result<void> dragged = drag();
  Result<void> released = Prefixed(input.ReleaseButton(*button), "button failed: ");
  if (released) ++events;
  Result<void> up = ReleaseKeys(*modifiers, input);
  if (!dragged) return Error(std::move(dragged).error());
  if (!released) return Error(std::move(released).error());
  if (!up) return Error("key failed: " + std::move(up).error());
  const PointerPoint from = path->front();
  const PointerPoint to = path->back();
  return Json{{"done", true},
              {"events", events},
              {"from", Json::array({from.x, from.y})},
              {"to", Json::array({to.x, to.y})}};
}

ToolResult PointerTool(const Json& params, const CallContext& context) {
  InputSession& session = *context.input_session;
  return session.held.Finish(PerformPointer(params, session, OpenInputBackend));
}

ToolResult DragTool(const Json& params, const CallContext& context) {
  InputSession& session = *context.input_session;
  return session.held.Finish(PerformDrag(params, session, SteadyPacerClock(), OpenInputBackend));
}

}  // namespace tarvix
