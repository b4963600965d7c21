#include "platform/wayland/xwayland_typing.h"

#include <string>
#include <thread>
#include <utility>

#include "platform/input_stop.h"
#include "platform/wayland/sway_ipc.h"

namespace tarvix::wlr {
namespace {

using Clock = std::chrono::steady_clock;

// Between looks at XWayland's key state: it handles the keys within a few
// milliseconds of the compositor forwarding them.
constexpr std::chrono::milliseconds kKeyStatePoll(1);
// A window nested deeper than this under the focus is not looked for.
constexpr int kMaxWindowDepth = 32;

// Members are looked at only with the type sway gives them: nlohmann's
// value() would throw on another.
bool IsTrue(const Json& node, const char* key) {
  const auto it = node.find(key);
  return it != node.end() && it->is_boolean() && it->get<bool>();
}

const Json* FocusedNode(const Json& node) {
  if (!node.is_object()) return nullptr;
  if (IsTrue(node, "focused")) return &node;
  for (const char* list : {"nodes", "floating_nodes"}) {
    const auto children = node.find(list);
    if (children == node.end() || !children->is_array()) continue;
    for (const Json& child : *children) {
      if (const Json* found = FocusedNode(child)) return found;
    }
  }
  return nullptr;
}

// Whether `window` holds X's input focus itself or through a child.
bool HoldsInputFocus(const XConnection& x, xcb_window_t window) {
  xcb_connection_t* c = x.get();
  XcbReply<xcb_get_input_focus_reply_t> focus =
      x.ReplyOrNull<xcb_get_input_focus_reply_t>(xcb_get_input_focus(c));
  if (!focus) return false;
  xcb_window_t at = focus->focus;
  for (int depth = 0; depth < kMaxWindowDepth && at > XCB_INPUT_FOCUS_POINTER_ROOT; ++depth) {
    if (at == window) return true;
    if (at == x.root()) return false;
    XcbReply<xcb_query_tree_reply_t> tree =
        x.ReplyOrNull<xcb_query_tree_reply_t>(xcb_query_tree(c, at));
    if (!tree) return false;
    at = tree->parent;
  }
  return false;
}

}  // namespace

std::optional<uint32_t> FocusedXWaylandWindow(const Json& tree) {
  const Json* focused = FocusedNode(tree);
  if (focused == nullptr) return std::nullopt;
  const auto shell = focused->find("shell");
  if (shell == focused->end() || *shell != "xwayland") return std::nullopt;
  const auto window = focused->find("window");
  if (window == focused->end() || !window->is_number_unsigned()) return std::nullopt;
  const uint64_t id = window->get<uint64_t>();
  if (id == 0 || id > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(id);
}

std::unique_ptr<XWaylandTyping> XWaylandTyping::ForFocusedWindow() {
  if (!SwayIpc::InEnvironment()) return nullptr;
  Result<std::unique_ptr<SwayIpc>> ipc = SwayIpc::ConnectFromEnvironment();
  if (!ipc) return nullptr;
  Result<std::string> tree = (*ipc)->Request(SwayMessage::kGetTree, "");
  if (!tree) return nullptr;
  const std::optional<uint32_t> window = FocusedXWaylandWindow(ParseJsonOrNull(*tree));
  if (!window) return nullptr;
  Result<std::unique_ptr<XConnection>> x = XConnection::Open();
  if (!x || !HoldsInputFocus(**x, *window)) return nullptr;
  return std::unique_ptr<XWaylandTyping>(new XWaylandTyping(std::move(x).value()));
}

bool XWaylandTyping::AwaitKey(uint32_t keycode, bool down, std::chrono::milliseconds timeout) {
  if (keycode > 255) return false;
  const Clock::time_point deadline = Clock::now() + timeout;
  while (true) {
    XcbReply<xcb_query_keymap_reply_t> keys =
        x_->ReplyOrNull<xcb_query_keymap_reply_t>(xcb_query_keymap(x_->get()));
    if (!keys) return false;
    const bool is_down = (keys->keys[keycode / 8] & (1u << (keycode % 8))) != 0;
    if (is_down == down) return true;
    if (Clock::now() >= deadline || InputStopRequested()) return false;
    std::this_thread::sleep_for(kKeyStatePoll);
  }
}

PingAnswer XWaylandTyping::PingFocusedClient(std::chrono::milliseconds timeout) {
  return tarvix::PingFocusedClient(x_->get(), x_->root(), timeout);
}

}  // namespace tarvix::wlr
