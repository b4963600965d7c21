// Plain loopback sockets for tests that need exact bytes on the wire.
#ifndef TARVIX_TESTS_SUPPORT_LOOPBACK_H_
#define TARVIX_TESTS_SUPPORT_LOOPBACK_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace tarvix::testing {

// A connected TCP socket to 127.0.0.1:port, or -1.
inline int ConnectLoopback(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Reads from `fd` until `needle` appears (never, when empty), the peer
// closes (`*closed` set), or `timeout` passes.
inline std::string ReadUntil(int fd, const std::string& needle, std::chrono::milliseconds timeout,
                             bool* closed = nullptr) {
  std::string out;
  if (closed != nullptr) *closed = false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (needle.empty() || out.find(needle) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
      if (closed != nullptr) *closed = true;
      break;
    }
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace tarvix::testing

#endif  // TARVIX_TESTS_SUPPORT_LOOPBACK_H_
