// Darwin <unistd.h>: the host's POSIX declarations plus what Darwin adds.
#ifndef TARVIX_MACOS_SDK_UNISTD_H_
#define TARVIX_MACOS_SDK_UNISTD_H_

#include_next <unistd.h>

// confstr() name of the per-user temporary directory.
#define _CS_DARWIN_USER_TEMP_DIR 65537

// Linux-only calls that Darwin lacks.
#pragma GCC poison pipe2 dup3 close_range execvpe get_current_dir_name syncfs

#endif  // TARVIX_MACOS_SDK_UNISTD_H_
