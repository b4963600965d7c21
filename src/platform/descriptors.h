// Descriptor calls whose close-on-exec forms differ between systems.
#ifndef TARVIX_PLATFORM_DESCRIPTORS_H_
#define TARVIX_PLATFORM_DESCRIPTORS_H_

namespace tarvix {

// A pipe with both ends close-on-exec. 0, or the errno of the failure.
// Where the system cannot create it so in one step (macOS), a fork on
// another thread may see the ends before the flag is set; children of
// the daemon close whatever they inherit beyond 2 (CloseDescriptorsFrom).
int OpenCloexecPipe(int fds[2]);

// Accepts a connection on `listen_fd` as a non-blocking, close-on-exec
// socket; -1 with errno set like accept's.
int AcceptNonBlocking(int listen_fd);

// Closes every descriptor from `first` up. Makes only system calls, so a
// child may call it between vfork and exec.
void CloseDescriptorsFrom(int first);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_DESCRIPTORS_H_
