// sway IPC over its Unix socket, with poll deadlines on every read.
#include "platform/wayland/sway_ipc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/os_error.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kMagic = "i3-ipc";
constexpr uint32_t kEventBit = 0x80000000u;

}  // namespace

std::string EncodeSwayMessage(uint32_t type, std::string_view payload) {
  std::string message(kMagic);
  const auto length = static_cast<uint32_t>(payload.size());
  message.append(reinterpret_cast<const char*>(&length), sizeof length);
  message.append(reinterpret_cast<const char*>(&type), sizeof type);
  message.append(payload);
  return message;
}

Result<SwayHeader> DecodeSwayHeader(std::string_view bytes) {
  if (bytes.size() < kSwayHeaderBytes || bytes.substr(0, kMagic.size()) != kMagic) {
    return Error("sway sent a message without the i3-ipc header");
  }
  SwayHeader header;
  std::memcpy(&header.length, bytes.data() + 6, sizeof header.length);
  std::memcpy(&header.type, bytes.data() + 10, sizeof header.type);
  if (header.length > kMaxSwayPayloadBytes) {
    return Error("sway sent a message of " + std::to_string(header.length) +
                 " bytes, more than the daemon reads");
  }
  return header;
}

Result<std::unique_ptr<SwayIpc>> SwayIpc::Connect(const std::string& socket_path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path.empty() || socket_path.size() >= sizeof address.sun_path) {
    return Error("cannot reach sway at " + socket_path + ": the socket path is unusable");
  }
  std::memcpy(address.sun_path, socket_path.data(), socket_path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Error("cannot reach sway at " + socket_path + ": " + OsErrorText(errno));
  std::unique_ptr<SwayIpc> ipc(new SwayIpc(fd));
  // A local stream connect completes at once or fails; it never waits on sway.
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return Error("cannot reach sway at " + socket_path + ": " + OsErrorText(errno));
  }
  return ipc;
}

bool SwayIpc::InEnvironment() {
  const char* path = std::getenv("SWAYSOCK");
  return path != nullptr && *path != '\0';
}

Result<std::unique_ptr<SwayIpc>> SwayIpc::ConnectFromEnvironment() {
  const char* path = std::getenv("SWAYSOCK");
  if (path == nullptr || *path == '\0') return Error("SWAYSOCK is not set");
  return Connect(path);
}

SwayIpc::~SwayIpc() { close(fd_); }

Result<bool> SwayIpc::ReadExactly(char* data, size_t size, Clock::time_point deadline) {
  size_t done = 0;
  while (done < size) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) + 1 : 0);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Error(std::string(kSwayGone) + ": " + OsErrorText(errno));
    }
    if (ready == 0) return false;
    const ssize_t n = recv(fd_, data + done, size - done, MSG_DONTWAIT);
    if (n == 0) return Error(kSwayGone);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return Error(std::string(kSwayGone) + ": " + OsErrorText(errno));
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

Result<bool> SwayIpc::ReadMessage(Clock::time_point deadline, SwayHeader* header,
                                  std::string* payload) {
  char raw[kSwayHeaderBytes];
  Result<bool> got = ReadExactly(raw, sizeof raw, deadline);
  if (!got || !*got) return got;
  Result<SwayHeader> decoded = DecodeSwayHeader(std::string_view(raw, sizeof raw));
  if (!decoded) return Error(std::move(decoded).error());
  *header = *decoded;
  payload->assign(header->length, '\0');
  return ReadExactly(payload->data(), payload->size(), deadline);
}

Result<std::string> SwayIpc::Request(SwayMessage type, std::string_view payload,
                                     std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  const std::string message = EncodeSwayMessage(static_cast<uint32_t>(type), payload);
  size_t sent = 0;
  while (sent < message.size()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd_, POLLOUT, 0};
    const int ready = poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) + 1 : 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Error(std::string(kSwayGone) + ": " + OsErrorText(errno));
    if (ready == 0) return Error(kSwaySilent);
    const ssize_t n = send(fd_, message.data() + sent, message.size() - sent,
                           MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return Error(std::string(kSwayGone) + ": " + OsErrorText(errno));
    sent += static_cast<size_t>(n);
  }
  while (true) {
    SwayHeader header;
    std::string reply;
    Result<bool> got = ReadMessage(deadline, &header, &reply);
    if (!got) return Error(std::move(got).error());
    if (!*got) return Error(kSwaySilent);
    if ((header.type & kEventBit) == 0) return reply;
  }
}

Result<bool> SwayIpc::WaitForEvent(Clock::time_point deadline) {
  // Only the start of an event is waited for until `deadline`; once one
  // has begun it is read whole, so a wait that ends never splits a message.
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) + 1 : 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Error(std::string(kSwayGone) + ": " + OsErrorText(errno));
    if (ready == 0) return false;
    break;
  }
  SwayHeader header;
  std::string payload;
  Result<bool> got = ReadMessage(Clock::now() + kSwayReplyDeadline, &header, &payload);
  if (!got) return Error(std::move(got).error());
  if (!*got) return Error(kSwaySilent);
  return true;
}

}  // namespace tarvix
