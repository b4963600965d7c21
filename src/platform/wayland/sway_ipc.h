// sway's IPC: JSON messages over the Unix socket named by SWAYSOCK, in the
// i3 framing ("i3-ipc", a 32-bit payload length and a 32-bit message type,
// both in the host's byte order, then the payload).
//
// Every read waits with poll and a deadline, never blocking: a sway that
// stops answering costs one deadline. Replies are bounded in size.
// One SwayIpc is used by one thread at a time.
#ifndef TARVIX_PLATFORM_WAYLAND_SWAY_IPC_H_
#define TARVIX_PLATFORM_WAYLAND_SWAY_IPC_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/result.h"

namespace tarvix {

// Message types of the requests the daemon sends.
enum class SwayMessage : uint32_t {
  kRunCommand = 0,
  kGetWorkspaces = 1,
  kSubscribe = 2,
  kGetOutputs = 3,
  kGetTree = 4,
};

inline constexpr std::chrono::milliseconds kSwayReplyDeadline{2000};
inline constexpr size_t kSwayHeaderBytes = 14;
// A reply beyond this is no tree sway would send for a desktop.
inline constexpr uint32_t kMaxSwayPayloadBytes = 64u << 20;

inline constexpr char kSwaySilent[] = "sway did not answer within 2 s";
inline constexpr char kSwayGone[] = "sway closed its IPC connection";

// The header and payload of one message.
std::string EncodeSwayMessage(uint32_t type, std::string_view payload);

struct SwayHeader {
  uint32_t length = 0;
  uint32_t type = 0;  // events have the high bit set
};
// Reads the first kSwayHeaderBytes of `bytes`; fails on a wrong magic or a
// payload longer than kMaxSwayPayloadBytes.
Result<SwayHeader> DecodeSwayHeader(std::string_view bytes);

class SwayIpc {
 public:
  // Connects to `socket_path` (close-on-exec). Fails with
  // "cannot reach sway at <path>: <os error>".
  static Result<std::unique_ptr<SwayIpc>> Connect(const std::string& socket_path);
  // Whether $SWAYSOCK names a socket: the compositor is sway.
  static bool InEnvironment();
  // Connects to $SWAYSOCK; fails when it is unset.
  static Result<std::unique_ptr<SwayIpc>> ConnectFromEnvironment();
  ~SwayIpc();
  SwayIpc(const SwayIpc&) = delete;
  SwayIpc& operator=(const SwayIpc&) = delete;

  // Sends a request and returns the payload of its reply, skipping any
  // events that come first. Fails with kSwaySilent or kSwayGone.
  Result<std::string> Request(SwayMessage type, std::string_view payload,
                              std::chrono::milliseconds limit = kSwayReplyDeadline);

  // After a successful SUBSCRIBE: waits until `deadline` for one event;
  // true when one came (its payload is dropped), false when none did.
  Result<bool> WaitForEvent(std::chrono::steady_clock::time_point deadline);

 private:
  explicit SwayIpc(int fd) : fd_(fd) {}
  // Reads one whole message by `deadline`; false when the deadline passed.
  Result<bool> ReadMessage(std::chrono::steady_clock::time_point deadline, SwayHeader* header,
                           std::string* payload);
  Result<bool> ReadExactly(char* data, size_t size,
                           std::chrono::steady_clock::time_point deadline);

  int fd_;
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_WAYLAND_SWAY_IPC_H_
