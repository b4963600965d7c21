#include "rpc/http_core.h"

#include <boost/asio/post.hpp>

#include "platform/allocator.h"
#include "rpc/http_connection.h"

namespace tarvix {

namespace {

// A request or reply at least this large marks the heap for trimming.
constexpr size_t kLargeBuffer = size_t{256} * 1024;

}  // namespace

HttpCore::~HttpCore() {
  // Connections still queued or on their way back are destroyed while the
  // I/O context that owns their sockets is alive; the context then destroys
  // the handlers (and connections) it still holds.
  queue.Close();
  std::vector<QueuedReply> dropped;
  {
    std::lock_guard<std::mutex> lock(replies_mutex);
    dropped.swap(replies);
  }
}

void HttpCore::ReleaseBodyBytes(size_t bytes) {
  body_bytes.fetch_sub(bytes, std::memory_order_relaxed);
  NoteLargeBuffer(bytes);
  if (stopped.load(std::memory_order_relaxed)) return;
  // The registry belongs to the I/O thread: it decides who resumes.
  boost::asio::post(io, [this] {
    // In arrival order, as long as the next one fits.
    while (HttpConnection* next = registry.FrontParked()) {
      const size_t held = body_bytes.load(std::memory_order_relaxed);
      if (held > 0 && held + next->parked_need() > limits.body_budget) break;
      registry.Leave(next);
      next->ResumeBody();
    }
  });
}

void HttpCore::NoteLargeBuffer(size_t bytes) {
  if (bytes >= kLargeBuffer) trim_wanted.store(true, std::memory_order_relaxed);
}

void HttpCore::TrimIfIdle() {
  if (in_flight.load(std::memory_order_relaxed) != 0) return;
  if (!trim_wanted.exchange(false, std::memory_order_relaxed)) return;
  // The allocator keeps freed memory; after a large request, reply or a
  // flood of connections that would stay resident while the daemon idles.
  TrimAllocator();
}

void HttpCore::PostReply(QueuedReply reply) {
  bool first;
  {
    std::lock_guard<std::mutex> lock(replies_mutex);
    first = replies.empty();
    replies.push_back(std::move(reply));
  }
  if (!first) return;
  boost::asio::post(io, [this] {
    std::vector<QueuedReply> batch;
    {
      std::lock_guard<std::mutex> lock(replies_mutex);
      batch.swap(replies);
    }
    for (QueuedReply& queued : batch) {
      queued.connection->Write(std::move(queued.head), std::move(queued.body), queued.close);
    }
  });
}

}  // namespace tarvix
