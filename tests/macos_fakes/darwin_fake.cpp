// Darwin's process and system calls: libproc, sysctl, the Mach host
// port, kqueue's process filter, malloc zones; confstr's per-user
// temporary directory and posix_spawn of the system's capture and image
// programs, which Linux lacks (other names and programs go to the C
// library).
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <libproc.h>
#include <mach/mach.h>
#include <mach/mach_time.h>
#include <malloc/malloc.h>
#include <spawn.h>
#include <sys/event.h>
#include <sys/param.h>
#include <sys/sysctl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>

#include "cf_objects.h"

namespace macfake {
namespace {

constexpr mach_port_t kHostPort = 0x103;

struct DarwinState {
  std::map<int, Process> processes;
  std::map<std::vector<int>, std::string> sysctl;
  std::map<std::string, std::string> sysctl_names;
  HostFacts host;
  int host_rights = 0;
  int pressure_relief = 0;
  std::map<int, std::set<int>> kqueues;  // descriptor -> watched pids
  std::set<int> ended;
  std::string temp_dir;
  std::vector<std::vector<std::string>> spawned;
  std::string program_output;
  int program_status = 0;
};
DarwinState& Darwin() {
  static DarwinState* state = new DarwinState;
  return *state;
}

// sysctl's contract: with no buffer, the size needed; with one too small,
// ENOMEM; else the bytes and their size.
int Answer(const std::string* value, void* out, size_t* size) {
  if (value == nullptr) {
    errno = ENOENT;
    return -1;
  }
  if (out == nullptr) {
    *size = value->size();
    return 0;
  }
  if (*size < value->size()) {
    errno = ENOMEM;
    return -1;
  }
  std::memcpy(out, value->data(), value->size());
  *size = value->size();
  return 0;
}

}  // namespace

std::map<int, Process>& Processes() { return Darwin().processes; }
std::map<std::vector<int>, std::string>& SysctlValues() { return Darwin().sysctl; }
std::map<std::string, std::string>& SysctlNames() { return Darwin().sysctl_names; }
HostFacts& Host() { return Darwin().host; }
int HostPortRights() { return Darwin().host_rights; }
int PressureReliefCalls() { return Darwin().pressure_relief; }
void EndProcess(int pid) { Darwin().ended.insert(pid); }
void SetUserTempDir(std::string dir) { Darwin().temp_dir = std::move(dir); }
const std::vector<std::vector<std::string>>& SpawnedPrograms() { return Darwin().spawned; }
void SetProgramResult(std::string output, int exit_status) {
  Darwin().program_output = std::move(output);
  Darwin().program_status = exit_status;
}

void AddDarwinFaults(std::vector<std::string>* faults) {
  for (const auto& [fd, pids] : Darwin().kqueues) {
    (void)pids;
    faults->push_back("kqueue " + std::to_string(fd) + " left open");
  }
  if (Darwin().host_rights != 0) {
    faults->push_back(std::to_string(Darwin().host_rights) + " host port right(s) not deallocated");
  }
}

void ResetDarwin() {
  for (const auto& [fd, pids] : Darwin().kqueues) {
    (void)pids;
    static auto* next = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "close"));
    next(fd);
  }
  Darwin() = DarwinState();
}

}  // namespace macfake

using namespace macfake;

extern "C" {

// "Returns the number of bytes": with a NULL buffer, the room needed.
int proc_listpids(uint32_t type, uint32_t, void* buffer, int size) {
  if (type != PROC_ALL_PIDS) return -1;
  const int needed = static_cast<int>(Darwin().processes.size() * sizeof(pid_t));
  if (buffer == nullptr) return needed;
  int written = 0;
  for (const auto& [pid, process] : Darwin().processes) {
    (void)process;
    if (written + static_cast<int>(sizeof(pid_t)) > size) break;
    const pid_t id = pid;
    std::memcpy(static_cast<char*>(buffer) + written, &id, sizeof id);
    written += static_cast<int>(sizeof id);
  }
  return written;
}

// The size of the record written; 0 with errno set when the process is
// gone (ESRCH) or its task may not be read (EPERM); a buffer smaller than
// the record is refused.
int proc_pidinfo(int pid, int flavor, uint64_t, void* buffer, int size) {
  const auto it = Darwin().processes.find(pid);
  if (it == Darwin().processes.end()) {
    errno = ESRCH;
    return 0;
  }
  if (flavor == PROC_PIDTBSDINFO && size >= static_cast<int>(sizeof(proc_bsdinfo))) {
    std::memcpy(buffer, &it->second.bsd, sizeof(proc_bsdinfo));
    return sizeof(proc_bsdinfo);
  }
  if (flavor == PROC_PIDTASKINFO && it->second.task &&
      size >= static_cast<int>(sizeof(proc_taskinfo))) {
    std::memcpy(buffer, &*it->second.task, sizeof(proc_taskinfo));
    return sizeof(proc_taskinfo);
  }
  errno = EPERM;
  return 0;
}

// The length of the name copied (not terminated when it fills the buffer).
int proc_name(int pid, void* buffer, uint32_t size) {
  const auto it = Darwin().processes.find(pid);
  if (it == Darwin().processes.end() || it->second.name.empty()) return 0;
  const size_t n = std::min<size_t>(it->second.name.size(), size);
  std::memcpy(buffer, it->second.name.data(), n);
  if (n < size) static_cast<char*>(buffer)[n] = '\0';
  return static_cast<int>(n);
}

int sysctl(int* name, u_int length, void* out, size_t* size, void* in, size_t) {
  if (in != nullptr) {
    errno = EPERM;
    return -1;
  }
  const auto it = Darwin().sysctl.find(std::vector<int>(name, name + length));
  return Answer(it == Darwin().sysctl.end() ? nullptr : &it->second, out, size);
}

int sysctlbyname(const char* name, void* out, size_t* size, void* in, size_t) {
  if (in != nullptr) {
    errno = EPERM;
    return -1;
  }
  const auto it = Darwin().sysctl_names.find(name);
  return Answer(it == Darwin().sysctl_names.end() ? nullptr : &it->second, out, size);
}

mach_port_t mach_task_self_ = 0x203;

// Each call hands the caller a send right, which it gives back with
// mach_port_deallocate.
mach_port_t mach_host_self(void) {
  ++Darwin().host_rights;
  return kHostPort;
}

kern_return_t host_page_size(host_t host, vm_size_t* size) {
  if (host != kHostPort) return 4;  // KERN_INVALID_ARGUMENT
  *size = Darwin().host.page_size;
  return KERN_SUCCESS;
}

kern_return_t host_statistics64(host_t host, host_flavor_t flavor, host_info64_t out,
                                mach_msg_type_number_t* count) {
  if (host != kHostPort || flavor != HOST_VM_INFO64 || *count < HOST_VM_INFO64_COUNT ||
      Darwin().host.fail_statistics) {
    return 5;  // KERN_FAILURE
  }
  std::memcpy(out, &Darwin().host.vm, sizeof(vm_statistics64_data_t));
  *count = HOST_VM_INFO64_COUNT;
  return KERN_SUCCESS;
}

kern_return_t mach_port_deallocate(ipc_space_t task, mach_port_name_t name) {
  if (task != mach_task_self_ || name != kHostPort || Darwin().host_rights == 0) {
    RecordFault("mach_port_deallocate of a right not held");
    return 15;  // KERN_INVALID_NAME
  }
  --Darwin().host_rights;
  return KERN_SUCCESS;
}

kern_return_t mach_timebase_info(mach_timebase_info_t info) {
  info->numer = Darwin().host.timebase_numer;
  info->denom = Darwin().host.timebase_denom;
  return KERN_SUCCESS;
}

size_t malloc_zone_pressure_relief(malloc_zone_t*, size_t) {
  ++Darwin().pressure_relief;
  return 0;
}

// A real descriptor (closed with close()), whose process-exit filters the
// fake keeps.
int kqueue(void) {
  const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) Darwin().kqueues[fd];
  return fd;
}

// Adding EVFILT_PROC for a process that is gone fails with ESRCH. An event
// is returned once the process has ended; else 0 (the timeout passed,
// taken as passed at once).
int kevent(int kq, const struct kevent* changes, int nchanges, struct kevent* events, int nevents,
           const struct timespec*) {
  const auto queue = Darwin().kqueues.find(kq);
  if (queue == Darwin().kqueues.end()) {
    errno = EBADF;
    return -1;
  }
  for (int i = 0; i < nchanges; ++i) {
    const int pid = static_cast<int>(changes[i].ident);
    if (changes[i].filter != EVFILT_PROC || (changes[i].fflags & NOTE_EXIT) == 0 ||
        !Darwin().processes.contains(pid) || Darwin().ended.contains(pid)) {
      errno = ESRCH;
      return -1;
    }
    queue->second.insert(pid);
  }
  if (nevents == 0) return 0;
  for (const int pid : queue->second) {
    if (Darwin().ended.contains(pid)) {
      EV_SET(&events[0], static_cast<uintptr_t>(pid), EVFILT_PROC, EV_ONESHOT, NOTE_EXIT, 0,
             nullptr);
      queue->second.erase(pid);
      return 1;
    }
  }
  return 0;
}

// close() of a kqueue descriptor drops its filters.
int close(int fd) {
  Darwin().kqueues.erase(fd);
  static auto* next = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "close"));
  return next(fd);
}

// F_GETPATH: the path of the descriptor's file as the kernel knows it
// (here from /proc); every other command goes to the C library.
int fcntl(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  void* argument = va_arg(args, void*);
  va_end(args);
  if (command == F_GETPATH) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, static_cast<char*>(argument), MAXPATHLEN - 1);
    if (n < 0) return -1;
    static_cast<char*>(argument)[n] = '\0';
    return 0;
  }
  static auto* next = reinterpret_cast<int (*)(int, int, void*)>(dlsym(RTLD_NEXT, "fcntl"));
  return next(fd, command, argument);
}

size_t confstr(int name, char* buffer, size_t size) {
  if (name != _CS_DARWIN_USER_TEMP_DIR) {
    static auto* next = reinterpret_cast<size_t (*)(int, char*, size_t)>(dlsym(RTLD_NEXT,
                                                                               "confstr"));
    return next(name, buffer, size);
  }
  const std::string& dir = Darwin().temp_dir;
  if (dir.empty()) {
    errno = EINVAL;
    return 0;
  }
  if (buffer != nullptr && size > 0) {
    const size_t n = std::min(size - 1, dir.size());
    std::memcpy(buffer, dir.data(), n);
    buffer[n] = '\0';
  }
  return dir.size() + 1;
}

// screencapture and sips write their output file and exit with the set
// status; the exit comes from a real child (/bin/sh), so waitpid works.
int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
  using Spawn = int (*)(pid_t*, const char*, const posix_spawn_file_actions_t*,
                        const posix_spawnattr_t*, char* const[], char* const[]);
  static auto* next = reinterpret_cast<Spawn>(dlsym(RTLD_NEXT, "posix_spawn"));
  const std::string program = path;
  if (program != "/usr/sbin/screencapture" && program != "/usr/bin/sips") {
    return next(pid, path, actions, attributes, argv, envp);
  }
  std::vector<std::string> args;
  for (char* const* arg = argv; *arg != nullptr; ++arg) args.emplace_back(*arg);
  Darwin().spawned.push_back(args);
  std::string out = args.back();
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--out") out = args[i + 1];
  }
  if (Darwin().program_status == 0) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
      (void)!write(fd, Darwin().program_output.data(), Darwin().program_output.size());
      close(fd);
    }
  }
  const std::string status = "exit " + std::to_string(Darwin().program_status);
  char sh[] = "/bin/sh", c[] = "-c";
  char* const shell[] = {sh, c, const_cast<char*>(status.c_str()), nullptr};
  return next(pid, "/bin/sh", nullptr, nullptr, shell, envp);
}

}  // extern "C"
