// The CLIPBOARD selection, spoken by the daemon itself.
//
// One thread owns a connection of its own and an unmapped window. It reads
// the selection for callers and, while the daemon owns it, answers other
// clients' requests (INCR for texts larger than one request) until another
// client takes the selection (SelectionClear). Callers post their work to
// the thread and wait for its answer, so reading, writing and serving never
// race on the connection. Serving never waits on a peer: it reacts to
// events, and the only waits (a read, taking ownership) pump events while
// they wait, so requests keep being answered meanwhile.
//
// Ownership lives and dies with the thread's connection: when the daemon
// exits, however it exits, the server closes the connection and the
// selection has no owner any more; nothing is left behind to clean up.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>  // xcb_poll_for_reply

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/clipboard.h"
#include "platform/lasting_worker.h"
#include "platform/x11/selection_transfer.h"
#include "platform/x11/x_connection.h"
#include "platform/x11/x_text.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A selection owner gets this long to answer each step of a transfer.
constexpr milliseconds kOwnerSilence{1000};
// The whole of one read, however lively the owner: a peer that streams
// INCR chunks for ever is cut here (the text is then truncated).
constexpr milliseconds kReadBudget{5000};
// The X server itself.
constexpr milliseconds kServerDeadline{2000};
// Requestors being fed INCR chunks at once, and how long each may go
// without taking a chunk before it is dropped.
constexpr size_t kMaxOutgoing = 16;
constexpr milliseconds kOutgoingIdle{5000};
constexpr size_t kMaxOfferedTargets = 256;

constexpr char kOwnerSilent[] = "unavailable: the clipboard owner did not answer";
constexpr char kServerSilent[] = "unavailable: the X server did not answer";

// One requestor receiving the daemon's text in INCR chunks.
struct Outgoing {
  xcb_window_t requestor = 0;
  xcb_atom_t property = 0;
  xcb_atom_t type = 0;
  std::shared_ptr<const std::string> data;
  size_t offset = 0;
  Clock::time_point last_step;
};

class SelectionThread {
 public:
  static Result<std::shared_ptr<SelectionThread>> Start() {
    Result<std::unique_ptr<XConnection>> x = XConnection::Open();
    if (!x) return Error(std::string("unavailable: ") + kXDisplayHint);
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return Error("unavailable: cannot create the clipboard's wake-up descriptor");
    std::shared_ptr<SelectionThread> thread(new SelectionThread(std::move(x).value(), wake));
    if (Result<void> ready = thread->Setup(); !ready) return Error(std::move(ready).error());
    // The thread keeps the object alive for as long as it runs.
    std::thread([thread] { thread->Run(); }).detach();
    return thread;
  }

  ~SelectionThread() { close(wake_); }

  // Runs `task` on the thread; false when the thread has ended.
  bool Post(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      if (ended_) return false;
      tasks_.push_back(std::move(task));
    }
    const uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
    return true;
  }

  bool ended() {
    std::lock_guard lock(mutex_);
    return ended_;
  }

  // On the thread only.
  Result<ClipboardText> Read(size_t max_bytes);
  Result<void> Write(std::string text);

 private:
  SelectionThread(std::unique_ptr<XConnection> x, int wake) : x_(std::move(x)), wake_(wake) {}

  xcb_connection_t* c() const { return x_->get(); }
  Result<void> Setup();
  void Run();
  void RunTasks();

  // Waits for the reply to `sequence`, handling events meanwhile.
  template <typename Reply>
  XcbReply<Reply> Await(unsigned int sequence, Clock::time_point deadline);
  // Handles events until `done()` holds; false at the deadline or when the
  // connection broke.
  bool PumpUntil(const std::function<bool()>& done, Clock::time_point deadline);
  // Handles what has arrived; false when the connection broke.
  bool DrainEvents();
  bool WaitReadable(Clock::time_point deadline, bool with_wake);

  void Handle(xcb_generic_event_t* event);
  void Serve(const xcb_selection_request_event_t& request);
  void Step(Outgoing& out);
  void EndOutgoing(size_t index);
  void ExpireOutgoing();

  // Asks the owner to convert to `target` and waits for its notice.
  Result<xcb_atom_t> Convert(xcb_atom_t target, Clock::time_point budget_end);
  Result<std::vector<std::string>> OfferedNames(xcb_atom_t property);
  Result<void> ReadIncremental(IncomingText& in, Clock::time_point budget_end);
  xcb_atom_t Intern(const char* name);

  std::unique_ptr<XConnection> x_;
  int wake_;
  xcb_window_t window_ = 0;
  SelectionAtoms atoms_;
  xcb_atom_t transfer_property_ = 0;
  xcb_atom_t stamp_property_ = 0;
  xcb_atom_t compound_text_ = 0;
  size_t chunk_ = 0;

  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  bool ended_ = false;

  // The text the daemon owns; null when it owns nothing.
  std::shared_ptr<const std::string> owned_;
  xcb_timestamp_t owned_since_ = 0;
  std::vector<Outgoing> outgoing_;

  // What the waits above look for, set by Handle.
  std::optional<xcb_selection_notify_event_t> notice_;
  bool transfer_new_value_ = false;
  std::optional<xcb_timestamp_t> stamp_;
};

xcb_atom_t SelectionThread::Intern(const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(c(), 0, static_cast<uint16_t>(strlen(name)), name);
  XcbReply<xcb_intern_atom_reply_t> reply =
      Await<xcb_intern_atom_reply_t>(cookie.sequence, Clock::now() + kServerDeadline);
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

Result<void> SelectionThread::Setup() {
  window_ = xcb_generate_id(c());
  const uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
  xcb_create_window(c(), XCB_COPY_FROM_PARENT, window_, x_->root(), -10, -10, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                    XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
  atoms_.clipboard = Intern("CLIPBOARD");
  atoms_.targets = Intern("TARGETS");
  atoms_.timestamp = Intern("TIMESTAMP");
  atoms_.multiple = Intern("MULTIPLE");
  atoms_.utf8_string = Intern("UTF8_STRING");
  atoms_.text = Intern("TEXT");
  atoms_.string = XCB_ATOM_STRING;
  atoms_.incr = Intern("INCR");
  transfer_property_ = Intern("TARVIX_SELECTION");
  stamp_property_ = Intern("TARVIX_TIMESTAMP");
  compound_text_ = Intern("COMPOUND_TEXT");
  for (xcb_atom_t atom : {atoms_.clipboard, atoms_.targets, atoms_.timestamp, atoms_.utf8_string,
                          atoms_.text, atoms_.incr, transfer_property_, stamp_property_}) {
    if (atom == XCB_ATOM_NONE) return Error(kServerSilent);
  }
  // One chunk fits a request without BIG-REQUESTS, with room for the
  // request's header.
  const size_t max_request = size_t{xcb_get_setup(c())->maximum_request_length} * 4;
  chunk_ = std::min<size_t>(max_request - 1024, size_t{128} << 10);
  return {};
}

void SelectionThread::Run() {
  while (true) {
    RunTasks();
    if (!DrainEvents()) break;
    ExpireOutgoing();
    Clock::time_point until = Clock::time_point::max();
    for (const Outgoing& out : outgoing_) until = std::min(until, out.last_step + kOutgoingIdle);
    WaitReadable(until, true);
  }
  std::deque<std::function<void()>> left;
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
    left.swap(tasks_);
  }
  // The connection is gone: what was queued fails at once.
  for (auto& task : left) task();
}

void SelectionThread::RunTasks() {
  uint64_t count = 0;
  (void)!read(wake_, &count, sizeof count);
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

bool SelectionThread::WaitReadable(Clock::time_point deadline, bool with_wake) {
  xcb_flush(c());
  pollfd fds[2] = {{xcb_get_file_descriptor(c()), POLLIN, 0}, {wake_, POLLIN, 0}};
  int timeout = -1;
  if (deadline != Clock::time_point::max()) {
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    timeout = static_cast<int>(std::clamp<int64_t>(left, 0, 60'000));
  }
  return poll(fds, with_wake ? 2 : 1, timeout) > 0;
}

bool SelectionThread::DrainEvents() {
  while (xcb_generic_event_t* event = xcb_poll_for_event(c())) {
    Handle(event);
    free(event);
  }
  return !x_->broken();
}

template <typename Reply>
XcbReply<Reply> SelectionThread::Await(unsigned int sequence, Clock::time_point deadline) {
  xcb_flush(c());
  while (true) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (xcb_poll_for_reply(c(), sequence, &reply, &error) != 0) {
      free(error);
      return XcbReply<Reply>(static_cast<Reply*>(reply));
    }
    if (!DrainEvents()) return nullptr;
    if (xcb_poll_for_reply(c(), sequence, &reply, &error) != 0) {
      free(error);
      return XcbReply<Reply>(static_cast<Reply*>(reply));
    }
    if (Clock::now() >= deadline) {
      xcb_discard_reply(c(), sequence);  // a late reply is then dropped, not kept
      return nullptr;
    }
    WaitReadable(deadline, false);
  }
}

bool SelectionThread::PumpUntil(const std::function<bool()>& done, Clock::time_point deadline) {
  while (true) {
    if (!DrainEvents()) return false;
    if (done()) return true;
    if (Clock::now() >= deadline) return false;
    WaitReadable(deadline, false);
  }
}

void SelectionThread::Handle(xcb_generic_event_t* event) {
  switch (event->response_type & 0x7F) {
    case XCB_SELECTION_CLEAR: {
      const auto* clear = reinterpret_cast<xcb_selection_clear_event_t*>(event);
      // Transfers already under way keep their own reference to the text.
      if (clear->selection == atoms_.clipboard) owned_.reset();
      break;
    }
    case XCB_SELECTION_REQUEST:
      Serve(*reinterpret_cast<xcb_selection_request_event_t*>(event));
      break;
    case XCB_SELECTION_NOTIFY: {
      const auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event);
      if (notify->requestor == window_ && notify->selection == atoms_.clipboard) notice_ = *notify;
      break;
    }
    case XCB_PROPERTY_NOTIFY: {
      const auto* change = reinterpret_cast<xcb_property_notify_event_t*>(event);
      const bool new_value = change->state == XCB_PROPERTY_NEW_VALUE;
      if (change->window == window_) {
        if (change->atom == stamp_property_ && new_value) stamp_ = change->time;
        if (change->atom == transfer_property_ && new_value) transfer_new_value_ = true;
        break;
      }
      if (new_value) break;
      for (Outgoing& out : outgoing_) {
        if (out.requestor == change->window && out.property == change->atom) {
          Step(out);
          break;
        }
      }
      break;
    }
    default:
      break;  // errors of unchecked requests (a requestor gone), others
  }
}

void SelectionThread::Serve(const xcb_selection_request_event_t& request) {
  // Obsolete clients name no property: the target is the property then.
  xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
  const bool ours = owned_ && request.selection == atoms_.clipboard &&
                    request.owner == window_ &&
                    (request.time == XCB_CURRENT_TIME || request.time >= owned_since_);
  const ServedAs as = ours ? ClassifyTarget(atoms_, request.target) : ServedAs::kRefused;
  switch (as) {
    case ServedAs::kTargets: {
      const std::vector<uint32_t> targets = OfferedTargets(atoms_);
      xcb_change_property(c(), XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM,
                          32, static_cast<uint32_t>(targets.size()), targets.data());
      break;
    }
    case ServedAs::kTimestamp:
      xcb_change_property(c(), XCB_PROP_MODE_REPLACE, request.requestor, property,
                          XCB_ATOM_INTEGER, 32, 1, &owned_since_);
      break;
    case ServedAs::kUtf8:
    case ServedAs::kLatin1: {
      const bool utf8 = as == ServedAs::kUtf8;
      std::shared_ptr<const std::string> data =
          utf8 ? owned_ : std::make_shared<const std::string>(Utf8ToLatin1(*owned_));
      const xcb_atom_t type = utf8 ? atoms_.utf8_string : atoms_.string;
      if (data->size() <= chunk_) {
        xcb_change_property(c(), XCB_PROP_MODE_REPLACE, request.requestor, property, type, 8,
                            static_cast<uint32_t>(data->size()), data->data());
        break;
      }
      if (outgoing_.size() >= kMaxOutgoing) {
        property = XCB_ATOM_NONE;  // busy: the requestor may ask again
        break;
      }
      // The requestor deletes the property to ask for each next chunk.
      const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
      xcb_change_window_attributes(c(), request.requestor, XCB_CW_EVENT_MASK, &mask);
      const uint32_t size = static_cast<uint32_t>(data->size());
      xcb_change_property(c(), XCB_PROP_MODE_REPLACE, request.requestor, property, atoms_.incr,
                          32, 1, &size);
      outgoing_.push_back(Outgoing{request.requestor, property, type, std::move(data), 0,
                                   Clock::now()});
      break;
    }
    case ServedAs::kRefused:
      property = XCB_ATOM_NONE;
      break;
  }
  xcb_selection_notify_event_t notify{};
  notify.response_type = XCB_SELECTION_NOTIFY;
  notify.time = request.time;
  notify.requestor = request.requestor;
  notify.selection = request.selection;
  notify.target = request.target;
  notify.property = property;
  xcb_send_event(c(), 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&notify));
  xcb_flush(c());
}

void SelectionThread::Step(Outgoing& out) {
  const size_t size = std::min(chunk_, out.data->size() - out.offset);
  xcb_change_property(c(), XCB_PROP_MODE_REPLACE, out.requestor, out.property, out.type, 8,
                      static_cast<uint32_t>(size), out.data->data() + out.offset);
  out.last_step = Clock::now();
  const bool last = size == 0;  // the empty chunk ends the transfer
  out.offset += size;
  if (last) EndOutgoing(static_cast<size_t>(&out - outgoing_.data()));
  xcb_flush(c());
}

void SelectionThread::EndOutgoing(size_t index) {
  const xcb_window_t requestor = outgoing_[index].requestor;
  outgoing_.erase(outgoing_.begin() + static_cast<std::ptrdiff_t>(index));
  for (const Outgoing& other : outgoing_) {
    if (other.requestor == requestor) return;
  }
  const uint32_t none = XCB_EVENT_MASK_NO_EVENT;
  xcb_change_window_attributes(c(), requestor, XCB_CW_EVENT_MASK, &none);
}

void SelectionThread::ExpireOutgoing() {
  const Clock::time_point now = Clock::now();
  for (size_t i = outgoing_.size(); i-- > 0;) {
    if (now - outgoing_[i].last_step >= kOutgoingIdle) EndOutgoing(i);
  }
}

Result<xcb_atom_t> SelectionThread::Convert(xcb_atom_t target, Clock::time_point budget_end) {
  notice_.reset();
  xcb_delete_property(c(), window_, transfer_property_);
  xcb_convert_selection(c(), window_, atoms_.clipboard, target, transfer_property_,
                        XCB_CURRENT_TIME);
  const Clock::time_point deadline = std::min(budget_end, Clock::now() + kOwnerSilence);
  if (!PumpUntil([&] { return notice_ && notice_->target == target; }, deadline)) {
    return Error(x_->broken() ? kServerSilent : kOwnerSilent);
  }
  return notice_->property;
}

Result<std::vector<std::string>> SelectionThread::OfferedNames(xcb_atom_t property) {
  const Clock::time_point deadline = Clock::now() + kServerDeadline;
  XcbReply<xcb_get_property_reply_t> list = Await<xcb_get_property_reply_t>(
      xcb_get_property(c(), 1, window_, property, XCB_ATOM_ANY, 0, kMaxOfferedTargets).sequence,
      deadline);
  if (!list) return Error(kServerSilent);
  std::vector<std::string> names;
  if (list->format != 32) return names;
  const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(list.get()));
  const size_t count = static_cast<size_t>(xcb_get_property_value_length(list.get())) / 4;
  std::vector<xcb_get_atom_name_cookie_t> cookies;
  for (size_t i = 0; i < count; ++i) cookies.push_back(xcb_get_atom_name(c(), atoms[i]));
  for (const xcb_get_atom_name_cookie_t& cookie : cookies) {
    XcbReply<xcb_get_atom_name_reply_t> name =
        Await<xcb_get_atom_name_reply_t>(cookie.sequence, deadline);
    if (!name) {
      if (x_->broken() || Clock::now() >= deadline) return Error(kServerSilent);
      continue;  // not an atom: the owner's mistake
    }
    names.emplace_back(xcb_get_atom_name_name(name.get()),
                       static_cast<size_t>(xcb_get_atom_name_name_length(name.get())));
  }
  return names;
}

Result<void> SelectionThread::ReadIncremental(IncomingText& in, Clock::time_point budget_end) {
  while (true) {
    transfer_new_value_ = false;
    // Deleting the property asks the owner for the next chunk.
    xcb_delete_property(c(), window_, transfer_property_);
    const Clock::time_point deadline = std::min(budget_end, Clock::now() + kOwnerSilence);
    if (!PumpUntil([&] { return transfer_new_value_; }, deadline)) {
      if (x_->broken()) return Error(kServerSilent);
      if (Clock::now() < budget_end && in.data().empty()) return Error(kOwnerSilent);
      // Data came but the owner stalled or went on too long: keep what came.
      in.MarkTruncated();
      return {};
    }
    // One byte past the room shows whether the owner has more.
    const uint32_t words = static_cast<uint32_t>(in.Room() / 4 + 1);
    XcbReply<xcb_get_property_reply_t> chunk = Await<xcb_get_property_reply_t>(
        xcb_get_property(c(), 0, window_, transfer_property_, XCB_ATOM_ANY, 0, words).sequence,
        Clock::now() + kServerDeadline);
    if (!chunk) return Error(kServerSilent);
    const auto length = static_cast<size_t>(xcb_get_property_value_length(chunk.get()));
    if (length == 0 && chunk->bytes_after == 0) {  // the closing empty chunk
      xcb_delete_property(c(), window_, transfer_property_);
      xcb_flush(c());
      return {};
    }
    const std::string_view bytes(static_cast<const char*>(xcb_get_property_value(chunk.get())),
                                 length);
    if (!in.Append(bytes) || chunk->bytes_after > 0) {
      if (chunk->bytes_after > 0) in.MarkTruncated();
      return {};
    }
  }
}

Result<ClipboardText> SelectionThread::Read(size_t max_bytes) {
  ClipboardText out;
  if (owned_) {
    // Our own selection: asking the server would have this thread wait on
    // itself.
    out.truncated = owned_->size() > max_bytes;
    out.text = owned_->substr(0, max_bytes);
    out.types = {"TARGETS", "TIMESTAMP", "UTF8_STRING", "STRING", "TEXT"};
    return out;
  }
  const Clock::time_point budget_end = Clock::now() + kReadBudget;
  XcbReply<xcb_get_selection_owner_reply_t> owner = Await<xcb_get_selection_owner_reply_t>(
      xcb_get_selection_owner(c(), atoms_.clipboard).sequence, Clock::now() + kServerDeadline);
  if (!owner) return Error(kServerSilent);
  if (owner->owner == XCB_NONE) return out;

  Result<xcb_atom_t> listed = Convert(atoms_.targets, budget_end);
  if (!listed) return Error(std::move(listed).error());
  if (*listed != XCB_ATOM_NONE) {
    Result<std::vector<std::string>> names = OfferedNames(*listed);
    if (!names) return Error(std::move(names).error());
    out.types = std::move(names).value();
  }
  const std::string_view target = ChooseReadTarget(out.types, *listed != XCB_ATOM_NONE);
  if (target.empty()) return out;
  const xcb_atom_t target_atom = target == "STRING" ? atoms_.string
                                 : target == "TEXT" ? atoms_.text
                                                    : atoms_.utf8_string;
  Result<xcb_atom_t> converted = Convert(target_atom, budget_end);
  if (!converted) return Error(std::move(converted).error());
  if (*converted == XCB_ATOM_NONE) return out;  // the owner refused: no text

  IncomingText in(max_bytes);
  const uint32_t words = static_cast<uint32_t>(max_bytes / 4 + 1);
  XcbReply<xcb_get_property_reply_t> value = Await<xcb_get_property_reply_t>(
      xcb_get_property(c(), 0, window_, *converted, XCB_ATOM_ANY, 0, words).sequence,
      Clock::now() + kServerDeadline);
  if (!value) return Error(kServerSilent);
  xcb_atom_t type = value->type;
  if (type == atoms_.incr) {
    value.reset();
    if (Result<void> incremental = ReadIncremental(in, budget_end); !incremental) {
      return Error(std::move(incremental).error());
    }
    // The chunks' type is the text's type.
    type = target_atom == atoms_.string ? atoms_.string : atoms_.utf8_string;
  } else {
    in.Append(std::string_view(static_cast<const char*>(xcb_get_property_value(value.get())),
                               static_cast<size_t>(xcb_get_property_value_length(value.get()))));
    if (value->bytes_after > 0) in.MarkTruncated();
    xcb_delete_property(c(), window_, *converted);
    xcb_flush(c());
  }
  out.truncated = in.truncated();
  if (type == atoms_.string || type == compound_text_) {
    // TEXT may come as COMPOUND_TEXT.
    out.text = type == atoms_.string ? Latin1ToUtf8(in.data()) : CompoundTextToUtf8(in.data());
    if (out.text.size() > max_bytes) {
      out.text.resize(max_bytes);
      out.truncated = true;
    }
  } else {
    out.text = std::move(in.data());
  }
  return out;
}

Result<void> SelectionThread::Write(std::string text) {
  // Ownership is taken at a real server time (a PropertyNotify's), as
  // the ICCCM asks, so stale requests can be told apart.
  stamp_.reset();
  xcb_change_property(c(), XCB_PROP_MODE_APPEND, window_, stamp_property_, XCB_ATOM_STRING, 8, 0,
                      nullptr);
  if (!PumpUntil([&] { return stamp_.has_value(); }, Clock::now() + kServerDeadline)) {
    return Error(kServerSilent);
  }
  xcb_set_selection_owner(c(), window_, atoms_.clipboard, *stamp_);
  XcbReply<xcb_get_selection_owner_reply_t> owner = Await<xcb_get_selection_owner_reply_t>(
      xcb_get_selection_owner(c(), atoms_.clipboard).sequence, Clock::now() + kServerDeadline);
  if (!owner) return Error(kServerSilent);
  if (owner->owner != window_) return Error("unavailable: another client holds the clipboard");
  owned_ = std::make_shared<const std::string>(std::move(text));
  owned_since_ = *stamp_;
  return {};
}

template <typename T>
Result<T> OnThread(std::function<Result<T>(SelectionThread&)> work) {
  Result<std::shared_ptr<SelectionThread>> thread = LastingWorker<SelectionThread>();
  if (!thread) return Error(std::move(thread).error());
  auto promise = std::make_shared<std::promise<Result<T>>>();
  std::future<Result<T>> answer = promise->get_future();
  SelectionThread* self = thread->get();
  const bool posted = (*thread)->Post([promise, self, work] {
    try {
      promise->set_value(work(*self));
    } catch (...) {
      promise->set_value(Error("internal error"));  // out of memory: the thread goes on
    }
  });
  if (!posted) {
    return Error(kServerSilent);
  }
  return answer.get();
}

}  // namespace

// Served through the desktop chooser (platform/desktop_backend.h).
namespace x11 {

Result<ClipboardText> ReadClipboard(size_t max_bytes) {
  return OnThread<ClipboardText>(
      [max_bytes](SelectionThread& thread) { return thread.Read(max_bytes); });
}

Result<void> WriteClipboard(std::string text) {
  auto shared = std::make_shared<std::string>(std::move(text));
  return OnThread<void>(
      [shared](SelectionThread& thread) { return thread.Write(std::move(*shared)); });
}

}  // namespace x11
}  // namespace tarvix
