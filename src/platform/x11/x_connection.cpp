#include "platform/x11/x_connection.h"

#include <X11/Xauth.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/x11/x_monitors.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kNoDisplay[] = "cannot open the X display";
constexpr char kClosed[] = "the X server closed the connection";
// A shared connection may have its replies read by another thread while
// this one sleeps in poll(2); waking this often bounds what that costs.
constexpr milliseconds kPollSlice(50);

// Address families of the X authority file (X11/X.h and X11/Xauth.h).
constexpr unsigned short kFamilyInternet = 0;
constexpr unsigned short kFamilyInternet6 = 6;

void SeverSocket(xcb_connection_t* connection) {
  shutdown(xcb_get_file_descriptor(connection), SHUT_RDWR);
}

int LeftMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<int64_t>(left, 0));
}

// A descriptor closed on every way out unless released.
class Socket {
 public:
  explicit Socket(int fd = -1) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Socket& operator=(Socket&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// How a connection attempt ended: a socket, nobody listening, or a
// listener that does not accept (a stopped server's full backlog, or a TCP
// handshake that does not finish in time).
enum class Reach { kConnected, kNoServer, kSilent };

Reach ConnectLocal(int display, Socket* out) {
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(display);
  // The abstract name first, as libxcb does: it needs no shared /tmp.
  for (const bool abstract : {true, false}) {
    Socket fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) return Reach::kNoServer;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t skip = abstract ? 1 : 0;
    if (path.size() + skip >= sizeof(address.sun_path)) return Reach::kNoServer;
    std::memcpy(address.sun_path + skip, path.data(), path.size());
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + skip + path.size() + (1 - skip));
    if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0) {
      *out = std::move(fd);
      return Reach::kConnected;
    }
    // A listener whose backlog is full is alive but not accepting.
    if (errno == EAGAIN) return Reach::kSilent;
  }
  return Reach::kNoServer;
}

Reach ConnectTcp(const std::string& host, int display, Clock::time_point deadline, Socket* out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(6000 + display).c_str(), &hints, &found) != 0) {
    return Reach::kNoServer;
  }
  Reach reach = Reach::kNoServer;
  for (addrinfo* a = found; a != nullptr && reach != Reach::kConnected; a = a->ai_next) {
    Socket fd(socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
    if (fd.get() < 0) continue;
    if (connect(fd.get(), a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) continue;
      pollfd writable{fd.get(), POLLOUT, 0};
      int error = 0;
      socklen_t size = sizeof(error);
      if (poll(&writable, 1, LeftMs(deadline)) <= 0) {
        reach = Reach::kSilent;
        continue;
      }
      if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) continue;
    }
    const int one = 1;
    setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    *out = std::move(fd);
    reach = Reach::kConnected;
  }
  freeaddrinfo(found);
  return reach;
}

// The authority file's entry for the peer of `fd`, chosen as libxcb
// chooses it: local peers (a socket, or TCP over loopback) by host name.
struct XauFree {
  void operator()(Xauth* auth) const { XauDisposeAuth(auth); }
};
std::unique_ptr<Xauth, XauFree> AuthorityFor(int fd, int display) {
  sockaddr_storage peer{};
  socklen_t peer_size = sizeof(peer);
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0) return nullptr;
  unsigned short family = FamilyLocal;
  std::string address;
  if (peer.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(peer).sin_addr;
    if ((ntohl(in.s_addr) >> 24) != 127) {
      family = kFamilyInternet;
      address.assign(reinterpret_cast<const char*>(&in), sizeof(in));
    }
  } else if (peer.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&in6)) {
      const char* v4 = reinterpret_cast<const char*>(&in6) + 12;
      if (static_cast<unsigned char>(v4[0]) != 127) {
        family = kFamilyInternet;
        address.assign(v4, 4);
      }
    } else if (!IN6_IS_ADDR_LOOPBACK(&in6)) {
      family = kFamilyInternet6;
      address.assign(reinterpret_cast<const char*>(&in6), sizeof(in6));
    }
  }
  if (family == FamilyLocal) {
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) != 0) return nullptr;
    address = host;
  }
  const std::string number = std::to_string(display);
  static char kCookie[] = "MIT-MAGIC-COOKIE-1";
  char* names[] = {kCookie};
  int lengths[] = {static_cast<int>(sizeof(kCookie) - 1)};
  return std::unique_ptr<Xauth, XauFree>(XauGetBestAuthByAddr(
      family, static_cast<unsigned short>(address.size()), address.data(),
      static_cast<unsigned short>(number.size()), number.data(), 1, names, lengths));
}

}  // namespace

Result<void*> AwaitXReply(xcb_connection_t* connection, unsigned int sequence,
                          milliseconds silence) {
  if (xcb_flush(connection) <= 0) return Error(kClosed);
  Clock::time_point deadline = Clock::now() + silence;
  for (;;) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    // Reads what has arrived without blocking; poll(2) below bounds the
    // wait, so a stopped server costs one deadline, never a thread.
    if (xcb_poll_for_reply(connection, sequence, &reply, &error) != 0) {
      free(error);
      if (xcb_connection_has_error(connection) != 0) {
        free(reply);
        return Error(kClosed);
      }
      return reply;
    }
    const int left = LeftMs(deadline);
    if (left == 0) {
      SeverSocket(connection);
      return Error(kXServerSilent);
    }
    pollfd socket{xcb_get_file_descriptor(connection), POLLIN, 0};
    const int ready = poll(&socket, 1, std::min<int>(left, static_cast<int>(kPollSlice.count())));
    if (ready > 0) {
      deadline = Clock::now() + silence;  // the server is talking
    } else if (ready < 0 && errno != EINTR) {
      return Error(kClosed);
    }
  }
}

struct XConnection::SeverTimer::State {
  std::mutex mutex;
  std::condition_variable done_changed;
  bool done = false;
  std::thread thread;
};

XConnection::SeverTimer::SeverTimer(const XConnection& x, milliseconds limit)
    : SeverTimer(xcb_get_file_descriptor(x.connection_), &x.severed_, limit) {}

XConnection::SeverTimer::SeverTimer(int fd, std::atomic<bool>* severed, milliseconds limit)
    : state_(std::make_shared<State>()) {
  const Clock::time_point deadline = Clock::now() + limit;
  try {
    state_->thread = std::thread([state = state_, fd, severed, deadline] {
      std::unique_lock lock(state->mutex);
      if (state->done_changed.wait_until(lock, deadline, [&] { return state->done; })) return;
      *severed = true;
      shutdown(fd, SHUT_RDWR);
    });
  } catch (const std::system_error&) {
    // No thread to spare: the call runs unguarded rather than not at all.
  }
}

XConnection::SeverTimer::~SeverTimer() {
  {
    std::lock_guard lock(state_->mutex);
    state_->done = true;
  }
  state_->done_changed.notify_one();
  if (state_->thread.joinable()) state_->thread.join();
}

Result<std::unique_ptr<XConnection>> XConnection::Open() {
  const Clock::time_point deadline = Clock::now() + kXReplyDeadline;
  char* host_name = nullptr;
  int display = 0;
  int screen_number = 0;
  if (xcb_parse_display(nullptr, &host_name, &display, &screen_number) == 0) {
    return Error(kNoDisplay);
  }
  const std::string host = host_name;
  free(host_name);
  Socket fd;
  const Reach reach = host.empty() || host == "unix" ? ConnectLocal(display, &fd)
                                                     : ConnectTcp(host, display, deadline, &fd);
  if (reach == Reach::kSilent) return Error(kXServerSilent);
  if (reach == Reach::kNoServer) return Error(kNoDisplay);

  const std::unique_ptr<Xauth, XauFree> authority = AuthorityFor(fd.get(), display);
  xcb_auth_info_t auth{};
  if (authority) {
    auth.namelen = authority->name_length;
    auth.name = authority->name;
    auth.datalen = authority->data_length;
    auth.data = authority->data;
  }
  // libxcb reads the server's setup in a blocking loop and closes the
  // descriptor it is given on failure. It gets a duplicate, so the timer
  // below can shut the socket down (waking that loop) without ever
  // touching a descriptor number that was closed and reused meanwhile.
  const int xcb_fd = fcntl(fd.get(), F_DUPFD_CLOEXEC, 0);
  if (xcb_fd < 0) return Error(kNoDisplay);
  std::atomic<bool> timed_out{false};
  xcb_connection_t* connection = nullptr;
  {
    const SeverTimer timer(fd.get(), &timed_out, milliseconds(std::max(LeftMs(deadline), 1)));
    connection = xcb_connect_to_fd(xcb_fd, authority ? &auth : nullptr);
  }
  // xcb_connect_to_fd never returns null: a failed connection is an error
  // object that must still be disconnected.
  if (xcb_connection_has_error(connection) != 0 || timed_out) {
    xcb_disconnect(connection);
    return Error(timed_out ? kXServerSilent : kNoDisplay);
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screen_number && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0 || screens.data == nullptr) {
    xcb_disconnect(connection);
    return Error(kNoDisplay);
  }
  return std::unique_ptr<XConnection>(new XConnection(connection, screens.data, screen_number));
}

XConnection::~XConnection() { xcb_disconnect(connection_); }

void XConnection::Sever() const {
  severed_ = true;
  SeverSocket(connection_);
}

Result<void*> XConnection::AwaitReply(unsigned int sequence) const {
  if (severed_) return Error(kXServerSilent);
  Result<void*> reply = AwaitXReply(connection_, sequence);
  if (!reply && reply.error() == kXServerSilent) Sever();
  return reply;
}

Result<void> XConnection::Sync() const {
  Result<XcbReply<xcb_get_input_focus_reply_t>> focus =
      Await<xcb_get_input_focus_reply_t>(xcb_get_input_focus(connection_));
  if (!focus) return Error(std::move(focus).error());
  return {};
}

Result<void> XConnection::Check(xcb_void_cookie_t cookie) const {
  // A request without a reply is known done once a later one is answered;
  // the error of a checked one is then waiting under its own sequence.
  if (Result<void> synced = Sync(); !synced) return synced;
  void* reply = nullptr;
  xcb_generic_error_t* error = nullptr;
  if (xcb_poll_for_reply(connection_, cookie.sequence, &reply, &error) == 0) {
    return Error(kClosed);  // cannot happen after the round trip above
  }
  free(reply);
  const bool refused = error != nullptr;
  free(error);
  if (refused) return Error("the X server refused the request");
  return {};
}

Result<const xcb_query_extension_reply_t*> XConnection::Extension(
    xcb_extension_t* extension) const {
  // libxcb caches the answer under a cookie and waits for it without a
  // deadline the first time the extension is used; one bounded round trip
  // after the question means the answer is in before that wait.
  xcb_prefetch_extension_data(connection_, extension);
  if (Result<void> synced = Sync(); !synced) return Error(std::move(synced).error());
  return xcb_get_extension_data(connection_, extension);
}

XRect XConnection::MainDisplay() const {
  const XRect whole{0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
  Result<const xcb_query_extension_reply_t*> randr = Extension(&xcb_randr_id);
  if (!randr || *randr == nullptr || !(*randr)->present) return whole;
  // The primary monitor, where the server has monitors: on an ordinary
  // layout it is the primary output's CRTC, and where a client has split
  // or joined outputs into monitors it is what desktops show as primary.
  Result<std::vector<XMonitor>> monitors = QueryMonitors(*this, false);
  if (!monitors) return whole;
  for (const XMonitor& monitor : *monitors) {
    if (monitor.primary && monitor.rect.width > 0 && monitor.rect.height > 0) return monitor.rect;
  }
  auto primary = Await<xcb_randr_get_output_primary_reply_t>(
      xcb_randr_get_output_primary(connection_, root()));
  if (!primary || !*primary || (*primary)->output == XCB_NONE) return whole;
  auto output = Await<xcb_randr_get_output_info_reply_t>(
      xcb_randr_get_output_info(connection_, (*primary)->output, XCB_CURRENT_TIME));
  if (!output || !*output || (*output)->crtc == XCB_NONE) return whole;
  auto crtc = Await<xcb_randr_get_crtc_info_reply_t>(
      xcb_randr_get_crtc_info(connection_, (*output)->crtc, XCB_CURRENT_TIME));
  if (!crtc || !*crtc || (*crtc)->width == 0 || (*crtc)->height == 0) return whole;
  return XRect{(*crtc)->x, (*crtc)->y, (*crtc)->width, (*crtc)->height};
}

xcb_atom_t XConnection::Atom(std::string_view name) const {
  auto reply = Await<xcb_intern_atom_reply_t>(
      xcb_intern_atom(connection_, 0, static_cast<uint16_t>(name.size()), name.data()));
  return reply && *reply ? (*reply)->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

}  // namespace tarvix
