// PNG encoding of packed TrueColor pixels (the X server's image formats) as
// 8-bit RGB without alpha.
//
// Rows are converted, filtered ("up") and deflated in stripes. Each stripe
// is compressed on its own and ends on a byte boundary with a full flush,
// so stripes can be compressed on several threads and still join into the
// one zlib stream that PNG requires; each stripe becomes one IDAT chunk.
#ifndef TARVIX_PLATFORM_X11_PNG_ENCODER_H_
#define TARVIX_PLATFORM_X11_PNG_ENCODER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/result.h"

namespace tarvix {

// How one pixel is stored: a 16-, 24- or 32-bit unit in the given byte
// order, with each colour channel a contiguous run of bits under its mask.
// Channels narrower than 8 bits widen by bit replication (5-bit 31 becomes
// 255), wider ones keep their top 8 bits.
struct PixelLayout {
  uint32_t bits_per_pixel = 32;
  bool big_endian = false;
  uint32_t red_mask = 0xff0000;
  uint32_t green_mask = 0x00ff00;
  uint32_t blue_mask = 0x0000ff;
};

// A view of pixel rows; `data` must hold `stride` bytes for each of `height`
// rows (the last row needs only width * bytes per pixel).
struct PixelImage {
  const uint8_t* data = nullptr;
  uint32_t width = 0;
  uint32_t height = 0;
  size_t stride = 0;
  PixelLayout layout;
};

struct PngOptions {
  // Stripes are compressed by this many threads (the caller's included).
  int threads = 2;
  // Rows per stripe; smaller stripes balance threads better and compress a
  // little worse (each stripe starts with an empty history).
  uint32_t rows_per_stripe = 128;
};

// Fails only for a layout it cannot read (masks not contiguous or outside
// the pixel, other pixel sizes), an empty image, or when the compressor
// cannot get memory. Thread-safe; holds no state between calls.
Result<std::string> EncodePng(const PixelImage& image, const PngOptions& options = {});

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_PNG_ENCODER_H_
