#include "platform/descriptors.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "base/os_error.h"

namespace tarvix {
namespace {

bool IsCloexec(int fd) { return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }
bool IsNonBlocking(int fd) { return (fcntl(fd, F_GETFL) & O_NONBLOCK) != 0; }

TEST(DescriptorsTest, PipeEndsAreCloseOnExecAndConnected) {
  int fds[2] = {-1, -1};
  ASSERT_EQ(OpenCloexecPipe(fds), 0);
  EXPECT_TRUE(IsCloexec(fds[0]));
  EXPECT_TRUE(IsCloexec(fds[1]));
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  char c = 0;
  EXPECT_EQ(read(fds[0], &c, 1), 1);
  EXPECT_EQ(c, 'x');
  close(fds[0]);
  close(fds[1]);
}

TEST(DescriptorsTest, AcceptedSocketIsNonBlockingAndCloseOnExec) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  const int accepted = AcceptNonBlocking(listener);
  ASSERT_GE(accepted, 0) << OsErrorText(errno);
  EXPECT_TRUE(IsNonBlocking(accepted));
  EXPECT_TRUE(IsCloexec(accepted));
  char c = 0;
  EXPECT_EQ(read(accepted, &c, 1), -1);  // nothing sent yet: no wait
  EXPECT_EQ(errno, EAGAIN);

  // A non-blocking listener with nothing pending reports it as accept does.
  fcntl(listener, F_SETFL, O_NONBLOCK);
  EXPECT_EQ(AcceptNonBlocking(listener), -1);
  EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  for (const int fd : {accepted, client, listener}) close(fd);
}

TEST(DescriptorsTest, ClosesEveryDescriptorFromTheFirstUp) {
  const int low = open("/dev/null", O_RDONLY);
  const int high = fcntl(low, F_DUPFD, 200);
  ASSERT_GE(low, 3);
  ASSERT_GE(high, 200);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CloseDescriptorsFrom(low + 1);
    // Exit status: bit 0 the low descriptor is still open, bit 1 the high
    // one was closed.
    const bool low_open = fcntl(low, F_GETFD) != -1;
    const bool high_closed = fcntl(high, F_GETFD) == -1 && errno == EBADF;
    _exit((low_open ? 1 : 0) | (high_closed ? 2 : 0));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  close(low);
  close(high);
}

}  // namespace
}  // namespace tarvix
