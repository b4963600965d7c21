#include "platform/wayland/wlr_clipboard.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "base/os_error.h"
#include "platform/descriptors.h"
#include "platform/lasting_worker.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/x11/selection_transfer.h"
#include "platform/x11/x_text.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace tarvix::wlr {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// As on X11: the owner gets this long for each step of a transfer, and
// one read this long in all, however lively the owner.
constexpr milliseconds kOwnerSilence{1000};
constexpr milliseconds kReadBudget{5000};
// Readers being fed the daemon's text at once, and how long each may go
// without taking any of it before its pipe is closed.
constexpr size_t kMaxOutgoing = 16;
constexpr milliseconds kOutgoingIdle{5000};
constexpr size_t kMaxOfferedTypes = 256;
// A pipe this large takes a typical text in one write (the system may
// refuse more than its pipe-max-size; the default pipe then serves).
constexpr int kPipeBytes = 1 << 20;

constexpr char kOwnerSilent[] = "unavailable: the clipboard owner did not answer";

// The daemon's text in the mime types Wayland clients ask for, and the
// X11 targets XWayland passes through as they are.
constexpr const char* kOfferedMimes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING",
                                         "TEXT", "STRING"};

std::string Unavailable(std::string_view reason) { return "unavailable: " + std::string(reason); }

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// One offer of another client's data, with the mime types it listed.
struct Offer {
  zwlr_data_control_offer_v1* proxy = nullptr;
  std::vector<std::string> types;
};

const zwlr_data_control_offer_v1_listener kOfferListener = {
    .offer = [](void* data, zwlr_data_control_offer_v1*, const char* mime) {
      auto* offer = static_cast<Offer*>(data);
      if (mime != nullptr && offer->types.size() < kMaxOfferedTypes) offer->types.emplace_back(mime);
    },
};

// The seat's data-control device and the selection it last announced.
// Offers other than the current selection are destroyed as soon as a new
// one is announced.
class SelectionDevice {
 public:
  SelectionDevice(zwlr_data_control_manager_v1* manager, wl_seat* seat)
      : device_(zwlr_data_control_manager_v1_get_data_device(manager, seat)) {
    static const zwlr_data_control_device_v1_listener listener = {
        .data_offer = &SelectionDevice::OnDataOffer,
        .selection = &SelectionDevice::OnSelection,
        .finished = [](void* data, zwlr_data_control_device_v1*) {
          static_cast<SelectionDevice*>(data)->finished_ = true;
        },
        .primary_selection = [](void*, zwlr_data_control_device_v1*,
                                zwlr_data_control_offer_v1*) {},
    };
    zwlr_data_control_device_v1_add_listener(device_, &listener, this);
  }
  ~SelectionDevice() {
    for (const auto& offer : offers_) zwlr_data_control_offer_v1_destroy(offer->proxy);
    zwlr_data_control_device_v1_destroy(device_);
  }
  SelectionDevice(const SelectionDevice&) = delete;
  SelectionDevice& operator=(const SelectionDevice&) = delete;

  zwlr_data_control_device_v1* get() const { return device_; }
  // Null when nothing owns the selection (or before the first round trip).
  const Offer* selection() const { return selection_; }
  // The seat went away.
  bool finished() const { return finished_; }

 private:
  static void OnDataOffer(void* data, zwlr_data_control_device_v1*,
                          zwlr_data_control_offer_v1* proxy) {
    auto* self = static_cast<SelectionDevice*>(data);
    auto offer = std::make_unique<Offer>();
    offer->proxy = proxy;
    zwlr_data_control_offer_v1_add_listener(proxy, &kOfferListener, offer.get());
    self->offers_.push_back(std::move(offer));
  }
  static void OnSelection(void* data, zwlr_data_control_device_v1*,
                          zwlr_data_control_offer_v1* proxy) {
    auto* self = static_cast<SelectionDevice*>(data);
    self->selection_ = nullptr;
    for (auto it = self->offers_.begin(); it != self->offers_.end();) {
      if ((*it)->proxy == proxy) {
        self->selection_ = it->get();
        ++it;
      } else {
        zwlr_data_control_offer_v1_destroy((*it)->proxy);
        it = self->offers_.erase(it);
      }
    }
  }

  zwlr_data_control_device_v1* device_;
  std::vector<std::unique_ptr<Offer>> offers_;
  const Offer* selection_ = nullptr;
  bool finished_ = false;
};

// The globals data control needs, bound on one connection.
class ControlGlobals {
 public:
  ControlGlobals() = default;
  ControlGlobals(const ControlGlobals&) = delete;
  ControlGlobals& operator=(const ControlGlobals&) = delete;
  ~ControlGlobals() {
    device_.reset();
    if (manager_ != nullptr) zwlr_data_control_manager_v1_destroy(manager_);
    if (seat_ != nullptr) wl_seat_destroy(seat_);
    if (registry_ != nullptr) wl_registry_destroy(registry_);
  }

  // Binds the first seat and the manager, and makes the seat's device;
  // once this returns the device has announced the current selection.
  // Errors are complete "unavailable: ..." messages.
  Result<void> Bind(WaylandConnection& c) {
    registry_ = wl_display_get_registry(c.display());
    static const wl_registry_listener listener = {.global = &ControlGlobals::OnGlobal,
                                                  .global_remove = [](void*, wl_registry*,
                                                                      uint32_t) {}};
    wl_registry_add_listener(registry_, &listener, this);
    if (Result<void> listed = c.Roundtrip(); !listed) return Error(Unavailable(listed.error()));
    if (manager_ == nullptr) {
      return Error(Unavailable(
          "the Wayland compositor offers no clipboard control (zwlr_data_control_manager_v1)"));
    }
    if (seat_ == nullptr) return Error(Unavailable("the Wayland compositor offers no seat"));
    device_ = std::make_unique<SelectionDevice>(manager_, seat_);
    if (Result<void> announced = c.Roundtrip(); !announced) {
      return Error(Unavailable(announced.error()));
    }
    return {};
  }

  zwlr_data_control_manager_v1* manager() const { return manager_; }
  SelectionDevice& device() const { return *device_; }

 private:
  static void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t) {
    auto* self = static_cast<ControlGlobals*>(data);
    const std::string_view kind = interface;
    if (kind == wl_seat_interface.name && self->seat_ == nullptr) {
      self->seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (kind == zwlr_data_control_manager_v1_interface.name && self->manager_ == nullptr) {
      // Version 1: the clipboard only, not the primary selection.
      self->manager_ = static_cast<zwlr_data_control_manager_v1*>(
          wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
    }
  }

  wl_registry* registry_ = nullptr;
  wl_seat* seat_ = nullptr;
  zwlr_data_control_manager_v1* manager_ = nullptr;
  std::unique_ptr<SelectionDevice> device_;
};

// Reads the owner's text from `fd` until the owner closes its end, the
// text passes the limit, or the owner stays silent (kOwnerSilence; with
// nothing read yet that is an error, after some text the text is kept as
// truncated, as on X11).
Result<void> ReadOwnersText(int fd, IncomingText& in) {
  const Clock::time_point budget_end = Clock::now() + kReadBudget;
  std::string chunk(size_t{kPipeBytes}, '\0');
  while (true) {
    const Clock::time_point deadline = std::min(budget_end, Clock::now() + kOwnerSilence);
    pollfd p{fd, POLLIN, 0};
    int ready = 0;
    do {
      const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
      ready = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
      if (in.data().empty() && Clock::now() < budget_end) return Error(kOwnerSilent);
      in.MarkTruncated();
      return {};
    }
    // One byte past the room shows whether the owner has more.
    const ssize_t n = read(fd, chunk.data(), std::min(chunk.size(), in.Room() + 1));
    if (n == 0) return {};
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return Error(Unavailable("reading the clipboard failed: " + OsErrorText(errno)));
    }
    if (!in.Append(std::string_view(chunk.data(), static_cast<size_t>(n)))) return {};
  }
}

// One reader receiving the daemon's text through its pipe.
struct Outgoing {
  Fd fd;
  std::shared_ptr<const std::string> data;
  size_t offset = 0;
  Clock::time_point last_step;
};

// The thread that owns the daemon's selection. Callers post their work and
// wait for its answer; between tasks the thread serves `send` events and
// feeds readers whose pipes have room, never waiting on one of them.
class SelectionOwner {
 public:
  static Result<std::shared_ptr<SelectionOwner>> Start() {
    Result<std::unique_ptr<WaylandConnection>> opened = WaylandConnection::Open();
    if (!opened) return Error(Unavailable(opened.error()));
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return Error(Unavailable("cannot create the clipboard's wake-up descriptor"));
    std::shared_ptr<SelectionOwner> owner(new SelectionOwner(std::move(opened).value(), wake));
    if (Result<void> bound = owner->globals_.Bind(*owner->c_); !bound) {
      return Error(std::move(bound).error());
    }
    // The thread keeps the object alive for as long as it runs.
    std::thread([owner] { owner->Run(); }).detach();
    return owner;
  }
  ~SelectionOwner() {
    if (source_ != nullptr) zwlr_data_control_source_v1_destroy(source_);
  }

  // Runs `task` on the thread; false when the thread has ended.
  bool Post(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      if (ended_) return false;
      tasks_.push_back(std::move(task));
    }
    const uint64_t one = 1;
    (void)!write(wake_.get(), &one, sizeof one);
    return true;
  }

  bool ended() {
    std::lock_guard lock(mutex_);
    return ended_;
  }

  // On the thread only.
  Result<void> Write(std::string text);

 private:
  SelectionOwner(std::unique_ptr<WaylandConnection> c, int wake)
      : c_(std::move(c)), wake_(wake) {}

  void Run();
  void RunTasks();
  // Waits for the connection, the wake-up descriptor and the readers'
  // pipes; false when the connection broke.
  bool WaitAndRead();
  void Serve(zwlr_data_control_source_v1* source, const char* mime, int fd);
  // Writes what the pipe takes; false once the transfer is over.
  static bool Feed(Outgoing& out);
  void ExpireOutgoing();

  std::unique_ptr<WaylandConnection> c_;
  Fd wake_;
  ControlGlobals globals_;
  bool broken_ = false;

  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  bool ended_ = false;

  // The source the daemon owns the selection with, and its text; null
  // once another client took the selection.
  zwlr_data_control_source_v1* source_ = nullptr;
  std::shared_ptr<const std::string> owned_;
  std::shared_ptr<const std::string> owned_latin1_;  // made on the first request for STRING
  std::vector<Outgoing> outgoing_;
};

void SelectionOwner::Run() {
  while (!broken_ && !globals_.device().finished()) {
    RunTasks();
    if (broken_ || !WaitAndRead()) break;
  }
  std::deque<std::function<void()>> left;
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
    left.swap(tasks_);
  }
  broken_ = true;
  // The connection is gone: what was queued fails at once.
  for (auto& task : left) task();
}

void SelectionOwner::RunTasks() {
  uint64_t count = 0;
  (void)!read(wake_.get(), &count, sizeof count);
  while (true) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

bool SelectionOwner::WaitAndRead() {
  wl_display* display = c_->display();
  if (wl_display_dispatch_pending(display) < 0) return false;
  ExpireOutgoing();
  // Nothing else reads this connection: a failed prepare only means
  // events are queued, which the next round dispatches.
  if (wl_display_prepare_read(display) != 0) return true;
  short events = POLLIN;
  if (wl_display_flush(display) < 0) {
    if (errno != EAGAIN) {
      wl_display_cancel_read(display);
      return false;
    }
    events |= POLLOUT;
  }
  std::vector<pollfd> fds = {{wl_display_get_fd(display), events, 0}, {wake_.get(), POLLIN, 0}};
  Clock::time_point until = Clock::time_point::max();
  for (const Outgoing& out : outgoing_) {
    fds.push_back({out.fd.get(), POLLOUT, 0});
    until = std::min(until, out.last_step + kOutgoingIdle);
  }
  int timeout = -1;
  if (until != Clock::time_point::max()) {
    const auto left = std::chrono::ceil<milliseconds>(until - Clock::now()).count();
    timeout = static_cast<int>(std::clamp<int64_t>(left, 0, 60'000));
  }
  const int ready = poll(fds.data(), fds.size(), timeout);
  if (ready < 0) {
    wl_display_cancel_read(display);
    return errno == EINTR;
  }
  if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
    if (wl_display_read_events(display) < 0) return false;
  } else {
    wl_display_cancel_read(display);
  }
  // The readers are still those polled: `send` events come only from
  // dispatching, which has not happened since.
  for (size_t i = outgoing_.size(); i-- > 0;) {
    if (fds[i + 2].revents != 0 && !Feed(outgoing_[i])) {
      outgoing_.erase(outgoing_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  return wl_display_dispatch_pending(display) >= 0;
}

bool SelectionOwner::Feed(Outgoing& out) {
  while (out.offset < out.data->size()) {
    const ssize_t n = write(out.fd.get(), out.data->data() + out.offset,
                            std::min<size_t>(out.data->size() - out.offset, kPipeBytes));
    if (n > 0) {
      out.offset += static_cast<size_t>(n);
      out.last_step = Clock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // Full: wait for room. Anything else (the reader closed its end, EPIPE)
    // ends the transfer.
    return n < 0 && errno == EAGAIN;
  }
  return false;  // all written: closing the pipe ends the text
}

void SelectionOwner::ExpireOutgoing() {
  const Clock::time_point now = Clock::now();
  std::erase_if(outgoing_, [&](const Outgoing& out) { return now - out.last_step >= kOutgoingIdle; });
}

void SelectionOwner::Serve(zwlr_data_control_source_v1* source, const char* mime, int fd) {
  Outgoing out{Fd(fd), nullptr, 0, Clock::now()};
  if (source != source_ || !owned_ || mime == nullptr) return;  // closes the pipe: no text
  if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) return;
  fcntl(fd, F_SETPIPE_SZ, kPipeBytes);
  if (std::string_view(mime) == "STRING") {
    // Made once per text, however many readers ask for it.
    if (!owned_latin1_) owned_latin1_ = std::make_shared<const std::string>(Utf8ToLatin1(*owned_));
    out.data = owned_latin1_;
  } else {
    out.data = owned_;
  }
  if (Feed(out) && outgoing_.size() < kMaxOutgoing) outgoing_.push_back(std::move(out));
}

Result<void> SelectionOwner::Write(std::string text) {
  if (broken_) return Error(Unavailable(kCompositorGone));
  static const zwlr_data_control_source_v1_listener listener = {
      .send = [](void* data, zwlr_data_control_source_v1* source, const char* mime, int32_t fd) {
        static_cast<SelectionOwner*>(data)->Serve(source, mime, fd);
      },
      .cancelled = [](void* data, zwlr_data_control_source_v1* source) {
        auto* self = static_cast<SelectionOwner*>(data);
        if (source == self->source_) {
          self->source_ = nullptr;
          self->owned_.reset();  // transfers under way keep their own reference
          self->owned_latin1_.reset();
        }
        zwlr_data_control_source_v1_destroy(source);
      },
  };
  zwlr_data_control_source_v1* source =
      zwlr_data_control_manager_v1_create_data_source(globals_.manager());
  zwlr_data_control_source_v1_add_listener(source, &listener, this);
  for (const char* mime : kOfferedMimes) zwlr_data_control_source_v1_offer(source, mime);
  zwlr_data_control_device_v1_set_selection(globals_.device().get(), source);
  // The source it replaces goes at once: the compositor has already
  // been told of the new one, and cancels the old one's transfers.
  if (source_ != nullptr) zwlr_data_control_source_v1_destroy(source_);
  source_ = source;
  owned_ = std::make_shared<const std::string>(std::move(text));
  owned_latin1_.reset();
  if (Result<void> synced = c_->Roundtrip(); !synced) {
    broken_ = true;
    return Error(Unavailable(synced.error()));
  }
  if (source_ != source) return Error("unavailable: another client holds the clipboard");
  return {};
}

}  // namespace

std::string_view ChooseTextMime(const std::vector<std::string>& offered) {
  const auto has = [&](std::string_view wanted) {
    return std::any_of(offered.begin(), offered.end(), [&](const std::string& type) {
      return type.size() == wanted.size() &&
             std::equal(type.begin(), type.end(), wanted.begin(),
                        [](char a, char b) { return (a | 0x20) == (b | 0x20); });
    });
  };
  for (std::string_view wanted :
       {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING"}) {
    if (has(wanted)) return wanted;
  }
  return "";
}

Result<ClipboardText> ReadClipboard(size_t max_bytes) {
  Result<std::unique_ptr<WaylandConnection>> opened = WaylandConnection::Open();
  if (!opened) return Error(Unavailable(opened.error()));
  WaylandConnection& c = **opened;
  ControlGlobals globals;
  if (Result<void> bound = globals.Bind(c); !bound) return Error(std::move(bound).error());
  ClipboardText out;
  const Offer* offer = globals.device().selection();
  if (offer == nullptr) return out;
  out.types = offer->types;
  const std::string_view mime = ChooseTextMime(out.types);
  if (mime.empty()) return out;

  int ends[2];
  if (const int failed = OpenCloexecPipe(ends); failed != 0) {
    return Error(Unavailable("cannot create a pipe for the clipboard: " + OsErrorText(failed)));
  }
  Fd reading(ends[0]);
  fcntl(ends[0], F_SETPIPE_SZ, kPipeBytes);
  zwlr_data_control_offer_v1_receive(offer->proxy, std::string(mime).c_str(), ends[1]);
  // The request carries its own copy: the owner's close alone ends the text.
  close(ends[1]);
  if (wl_display_flush(c.display()) < 0) {
    if (errno != EAGAIN) return Error(Unavailable(kCompositorGone));
    if (Result<void> sent = c.Roundtrip(); !sent) return Error(Unavailable(sent.error()));
  }
  IncomingText in(max_bytes);
  if (Result<void> read = ReadOwnersText(reading.get(), in); !read) {
    return Error(std::move(read).error());
  }
  out.truncated = in.truncated();
  if (mime == "STRING") {
    out.text = Latin1ToUtf8(in.data());
    if (out.text.size() > max_bytes) {
      out.text.resize(max_bytes);
      out.truncated = true;
    }
  } else {
    out.text = std::move(in.data());
  }
  return out;
}

Result<void> WriteClipboard(std::string text) {
  Result<std::shared_ptr<SelectionOwner>> owner = LastingWorker<SelectionOwner>();
  if (!owner) return Error(std::move(owner).error());
  auto promise = std::make_shared<std::promise<Result<void>>>();
  std::future<Result<void>> answer = promise->get_future();
  SelectionOwner* self = owner->get();
  auto shared = std::make_shared<std::string>(std::move(text));
  const bool posted = (*owner)->Post([promise, self, shared] {
    try {
      promise->set_value(self->Write(std::move(*shared)));
    } catch (...) {
      promise->set_value(Error("internal error"));  // out of memory: the thread goes on
    }
  });
  if (!posted) return Error(Unavailable(kCompositorGone));
  return answer.get();
}

}  // namespace tarvix::wlr
