#include "mcp/stdio_server.h"

#include <errno.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

#include "mcp/json_rpc.h"
#include "mcp/progress_tracker.h"

namespace tarvix::mcp {
namespace {

constexpr int kInternalError = -32603;

// Whole lines to one descriptor, one writer at a time.
class LineWriter {
 public:
  explicit LineWriter(int fd) : fd_(fd) {}

  // False once the descriptor failed (the client is gone).
  bool Write(const Json& message) {
    std::string line = ToJsonText(message);
    line += '\n';
    std::lock_guard lock(mutex_);
    if (broken_) return false;
    std::string_view rest = line;
    while (!rest.empty()) {
      const ssize_t n = write(fd_, rest.data(), rest.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        broken_ = true;
        return false;
      }
      rest.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

  bool broken() {
    std::lock_guard lock(mutex_);
    return broken_;
  }

 private:
  const int fd_;
  std::mutex mutex_;
  bool broken_ = false;  // guarded by mutex_
};

struct Job {
  Json id;
  std::string method;
  Json params;
  size_t line_bytes = 0;  // the length of the line it came in
};

// Everything the threads share; each thread holds a reference, so a
// detached worker that outlives RunStdioServer finds it intact.
struct State {
  State(McpSession* session, int out_fd) : session(session), writer(out_fd) {}

  McpSession* const session;
  LineWriter writer;

  std::mutex queue_mutex;
  std::condition_variable queue_filled;
  std::condition_variable queue_drained;  // a job was taken or finished
  std::deque<Job> queue;                  // guarded by queue_mutex
  bool input_ended = false;               // guarded by queue_mutex
  int active = 0;                         // guarded by queue_mutex
  // Line bytes of the queued jobs and of those with a worker: a job's parsed
  // params and the request built from them are a few times its line, so
  // this bounds what a stopped daemon makes the bridge hold.
  size_t held_bytes = 0;                  // guarded by queue_mutex

  std::mutex progress_mutex;
  std::condition_variable progress_changed;
  ProgressTracker progress;     // guarded by progress_mutex
  bool progress_stop = false;   // guarded by progress_mutex
  std::atomic<uint64_t> next_call{1};

  // Requests read and not yet answered, by the text of their id, with
  // whether the client cancelled them: a cancelled call still runs to its
  // end in the daemon, but its reply is not sent.
  std::mutex requests_mutex;
  std::unordered_map<std::string, bool> requests;  // guarded by requests_mutex
};

Json AnswerGuarded(State& state, const Job& job) {
  try {
    return state.session->Answer(job.id, job.method, job.params);
  } catch (const std::exception& e) {
    return ErrorReply(job.id, kInternalError, std::string("Internal error: ") + e.what());
  } catch (...) {
    return ErrorReply(job.id, kInternalError, "Internal error");
  }
}

void Work(std::shared_ptr<State> state) {
  while (true) {
    Job job;
    {
      std::unique_lock lock(state->queue_mutex);
      state->queue_filled.wait(lock, [&] { return state->input_ended || !state->queue.empty(); });
      if (state->queue.empty()) return;
      job = std::move(state->queue.front());
      state->queue.pop_front();
      ++state->active;
    }
    state->queue_drained.notify_all();

    const Json token = job.method == "tools/call" ? ProgressToken(job.params) : Json();
    const uint64_t call = state->next_call++;
    if (!token.is_null()) {
      const auto name = job.params.find("name");
      std::lock_guard lock(state->progress_mutex);
      const bool named = name != job.params.end() && name->is_string();
      state->progress.Begin(call, token, named ? name->get<std::string>() : "tool",
                            ProgressTracker::Clock::now());
      state->progress_changed.notify_one();
    }
    const Json reply = AnswerGuarded(*state, job);
    if (!token.is_null()) {
      // Under the progress lock: once End returns no notification for this
      // call can follow its reply.
      std::lock_guard lock(state->progress_mutex);
      state->progress.End(call);
    }
    bool cancelled = false;
    {
      std::lock_guard lock(state->requests_mutex);
      const auto request = state->requests.find(ToJsonText(job.id));
      if (request != state->requests.end()) {
        cancelled = request->second;
        state->requests.erase(request);
      }
    }
    if (!cancelled) state->writer.Write(reply);
    {
      std::lock_guard lock(state->queue_mutex);
      --state->active;
      state->held_bytes -= job.line_bytes;
    }
    state->queue_drained.notify_all();
  }
}

void ReportProgress(std::shared_ptr<State> state) {
  std::unique_lock lock(state->progress_mutex);
  while (!state->progress_stop) {
    const auto next = state->progress.NextDue();
    if (next) {
      state->progress_changed.wait_until(lock, *next);
    } else {
      state->progress_changed.wait(lock);
    }
    if (state->progress_stop) break;
    for (const Json& notification : state->progress.TakeDue(ProgressTracker::Clock::now())) {
      state->writer.Write(notification);
    }
  }
}

// Handles one complete line on the reading thread.
void Accept(State& state, std::string_view line, const StdioServerOptions& options) {
  Incoming incoming = ClassifyLine(line);
  switch (incoming.kind) {
    case Incoming::Kind::kInvalid:
      state.writer.Write(incoming.error_reply);
      return;
    case Incoming::Kind::kRequest: {
      {
        std::lock_guard lock(state.requests_mutex);
        state.requests.emplace(ToJsonText(incoming.id), false);
      }
      std::unique_lock lock(state.queue_mutex);
      state.queue_drained.wait(lock, [&] {
        return state.queue.size() < options.max_queued &&
               (state.held_bytes == 0 || state.held_bytes + line.size() <= options.max_held_bytes);
      });
      state.held_bytes += line.size();
      state.queue.push_back({std::move(incoming.id), std::move(incoming.method),
                             std::move(incoming.params), line.size()});
      lock.unlock();
      state.queue_filled.notify_one();
      return;
    }
    case Incoming::Kind::kNotification:
      if (incoming.method == "notifications/cancelled" && incoming.params.is_object()) {
        const auto id = incoming.params.find("requestId");
        if (id == incoming.params.end()) return;
        std::lock_guard lock(state.requests_mutex);
        const auto request = state.requests.find(ToJsonText(*id));
        if (request != state.requests.end()) request->second = true;
      }
      return;  // initialized and the rest need nothing
    case Incoming::Kind::kBlank:
    case Incoming::Kind::kResponse:
      return;
  }
}

}  // namespace

void RunStdioServer(McpSession* session, int in_fd, int out_fd,
                    const StdioServerOptions& options) {
  auto state = std::make_shared<State>(session, out_fd);
  for (int i = 0; i < options.workers; ++i) std::thread(Work, state).detach();
  std::thread(ReportProgress, state).detach();

  std::string line;
  bool oversized = false;
  char buffer[64 * 1024];
  while (!state->writer.broken()) {
    const ssize_t n = read(in_fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::string_view chunk(buffer, static_cast<size_t>(n));
    while (!chunk.empty()) {
      const size_t newline = chunk.find('\n');
      const std::string_view piece = chunk.substr(0, newline);
      if (!oversized) {
        if (line.size() + piece.size() > options.max_line_bytes) {
          oversized = true;
          line.clear();
          line.shrink_to_fit();
        } else {
          line.append(piece);
        }
      }
      if (newline == std::string_view::npos) break;
      chunk.remove_prefix(newline + 1);
      if (oversized) {
        state->writer.Write(ErrorReply(nullptr, kInvalidRequest,
                                       "Invalid Request: message longer than " +
                                           std::to_string(options.max_line_bytes) + " bytes"));
        oversized = false;
      } else {
        Accept(*state, line, options);
        line.clear();
      }
    }
  }
  // A last message without its line feed still counts.
  if (!oversized && !line.empty()) Accept(*state, line, options);

  {
    std::unique_lock lock(state->queue_mutex);
    state->input_ended = true;
    state->queue_filled.notify_all();
    state->queue_drained.wait_for(lock, options.drain,
                                  [&] { return state->queue.empty() && state->active == 0; });
  }
  {
    std::lock_guard lock(state->progress_mutex);
    state->progress_stop = true;
  }
  state->progress_changed.notify_all();
}

}  // namespace tarvix::mcp
