// Darwin <fcntl.h>: the host's POSIX declarations plus what Darwin adds.
#ifndef TARVIX_MACOS_SDK_FCNTL_H_
#define TARVIX_MACOS_SDK_FCNTL_H_

#include_next <fcntl.h>

// fcntl() command: copy the descriptor's path into a MAXPATHLEN buffer.
#define F_GETPATH 50

// Linux-only calls that Darwin lacks.
#pragma GCC poison fallocate splice tee vmsplice readahead name_to_handle_at open_by_handle_at

#endif  // TARVIX_MACOS_SDK_FCNTL_H_
