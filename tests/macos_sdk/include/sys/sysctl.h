// Darwin <sys/sysctl.h>: the names and calls the daemon reads.
#ifndef TARVIX_MACOS_SDK_SYS_SYSCTL_H_
#define TARVIX_MACOS_SDK_SYS_SYSCTL_H_

#include <stddef.h>
#include <sys/types.h>

#define CTL_KERN 1
#define CTL_HW 6

#define KERN_OSTYPE 1
#define KERN_OSRELEASE 2
#define KERN_HOSTNAME 10
#define KERN_BOOTTIME 21

#define HW_NCPU 3
#define HW_MEMSIZE 24

#ifdef __cplusplus
extern "C" {
#endif

int sysctl(int*, u_int, void*, size_t*, void*, size_t);
int sysctlbyname(const char*, void*, size_t*, void*, size_t);

#ifdef __cplusplus
}
#endif

#endif  // TARVIX_MACOS_SDK_SYS_SYSCTL_H_
