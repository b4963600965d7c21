// Darwin <sys/param.h>: its limits differ from the host's.
#ifndef TARVIX_MACOS_SDK_SYS_PARAM_H_
#define TARVIX_MACOS_SDK_SYS_PARAM_H_

#include_next <sys/param.h>

#undef MAXPATHLEN
#define MAXPATHLEN 1024
#define MAXCOMLEN 16

#endif  // TARVIX_MACOS_SDK_SYS_PARAM_H_
