// Darwin <libproc.h>: process listing and per-process information.
#ifndef TARVIX_MACOS_SDK_LIBPROC_H_
#define TARVIX_MACOS_SDK_LIBPROC_H_

#include <stdint.h>
#include <sys/proc_info.h>

#ifdef __cplusplus
extern "C" {
#endif

int proc_listpids(uint32_t type, uint32_t typeinfo, void* buffer, int buffersize);
int proc_pidinfo(int pid, int flavor, uint64_t arg, void* buffer, int buffersize);
int proc_name(int pid, void* buffer, uint32_t buffersize);

#ifdef __cplusplus
}
#endif

#endif  // TARVIX_MACOS_SDK_LIBPROC_H_
