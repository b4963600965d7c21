#include "platform/wayland/wlr_toplevels.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "base/utf8.h"
#include "platform/wayland/wayland_connection.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace tarvix {

std::vector<WindowRecord> ToplevelRecordsOf(const std::vector<ToplevelInfo>& toplevels, bool all) {
  std::vector<const ToplevelInfo*> order;
  for (const ToplevelInfo& toplevel : toplevels) {
    if (all || !toplevel.minimized) order.push_back(&toplevel);
  }
  std::stable_sort(order.begin(), order.end(), [](const ToplevelInfo* a, const ToplevelInfo* b) {
    if (a->activated != b->activated) return a->activated;
    return a->id > b->id;
  });
  std::vector<WindowRecord> records;
  records.reserve(order.size());
  for (const ToplevelInfo* toplevel : order) {
    WindowRecord record;
    record.id = toplevel->id;
    record.owner_name = toplevel->app_id;
    record.title = toplevel->title;
    record.layer = 0;
    record.minimized = toplevel->minimized;
    record.focused = toplevel->activated;
    records.push_back(std::move(record));
  }
  return records;
}

namespace {

using Clock = std::chrono::steady_clock;

// The newest version whose events the listeners below handle.
constexpr uint32_t kManagerVersion = 3;
// Bounds on what a compositor can make the daemon keep.
constexpr size_t kMaxToplevels = 4096;
constexpr size_t kMaxTextBytes = 4096;

enum ToplevelState : uint32_t { kMaximized = 0, kMinimized = 1, kActivated = 2, kFullscreen = 3 };

struct Handle {
  zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
  ToplevelInfo pending;               // what arrived since the last `done`
  std::optional<ToplevelInfo> shown;  // as of the last `done`
};

// A request for the connection's thread: a round trip (`action` null), or
// an action on one toplevel.
struct Command {
  std::optional<WindowAction> action;
  uint64_t toplevel = 0;
  bool done = false;
  // Why the compositor could not be asked (callers put their prefix
  // before it), or the complete message for the reply.
  std::string error;
  bool complete_message = false;
};

std::string Capped(const char* text) {
  std::string value = LossyUtf8(std::string_view(text == nullptr ? "" : text));
  if (value.size() > kMaxTextBytes)
    value = LossyUtf8(std::string_view(value).substr(0, kMaxTextBytes));
  return value;
}

// The lasting connection to the manager and the thread that reads it.
// Every Wayland object is touched on that thread only, with `mutex_` held
// while events are dispatched and commands sent; callers queue commands
// and wait on `changed_`.
class ToplevelTracker {
 public:
  static ToplevelTracker& Get() {
    // Never destroyed: the thread reads for the daemon's whole life.
    static ToplevelTracker* tracker = new ToplevelTracker;
    return *tracker;
  }

  Result<std::vector<ToplevelInfo>> List() {
    std::unique_lock lock(mutex_);
    if (Result<void> synced = Run(lock, std::make_shared<Command>()); !synced) {
      return Error(std::move(synced).error());
    }
    std::vector<ToplevelInfo> list;
    for (const auto& [proxy, handle] : handles_) {
      if (handle.shown) list.push_back(*handle.shown);
    }
    return list;
  }

  Result<bool> Act(const WindowActionRequest& request) {
    std::unique_lock lock(mutex_);
    if (Result<void> synced = Run(lock, std::make_shared<Command>()); !synced) {
      return Error("unavailable: " + std::move(synced).error());
    }
    if (Find(request.window) == nullptr) {
      return Error("unknown window: " + std::to_string(request.window));
    }
    if (request.action == WindowAction::kMove || request.action == WindowAction::kResize) {
      return Error(
          "not supported: this Wayland compositor tells no window positions (no sway IPC), so "
          "windows cannot be moved or resized");
    }
    auto command = std::make_shared<Command>();
    command->action = request.action;
    command->toplevel = request.window;
    if (Result<void> sent = Run(lock, command); !sent) {
      if (command->complete_message) return Error(std::move(sent).error());
      return Error("unavailable: " + std::move(sent).error());
    }
    const Clock::time_point deadline = Clock::now() + kWindowActionVerifyTime;
    return changed_.wait_until(lock, deadline, [&] {
      const ToplevelInfo* now = Find(request.window);
      switch (request.action) {
        case WindowAction::kClose:
          return now == nullptr;
        case WindowAction::kActivate:
        case WindowAction::kRaise:
          return now != nullptr && now->activated;
        case WindowAction::kMinimize:
          return now != nullptr && now->minimized;
        case WindowAction::kMaximize:
          return now != nullptr && now->maximized;
        case WindowAction::kRestore:
          return now != nullptr && !now->minimized && !now->maximized && !now->fullscreen;
        case WindowAction::kMove:
        case WindowAction::kResize:
          break;
      }
      return false;
    });
  }

 private:
  ToplevelTracker() = default;

  const ToplevelInfo* Find(uint64_t id) const {
    for (const auto& [proxy, handle] : handles_) {
      if (handle.shown && handle.shown->id == id) return &*handle.shown;
    }
    return nullptr;
  }

  // Queues `command`, starting the connection first where there is none
  // (or the last one ended), and waits for the thread to finish it.
  Result<void> Run(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Command>& command) {
    if (display_ == nullptr || ended_) {
      if (Result<void> started = Start(lock); !started) return started;
    }
    queue_.push_back(command);
    Wake();
    changed_.wait_until(lock, Clock::now() + kWaylandReplyDeadline,
                        [&] { return command->done || !command->error.empty() || ended_; });
    if (!command->error.empty()) return Error(command->error);
    if (command->done) return {};
    if (ended_) return Error(kCompositorGone);
    // The compositor may still answer; nobody waits for it then.
    std::erase(queue_, command);
    return Error(kCompositorSilent);
  }

  Result<void> Start(std::unique_lock<std::mutex>& lock) {
    if (reader_.joinable()) {
      // The last connection ended: its thread has left or is leaving.
      std::thread old = std::move(reader_);
      lock.unlock();
      old.join();
      lock.lock();
      Close();
    }
    display_ = wl_display_connect(nullptr);
    if (display_ == nullptr) return Error(kCompositorUnreachable);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
      Close();
      return Error(kCompositorUnreachable);
    }
    ended_ = false;
    ready_ = false;
    burst_numbered_ = false;
    burst_.clear();
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistryListener, this);
    // Commands wait until the globals are bound: a round trip sent
    // earlier would come back before the manager has listed anything.
    bound_ = wl_display_sync(display_);
    wl_callback_add_listener(bound_, &kBoundListener, this);
    wl_display_flush(display_);
    reader_ = std::thread([this] { Read(); });
    return {};
  }

  // Under the lock, on the reader thread or after it has left.
  void Close() {
    for (auto& [proxy, handle] : handles_) zwlr_foreign_toplevel_handle_v1_destroy(proxy);
    handles_.clear();
    for (auto& [callback, command] : in_flight_) wl_callback_destroy(callback);
    in_flight_.clear();
    for (wl_callback* callback : {bound_, burst_end_}) {
      if (callback != nullptr) wl_callback_destroy(callback);
    }
    bound_ = burst_end_ = nullptr;
    if (manager_ != nullptr) zwlr_foreign_toplevel_manager_v1_destroy(manager_);
    if (seat_ != nullptr) wl_seat_destroy(seat_);
    if (registry_ != nullptr) wl_registry_destroy(registry_);
    if (display_ != nullptr) wl_display_disconnect(display_);
    if (wake_ >= 0) close(wake_);
    manager_ = nullptr;
    seat_ = nullptr;
    registry_ = nullptr;
    display_ = nullptr;
    wake_ = -1;
  }

  void Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(wake_, &one, sizeof one);
  }

  // The reader thread: dispatches events and sends queued commands until
  // the connection fails.
  void Read() {
    const int fd = wl_display_get_fd(display_);
    std::unique_lock lock(mutex_);
    while (true) {
      if (wl_display_dispatch_pending(display_) < 0) break;
      if (ready_) SendQueued();
      changed_.notify_all();
      // Events already queued are dispatched before reading more.
      if (wl_display_prepare_read(display_) != 0) continue;
      bool backed_up = false;
      if (wl_display_flush(display_) < 0) {
        if (errno != EAGAIN) {
          wl_display_cancel_read(display_);
          break;
        }
        backed_up = true;
      }
      lock.unlock();
      pollfd polled[2] = {{fd, static_cast<short>(POLLIN | (backed_up ? POLLOUT : 0)), 0},
                          {wake_, POLLIN, 0}};
      const int ready = poll(polled, 2, -1);
      lock.lock();
      if (ready < 0 && errno != EINTR) {
        wl_display_cancel_read(display_);
        break;
      }
      if (ready > 0 && (polled[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
        if (wl_display_read_events(display_) < 0) break;
      } else {
        wl_display_cancel_read(display_);
      }
      if (ready > 0 && (polled[1].revents & POLLIN) != 0) {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t drained = read(wake_, &count, sizeof count);
      }
    }
    ended_ = true;
    for (const auto& command : queue_) command->error = kCompositorGone;
    queue_.clear();
    changed_.notify_all();
  }

  void SendQueued() {
    while (!queue_.empty()) {
      std::shared_ptr<Command> command = queue_.front();
      queue_.pop_front();
      if (manager_ == nullptr) {
        command->error =
            "this Wayland compositor offers neither sway's IPC (SWAYSOCK) nor wlr foreign "
            "toplevel management";
        continue;
      }
      if (command->action) Send(*command);
      if (!command->error.empty()) continue;
      // Done once the compositor has handled the request and everything
      // before it.
      wl_callback* callback = wl_display_sync(display_);
      wl_callback_add_listener(callback, &kCommandListener, this);
      in_flight_[callback] = std::move(command);
    }
  }

  void Send(Command& command) {
    zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
    for (const auto& [candidate, handle] : handles_) {
      if (handle.shown && handle.shown->id == command.toplevel) proxy = candidate;
    }
    if (proxy == nullptr) {
      command.error = "unknown window: " + std::to_string(command.toplevel);
      command.complete_message = true;
      return;
    }
    const bool fullscreen_requests = zwlr_foreign_toplevel_handle_v1_get_version(proxy) >=
                                     ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_UNSET_FULLSCREEN_SINCE_VERSION;
    switch (*command.action) {
      case WindowAction::kActivate:
      case WindowAction::kRaise:
        if (seat_ == nullptr) {
          command.error = "the Wayland compositor offers no seat to activate the window on";
          return;
        }
        zwlr_foreign_toplevel_handle_v1_activate(proxy, seat_);
        return;
      case WindowAction::kMinimize:
        zwlr_foreign_toplevel_handle_v1_set_minimized(proxy);
        return;
      case WindowAction::kMaximize:
        zwlr_foreign_toplevel_handle_v1_set_maximized(proxy);
        return;
      case WindowAction::kRestore:
        zwlr_foreign_toplevel_handle_v1_unset_minimized(proxy);
        zwlr_foreign_toplevel_handle_v1_unset_maximized(proxy);
        if (fullscreen_requests) zwlr_foreign_toplevel_handle_v1_unset_fullscreen(proxy);
        return;
      case WindowAction::kClose:
        zwlr_foreign_toplevel_handle_v1_close(proxy);
        return;
      case WindowAction::kMove:
      case WindowAction::kResize:
        return;  // refused before anything is sent
    }
  }

  static void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version) {
    auto* self = static_cast<ToplevelTracker*>(data);
    const std::string_view kind = interface;
    if (kind == zwlr_foreign_toplevel_manager_v1_interface.name && self->manager_ == nullptr) {
      self->manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
          wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface,
                           std::min(version, kManagerVersion)));
      zwlr_foreign_toplevel_manager_v1_add_listener(self->manager_, &kManagerListener, self);
    } else if (kind == wl_seat_interface.name && self->seat_ == nullptr) {
      self->seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    }
  }

  static const wl_registry_listener kRegistryListener;

  static const wl_callback_listener kBoundListener;
  static const wl_callback_listener kBurstListener;

  static const wl_callback_listener kCommandListener;

  static const zwlr_foreign_toplevel_manager_v1_listener kManagerListener;

  static Handle* HandleOf(void* data, zwlr_foreign_toplevel_handle_v1* proxy) {
    auto* self = static_cast<ToplevelTracker*>(data);
    auto found = self->handles_.find(proxy);
    return found == self->handles_.end() ? nullptr : &found->second;
  }

  static const zwlr_foreign_toplevel_handle_v1_listener kHandleListener;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread reader_;
  std::deque<std::shared_ptr<Command>> queue_;
  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  wl_seat* seat_ = nullptr;
  zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
  std::map<zwlr_foreign_toplevel_handle_v1*, Handle> handles_;
  std::map<wl_callback*, std::shared_ptr<Command>> in_flight_;
  wl_callback* bound_ = nullptr;                         // the round trip after the globals
  wl_callback* burst_end_ = nullptr;                     // the one after the manager's first list
  std::vector<zwlr_foreign_toplevel_handle_v1*> burst_;  // that list, in its order
  bool burst_numbered_ = false;
  int wake_ = -1;
  bool ready_ = false;
  bool ended_ = false;
  uint64_t last_id_ = 0;  // never reset: ids are not reused
};

const wl_registry_listener ToplevelTracker::kRegistryListener = {
    .global = OnGlobal,
    .global_remove = [](void*, wl_registry*, uint32_t) {},
};

const wl_callback_listener ToplevelTracker::kBoundListener = {
    .done =
        [](void* data, wl_callback* callback, uint32_t) {
          auto* self = static_cast<ToplevelTracker*>(data);
          wl_callback_destroy(callback);
          self->bound_ = nullptr;
          self->ready_ = true;
          // The manager lists the toplevels there are once bound; the end
          // of that list is where the next round trip comes back.
          self->burst_end_ = wl_display_sync(self->display_);
          wl_callback_add_listener(self->burst_end_, &kBurstListener, self);
        },
};

// wlroots lists the toplevels there are newest first; they are numbered
// oldest first, as the ones that come later are, before any caller sees
// a number.
const wl_callback_listener ToplevelTracker::kBurstListener = {
    .done =
        [](void* data, wl_callback* callback, uint32_t) {
          auto* self = static_cast<ToplevelTracker*>(data);
          wl_callback_destroy(callback);
          self->burst_end_ = nullptr;
          for (auto it = self->burst_.rbegin(); it != self->burst_.rend(); ++it) {
            auto found = self->handles_.find(*it);
            if (found == self->handles_.end()) continue;
            Handle& handle = found->second;
            handle.pending.id = ++self->last_id_;
            if (handle.shown) handle.shown->id = handle.pending.id;
          }
          self->burst_.clear();
          self->burst_numbered_ = true;
        },
};

const wl_callback_listener ToplevelTracker::kCommandListener = {
    .done =
        [](void* data, wl_callback* callback, uint32_t) {
          auto* self = static_cast<ToplevelTracker*>(data);
          if (auto found = self->in_flight_.find(callback); found != self->in_flight_.end()) {
            found->second->done = true;
            self->in_flight_.erase(found);
          }
          wl_callback_destroy(callback);
        },
};

const zwlr_foreign_toplevel_manager_v1_listener ToplevelTracker::kManagerListener = {
    .toplevel =
        [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* proxy) {
          auto* self = static_cast<ToplevelTracker*>(data);
          if (self->handles_.size() >= kMaxToplevels) {
            zwlr_foreign_toplevel_handle_v1_destroy(proxy);
            return;
          }
          Handle& handle = self->handles_[proxy];
          handle.proxy = proxy;
          if (self->burst_numbered_) {
            handle.pending.id = ++self->last_id_;
          } else {
            self->burst_.push_back(proxy);
          }
          zwlr_foreign_toplevel_handle_v1_add_listener(proxy, &kHandleListener, self);
        },
    .finished = [](void*, zwlr_foreign_toplevel_manager_v1*) {},
};

const zwlr_foreign_toplevel_handle_v1_listener ToplevelTracker::kHandleListener = {
    .title =
        [](void* data, zwlr_foreign_toplevel_handle_v1* proxy, const char* title) {
          if (Handle* handle = HandleOf(data, proxy)) handle->pending.title = Capped(title);
        },
    .app_id =
        [](void* data, zwlr_foreign_toplevel_handle_v1* proxy, const char* app_id) {
          if (Handle* handle = HandleOf(data, proxy)) handle->pending.app_id = Capped(app_id);
        },
    .output_enter = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    .output_leave = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
    .state =
        [](void* data, zwlr_foreign_toplevel_handle_v1* proxy, wl_array* states) {
          Handle* handle = HandleOf(data, proxy);
          if (handle == nullptr) return;
          ToplevelInfo& info = handle->pending;
          info.maximized = info.minimized = info.activated = info.fullscreen = false;
          const auto* state = static_cast<const uint32_t*>(states->data);
          for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
            switch (state[i]) {
              case kMaximized:
                info.maximized = true;
                break;
              case kMinimized:
                info.minimized = true;
                break;
              case kActivated:
                info.activated = true;
                break;
              case kFullscreen:
                info.fullscreen = true;
                break;
              default:
                break;
            }
          }
        },
    .done =
        [](void* data, zwlr_foreign_toplevel_handle_v1* proxy) {
          if (Handle* handle = HandleOf(data, proxy)) handle->shown = handle->pending;
        },
    .closed =
        [](void* data, zwlr_foreign_toplevel_handle_v1* proxy) {
          static_cast<ToplevelTracker*>(data)->handles_.erase(proxy);
          zwlr_foreign_toplevel_handle_v1_destroy(proxy);
        },
    .parent = [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
};

}  // namespace

namespace wlr {

Result<std::vector<WindowRecord>> QueryToplevels(bool all) {
  Result<std::vector<ToplevelInfo>> list = ToplevelTracker::Get().List();
  if (!list) return Error("window list unavailable - " + std::move(list).error());
  return ToplevelRecordsOf(*list, all);
}

Result<bool> ControlToplevel(const WindowActionRequest& request) {
  return ToplevelTracker::Get().Act(request);
}

}  // namespace wlr
}  // namespace tarvix
