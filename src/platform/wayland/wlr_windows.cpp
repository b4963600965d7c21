// Windows and window control on sway through its IPC: the tree read into
// window records, and actions run as sway commands on `[con_id=N]` with
// their effect read back from the tree.
#include "platform/wayland/wlr_windows.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>

#include "base/utf8.h"
#include "json/json.h"
#include "platform/wayland/sway_ipc.h"
#include "platform/wayland/wlr_toplevels.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wlr_desktop.h"
#include "platform/wayland/wlr_layout.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kNotATree[] = "sway's tree could not be read";
constexpr char kScratchpadOutput[] = "__i3";

int64_t IntOf(const Json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number()) return 0;
  return it->is_number_float() ? static_cast<int64_t>(it->get<double>()) : it->get<int64_t>();
}

PointRect RectOf(const Json& node, const char* key) {
  const auto it = node.find(key);
  if (it == node.end() || !it->is_object()) return {};
  return {IntOf(*it, "x"), IntOf(*it, "y"), IntOf(*it, "width"), IntOf(*it, "height")};
}

std::string TextOf(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? LossyUtf8(it->get<std::string>()) : "";
}

struct Walk {
  std::vector<SwayView> views;
  bool ill_formed = false;

  void Visit(const Json& node, bool in_scratchpad, int depth) {
    if (depth > kMaxJsonDepth) {
      ill_formed = true;
      return;
    }
    if (!node.is_object()) {
      ill_formed = true;
      return;
    }
    if (node.contains("shell")) {
      AddView(node, in_scratchpad);
      return;
    }
    if (TextOf(node, "type") == "output" && TextOf(node, "name") == kScratchpadOutput) {
      in_scratchpad = true;
    }
    // Children in the node's focus order, then any the list leaves out.
    std::vector<const Json*> children;
    for (const char* list : {"nodes", "floating_nodes"}) {
      const auto it = node.find(list);
      if (it == node.end()) continue;
      if (!it->is_array()) {
        ill_formed = true;
        return;
      }
      for (const Json& child : *it) children.push_back(&child);
    }
    std::vector<const Json*> ordered;
    if (const auto focus = node.find("focus"); focus != node.end() && focus->is_array()) {
      for (const Json& id : *focus) {
        if (!id.is_number_integer()) continue;
        for (const Json*& child : children) {
          if (child != nullptr && child->is_object() && child->value("id", Json()) == id) {
            ordered.push_back(std::exchange(child, nullptr));
            break;
          }
        }
      }
    }
    for (const Json* child : children) {
      if (child != nullptr) ordered.push_back(child);
    }
    for (const Json* child : ordered) Visit(*child, in_scratchpad, depth + 1);
  }

  void AddView(const Json& node, bool in_scratchpad) {
    SwayView view;
    WindowRecord& r = view.record;
    if (const auto id = node.find("id"); id != node.end() && id->is_number_unsigned()) {
      r.id = id->get<uint64_t>();
    }
    r.title = TextOf(node, "name");
    r.owner_name = TextOf(node, "app_id");
    r.window_relative_elements = TextOf(node, "shell") == "xdg_shell";
    if (r.owner_name.empty()) {
      if (const auto props = node.find("window_properties");
          props != node.end() && props->is_object()) {
        r.owner_name = TextOf(*props, "class");
      }
    }
    if (const int64_t pid = IntOf(node, "pid"); pid > 0) r.owner_pid = pid;
    r.layer = 0;
    r.focused = node.value("focused", false) == true;
    r.minimized = node.value("visible", false) != true;
    const PointRect rect = RectOf(node, "rect");
    const int64_t title_bar = RectOf(node, "deco_rect").h;
    r.x = static_cast<double>(rect.x);
    r.y = static_cast<double>(rect.y - title_bar);
    r.width = static_cast<double>(rect.w);
    r.height = static_cast<double>(rect.h + title_bar);
    const PointRect inner = RectOf(node, "window_rect");
    view.content = {rect.x + inner.x, rect.y + inner.y, inner.w, inner.h};
    view.floating = TextOf(node, "type") == "floating_con";
    view.fullscreen = IntOf(node, "fullscreen_mode") != 0;
    view.scratchpad = in_scratchpad;
    views.push_back(std::move(view));
  }
};

}  // namespace

Result<std::vector<SwayView>> SwayViewsOf(std::string_view tree_json) {
  const Json tree = ParseJsonOrNull(tree_json);
  if (!tree.is_object()) return Error(kNotATree);
  Walk walk;
  walk.Visit(tree, false, 0);
  if (walk.ill_formed) return Error(kNotATree);
  // The focused window leads even where sway's focus lists put another
  // output's or workspace's windows first.
  std::stable_partition(walk.views.begin(), walk.views.end(),
                        [](const SwayView& v) { return v.record.focused; });
  return std::move(walk.views);
}

Result<bool> SwayOutputAtOrigin(std::string_view outputs_json) {
  const Json outputs = ParseJsonOrNull(outputs_json);
  if (!outputs.is_array()) return Error("sway's output list could not be read");
  for (const Json& output : outputs) {
    if (!output.is_object() || output.value("active", false) != true) continue;
    const PointRect rect = RectOf(output, "rect");
    if (rect.x == 0 && rect.y == 0) return true;
  }
  return false;
}

std::vector<WindowRecord> WindowRecordsOf(const std::vector<SwayView>& views, bool all,
                                          int64_t origin_x, int64_t origin_y) {
  std::vector<WindowRecord> records;
  for (const SwayView& view : views) {
    if (view.record.minimized && !all) continue;
    WindowRecord record = view.record;
    record.x -= static_cast<double>(origin_x);
    record.y -= static_cast<double>(origin_y);
    records.push_back(std::move(record));
  }
  return records;
}

namespace {

std::string CommandNameOf(int64_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!comm || !std::getline(comm, name)) return "";
  return LossyUtf8(name);
}

// What one call knows of sway: the connection, the tree, the origin.
struct SwayState {
  std::unique_ptr<SwayIpc> ipc;
  std::vector<SwayView> views;
  int64_t origin_x = 0;
  int64_t origin_y = 0;
};

// The main display's corner in sway's layout: (0,0) when an output lies
// there, else the corner of the output the compositor announced first,
// the same rule the displays and screenshots follow.
Result<std::pair<int64_t, int64_t>> LayoutOrigin(SwayIpc& ipc) {
  Result<std::string> outputs = ipc.Request(SwayMessage::kGetOutputs, "");
  if (!outputs) return Error(std::move(outputs).error());
  Result<bool> at_origin = SwayOutputAtOrigin(*outputs);
  if (!at_origin) return Error(std::move(at_origin).error());
  if (*at_origin) return std::pair<int64_t, int64_t>{0, 0};
  Result<std::unique_ptr<WaylandConnection>> opened = WaylandConnection::Open();
  if (!opened) return Error(std::move(opened).error());
  if (Result<void> described = (*opened)->DescribeOutputs(); !described) {
    return Error(std::move(described).error());
  }
  std::vector<OutputGeometry> geometries;
  for (const auto& output : (*opened)->outputs()) geometries.push_back(output->geometry);
  const std::optional<size_t> main = MainOutput(geometries);
  if (!main) return Error("the Wayland compositor has no output");
  const PointRect corner = LogicalRect(geometries[*main]);
  return std::pair<int64_t, int64_t>{corner.x, corner.y};
}

Result<std::vector<SwayView>> ReadViews(SwayIpc& ipc) {
  Result<std::string> tree = ipc.Request(SwayMessage::kGetTree, "");
  if (!tree) return Error(std::move(tree).error());
  return SwayViewsOf(*tree);
}

Result<SwayState> ReadState() {
  Result<std::unique_ptr<SwayIpc>> ipc = SwayIpc::ConnectFromEnvironment();
  if (!ipc) return Error(std::move(ipc).error());
  SwayState state;
  state.ipc = std::move(ipc).value();
  Result<std::pair<int64_t, int64_t>> origin = LayoutOrigin(*state.ipc);
  if (!origin) return Error(std::move(origin).error());
  std::tie(state.origin_x, state.origin_y) = *origin;
  Result<std::vector<SwayView>> views = ReadViews(*state.ipc);
  if (!views) return Error(std::move(views).error());
  state.views = std::move(views).value();
  return state;
}

Result<std::vector<WindowRecord>> QueryWindowsOf(bool all) {
  Result<SwayState> state = ReadState();
  if (!state) return Error("window list unavailable - " + std::move(state).error());
  std::vector<WindowRecord> records =
      WindowRecordsOf(state->views, all, state->origin_x, state->origin_y);
  for (WindowRecord& record : records) {
    if (record.owner_name.empty() && record.owner_pid) {
      record.owner_name = CommandNameOf(*record.owner_pid);
    }
  }
  return records;
}

const SwayView* Find(const std::vector<SwayView>& views, uint64_t id) {
  for (const SwayView& view : views) {
    if (view.record.id == id) return &view;
  }
  return nullptr;
}

// Runs `commands` on the window; fails with sway's own reason when it
// refuses one.
Result<void> RunOn(SwayIpc& ipc, uint64_t window, const std::string& commands) {
  const std::string line = "[con_id=" + std::to_string(window) + "] " + commands;
  Result<std::string> reply = ipc.Request(SwayMessage::kRunCommand, line);
  if (!reply) return Error("unavailable: " + std::move(reply).error());
  const Json outcomes = ParseJsonOrNull(*reply);
  if (!outcomes.is_array()) return Error("unavailable: sway's reply to a command could not be read");
  for (const Json& outcome : outcomes) {
    if (outcome.is_object() && outcome.value("success", false) == true) continue;
    std::string why = outcome.is_object() ? TextOf(outcome, "error") : "";
    return Error("unavailable: sway refused \"" + line + "\"" + (why.empty() ? "" : ": " + why));
  }
  return {};
}

// The frame in global points of a view.
PointRect FrameOf(const SwayView& view, const SwayState& state) {
  const WindowRecord& r = view.record;
  return {static_cast<int64_t>(r.x) - state.origin_x, static_cast<int64_t>(r.y) - state.origin_y,
          static_cast<int64_t>(r.width), static_cast<int64_t>(r.height)};
}

bool Done(const WindowActionRequest& request, const SwayView* view, const SwayState& state) {
  if (request.action == WindowAction::kClose) return view == nullptr;
  if (view == nullptr) return false;
  switch (request.action) {
    case WindowAction::kActivate:
    case WindowAction::kRaise:
      return view->record.focused;
    case WindowAction::kMinimize:
      return view->record.minimized;
    case WindowAction::kMaximize:
      return view->fullscreen;
    case WindowAction::kRestore:
      return !view->record.minimized && !view->fullscreen;
    case WindowAction::kMove: {
      const PointRect frame = FrameOf(*view, state);
      return frame.x == request.x && frame.y == request.y;
    }
    case WindowAction::kResize: {
      const PointRect frame = FrameOf(*view, state);
      return frame.w == request.w && frame.h == request.h;
    }
    case WindowAction::kClose:
      break;
  }
  return false;
}

// The sway commands for `request` on `view` as it is now; "" when the
// window must first float (move and resize place floating windows only).
std::string CommandsFor(const WindowActionRequest& request, const SwayView& view,
                        const SwayState& state) {
  switch (request.action) {
    case WindowAction::kActivate:
    case WindowAction::kRaise:
      return "focus";
    case WindowAction::kMinimize:
      return "move scratchpad";
    case WindowAction::kMaximize:
      return "fullscreen enable";
    case WindowAction::kRestore:
      // A window in the scratchpad comes back floating on the focused
      // workspace; one on a workspace not shown, by focusing it there.
      if (view.scratchpad) return "scratchpad show, fullscreen disable";
      if (view.record.minimized) return "focus, fullscreen disable";
      return "fullscreen disable";
    case WindowAction::kClose:
      return "kill";
    case WindowAction::kMove:
      return "move absolute position " + std::to_string(request.x + state.origin_x) + " px " +
             std::to_string(request.y + state.origin_y) + " px";
    case WindowAction::kResize: {
      // sway sizes a floating container whole (title bar and borders
      // included) about its centre; the frame's corner is put back, as a
      // resize keeps it on X11.
      const PointRect frame = FrameOf(view, state);
      return "resize set width " + std::to_string(std::clamp<int64_t>(request.w, 1, 32767)) +
             " px height " + std::to_string(std::clamp<int64_t>(request.h, 1, 32767)) +
             " px, move absolute position " + std::to_string(frame.x + state.origin_x) + " px " +
             std::to_string(frame.y + state.origin_y) + " px";
    }
  }
  return "";
}

}  // namespace

namespace wlr {

Result<std::vector<WindowRecord>> QueryWindows() {
  return SwayIpc::InEnvironment() ? QueryWindowsOf(false) : QueryToplevels(false);
}
Result<std::vector<WindowRecord>> QueryAllWindows() {
  return SwayIpc::InEnvironment() ? QueryWindowsOf(true) : QueryToplevels(true);
}

Result<bool> ControlWindow(const WindowActionRequest& request) {
  if (!SwayIpc::InEnvironment()) return ControlToplevel(request);
  Result<SwayState> read = ReadState();
  if (!read) return Error("unavailable: " + std::move(read).error());
  SwayState& state = *read;
  const SwayView* view = Find(state.views, request.window);
  if (view == nullptr) return Error("unknown window: " + std::to_string(request.window));
  // Window events wake the check below; a second connection, so replies
  // and events never interleave on one.
  Result<std::unique_ptr<SwayIpc>> events = SwayIpc::ConnectFromEnvironment();
  if (!events) return Error("unavailable: " + std::move(events).error());
  Result<std::string> subscribed = (*events)->Request(SwayMessage::kSubscribe, R"(["window"])");
  if (!subscribed) return Error("unavailable: " + std::move(subscribed).error());

  const bool placing =
      request.action == WindowAction::kMove || request.action == WindowAction::kResize;
  if (placing && (!view->floating || view->fullscreen)) {
    if (Result<void> ran = RunOn(*state.ipc, request.window, "fullscreen disable, floating enable");
        !ran) {
      return Error(std::move(ran).error());
    }
    Result<std::vector<SwayView>> views = ReadViews(*state.ipc);
    if (!views) return Error("unavailable: " + std::move(views).error());
    state.views = std::move(views).value();
    view = Find(state.views, request.window);
    if (view == nullptr) return Error("unknown window: " + std::to_string(request.window));
  }
  if (Result<void> ran = RunOn(*state.ipc, request.window, CommandsFor(request, *view, state));
      !ran) {
    return Error(std::move(ran).error());
  }

  // sway applies a command in a transaction that may wait for the client,
  // so the tree is read again after each window event, and at least every
  // 50 ms for effects that send none (a floating move), up to the limit.
  const Clock::time_point deadline = Clock::now() + kWindowActionVerifyTime;
  while (true) {
    Result<std::vector<SwayView>> views = ReadViews(*state.ipc);
    if (!views) return Error("unavailable: " + std::move(views).error());
    if (Done(request, Find(*views, request.window), state)) return true;
    if (Clock::now() >= deadline) return false;
    Result<bool> woke =
        (*events)->WaitForEvent(std::min(deadline, Clock::now() + std::chrono::milliseconds(50)));
    if (!woke) return Error("unavailable: " + std::move(woke).error());
  }
}

}  // namespace wlr
}  // namespace tarvix
