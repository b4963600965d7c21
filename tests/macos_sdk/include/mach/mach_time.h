// Darwin <mach/mach_time.h>: the unit of Mach absolute time.
#ifndef TARVIX_MACOS_SDK_MACH_MACH_TIME_H_
#define TARVIX_MACOS_SDK_MACH_MACH_TIME_H_

#include <mach/mach.h>
#include <stdint.h>

struct mach_timebase_info {
  uint32_t numer;
  uint32_t denom;
};
typedef struct mach_timebase_info* mach_timebase_info_t;
typedef struct mach_timebase_info mach_timebase_info_data_t;

#ifdef __cplusplus
extern "C" {
#endif

kern_return_t mach_timebase_info(mach_timebase_info_t info);

#ifdef __cplusplus
}
#endif

#endif  // TARVIX_MACOS_SDK_MACH_MACH_TIME_H_
