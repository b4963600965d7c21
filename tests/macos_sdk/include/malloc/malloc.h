// Darwin <malloc/malloc.h>: malloc zones.
#ifndef TARVIX_MACOS_SDK_MALLOC_MALLOC_H_
#define TARVIX_MACOS_SDK_MALLOC_MALLOC_H_

#include <stddef.h>

typedef struct _malloc_zone_t malloc_zone_t;

#ifdef __cplusplus
extern "C" {
#endif

size_t malloc_zone_pressure_relief(malloc_zone_t* zone, size_t goal);

#ifdef __cplusplus
}
#endif

#endif  // TARVIX_MACOS_SDK_MALLOC_MALLOC_H_
