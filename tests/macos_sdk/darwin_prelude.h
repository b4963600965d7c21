// Read before anything else (-include): the exact-width integer types as
// Darwin defines them. Its 64-bit types are long long where the host's C
// library has long, which changes overloads, template arguments and
// pointer types: std::min(uint64_t, size_t) compiles on Linux and not on a
// Mac. The host's own definitions are kept out by their include guards.
#ifndef TARVIX_MACOS_SDK_DARWIN_PRELUDE_H_
#define TARVIX_MACOS_SDK_DARWIN_PRELUDE_H_

#define _BITS_STDINT_INTN_H 1
#define _BITS_STDINT_UINTN_H 1

typedef signed char int8_t;
typedef short int16_t;
typedef int int32_t;
typedef long long int64_t;
typedef unsigned char uint8_t;
typedef unsigned short uint16_t;
typedef unsigned int uint32_t;
typedef unsigned long long uint64_t;

#endif  // TARVIX_MACOS_SDK_DARWIN_PRELUDE_H_
