#include "platform/x11/image_scale.h"

#include <pixman.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
#include <bit>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarvix {
namespace {

struct PixmanUnref {
  void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, PixmanUnref>;

// x8r8g8b8 as bytes in memory.
constexpr TJPF kNativeXrgb = std::endian::native == std::endian::little ? TJPF_BGRX : TJPF_XRGB;

struct TjDestroy {
  void operator()(void* handle) const { tjDestroy(handle); }
};

// pixman's format for `layout`: channels in red, green, blue order from the
// top (ARGB) or the reverse (ABGR), contiguous from bit 0, in this
// machine's byte order.
pixman_format_code_t FormatOf(const PixelLayout& layout) {
  const auto none = static_cast<pixman_format_code_t>(0);
  if (layout.big_endian != (std::endian::native == std::endian::big)) return none;
  const uint32_t bpp = layout.bits_per_pixel;
  if (bpp != 16 && bpp != 24 && bpp != 32) return none;
  const auto width = [](uint32_t mask) { return static_cast<uint32_t>(std::popcount(mask)); };
  const auto shift = [](uint32_t mask) { return static_cast<uint32_t>(std::countr_zero(mask)); };
  const uint32_t r = width(layout.red_mask), g = width(layout.green_mask),
                 b = width(layout.blue_mask);
  if (r == 0 || g == 0 || b == 0 || r > 8 || g > 8 || b > 8) return none;
  const auto contiguous = [&](uint32_t mask) {
    return (mask >> shift(mask)) == (uint32_t{1} << width(mask)) - 1;
  };
  if (!contiguous(layout.red_mask) || !contiguous(layout.green_mask) ||
      !contiguous(layout.blue_mask)) {
    return none;
  }
  int type = 0;
  if (shift(layout.blue_mask) == 0 && shift(layout.green_mask) == b &&
      shift(layout.red_mask) == b + g) {
    type = PIXMAN_TYPE_ARGB;
  } else if (shift(layout.red_mask) == 0 && shift(layout.green_mask) == r &&
             shift(layout.blue_mask) == r + g) {
    type = PIXMAN_TYPE_ABGR;
  } else {
    return none;
  }
  const auto format = static_cast<pixman_format_code_t>(PIXMAN_FORMAT(bpp, type, 0, r, g, b));
  return pixman_format_supported_source(format) ? format : none;
}

// Area averaging along one axis: which source pixels each target pixel
// covers and by how much. The weights of a target pixel are fixed point
// with `bits` fraction bits and sum to exactly one: they are differences
// of the rounded running coverage, so rounding errors never add up.
struct AxisTaps {
  std::vector<uint32_t> first;   // first source pixel of each target pixel
  std::vector<uint32_t> offset;  // where its weights start; one extra at the end
  std::vector<uint16_t> weights;
  uint32_t most = 0;  // the largest number of weights of one target pixel
};

AxisTaps BoxTaps(uint32_t source, uint32_t target, int bits) {
  AxisTaps taps;
  taps.first.reserve(target);
  taps.offset.reserve(size_t{target} + 1);
  taps.weights.reserve(size_t{source} + target);
  // Target pixel i covers [i * source, (i + 1) * source) in units of
  // 1 / target source pixels.
  for (uint64_t i = 0; i < target; ++i) {
    const uint64_t low = i * source, high = (i + 1) * source;
    const uint64_t first = low / target, last = (high - 1) / target;
    taps.first.push_back(static_cast<uint32_t>(first));
    taps.offset.push_back(static_cast<uint32_t>(taps.weights.size()));
    uint64_t rounded_before = 0;
    for (uint64_t p = first; p <= last; ++p) {
      const uint64_t covered = std::min(high, (p + 1) * target) - low;
      const uint64_t rounded = ((covered << bits) + source / 2) / source;
      taps.weights.push_back(static_cast<uint16_t>(rounded - rounded_before));
      rounded_before = rounded;
    }
    taps.most = std::max(taps.most, static_cast<uint32_t>(last - first + 1));
  }
  taps.offset.push_back(static_cast<uint32_t>(taps.weights.size()));
  return taps;
}

// Down the columns: weights of 15 bits; the averaged channels keep 7
// fraction bits (at most 255 * 128, so they also fit signed 16 bits).
constexpr int kDownBits = 15;
// Across: weights of 14 bits, so a weight and a channel multiply as
// signed 16-bit numbers.
constexpr int kAcrossBits = 14;

// column[i] = sum of weight[k] * rows[k][i] over the rows of one target
// row. Each product is (channel << 8) * weight >> 16, so the vector and the
// plain loops give the same numbers.
void AverageDown(const uint8_t* const* rows, const uint16_t* weight, uint32_t count, size_t bytes,
                 uint16_t* column) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= bytes; i += 16) {
    __m128i low = zero, high = zero;
    for (uint32_t k = 0; k < count; ++k) {
      const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      const __m128i w = _mm_set1_epi16(static_cast<int16_t>(weight[k]));
      low = _mm_add_epi16(low, _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, pixels), w));
      high = _mm_add_epi16(high, _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, pixels), w));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(column + i), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(column + i + 8), high);
  }
#endif
  for (; i < bytes; ++i) {
    uint32_t sum = 0;
    for (uint32_t k = 0; k < count; ++k) sum += (uint32_t{rows[k][i]} << 8) * weight[k] >> 16;
    column[i] = static_cast<uint16_t>(sum);
  }
}

// Across a row: each target pixel has `pairs` pairs of weights (padded
// with zeros), packed low | high << 16, over the pixels from its first one.
struct AcrossTaps {
  std::vector<uint32_t> first;
  std::vector<uint32_t> pairs_of;  // pairs * target width
  uint32_t pairs = 1;
};

AcrossTaps PairUp(const AxisTaps& taps) {
  AcrossTaps across;
  across.pairs = (taps.most + 1) / 2;
  across.first = taps.first;
  across.pairs_of.assign(taps.first.size() * across.pairs, 0);
  for (size_t x = 0; x < taps.first.size(); ++x) {
    for (uint32_t k = taps.offset[x]; k < taps.offset[x + 1]; ++k) {
      const uint32_t index = k - taps.offset[x];
      across.pairs_of[x * across.pairs + index / 2] |= uint32_t{taps.weights[k]}
                                                       << (index % 2 * 16);
    }
  }
  return across;
}

// One target row from its column averages (`column` holds 2 * pairs zero
// pixels past the row, read by the padding weights).
void AverageAcross(const uint16_t* column, const AcrossTaps& across, uint32_t* target,
                   uint32_t width) {
  constexpr int kShift = kAcrossBits + 7;
  for (uint32_t x = 0; x < width; ++x) {
    const uint16_t* pixel = column + size_t{across.first[x]} * 4;
    const uint32_t* pairs = &across.pairs_of[size_t{x} * across.pairs];
#if defined(__SSE2__)
    __m128i sum = _mm_set1_epi32(1 << (kShift - 1));
    for (uint32_t p = 0; p < across.pairs; ++p, pixel += 8) {
      // b0 g0 r0 x0 b1 g1 r1 x1 -> b0 b1 g0 g1 r0 r1 x0 x1, then each
      // channel times its pair of weights, summed.
      const __m128i two = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel));
      const __m128i paired = _mm_unpacklo_epi16(two, _mm_srli_si128(two, 8));
      sum = _mm_add_epi32(sum, _mm_madd_epi16(paired, _mm_set1_epi32(static_cast<int>(pairs[p]))));
    }
    const __m128i channels = _mm_srai_epi32(sum, kShift);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(channels, channels), channels);
    target[x] = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes)) & 0xffffffu;
#else
    uint32_t channel[3] = {1u << (kShift - 1), 1u << (kShift - 1), 1u << (kShift - 1)};
    for (uint32_t p = 0; p < across.pairs; ++p, pixel += 8) {
      for (int c = 0; c < 3; ++c) {
        channel[c] += (pairs[p] & 0xffff) * pixel[c] + (pairs[p] >> 16) * pixel[4 + c];
      }
    }
    target[x] = ((channel[2] >> kShift) << 16) | ((channel[1] >> kShift) << 8) |
                (channel[0] >> kShift);
#endif
  }
}

// Target rows [first_row, end_row) of a native x8r8g8b8 image scaled by
// area averaging: each target row is averaged down the columns (the rows
// are contiguous, so this runs on whole vectors), then across.
void ScaleRows(const PixelImage& image, const AcrossTaps& across, const AxisTaps& down,
               XrgbImage& out, uint32_t first_row, uint32_t end_row) {
  const size_t row_bytes = size_t{image.width} * 4;
  std::vector<uint16_t> column(row_bytes + size_t{across.pairs} * 8);
  std::vector<const uint8_t*> rows(down.most);
  for (uint32_t y = first_row; y < end_row; ++y) {
    const uint32_t count = down.offset[y + 1] - down.offset[y];
    for (uint32_t k = 0; k < count; ++k) {
      rows[k] = image.data + (size_t{down.first[y]} + k) * image.stride;
    }
    AverageDown(rows.data(), &down.weights[down.offset[y]], count, row_bytes, column.data());
    AverageAcross(column.data(), across, &out.pixels[size_t{y} * out.width], out.width);
  }
}

// Runs rows(first, end) over [0, height) on this thread and one more when
// the work is worth a thread; false when either part failed.
template <typename Rows>
bool OnTwoThreads(uint32_t height, bool worth_it, Rows rows) {
  const uint32_t half = worth_it && height >= 64 ? height / 2 : height;
  bool helper_done = true;
  std::thread helper;
  if (half < height) {
    try {
      helper = std::thread([&] { helper_done = rows(half, height); });
    } catch (const std::system_error&) {
      helper_done = rows(half, height);  // no thread to be had: all rows here
    }
  }
  const bool done = rows(0, half);
  if (helper.joinable()) helper.join();
  return done && helper_done;
}

}  // namespace

bool IsNativeXrgb(const PixelLayout& layout) {
  return layout.bits_per_pixel == 32 && layout.red_mask == 0xff0000 &&
         layout.green_mask == 0x00ff00 && layout.blue_mask == 0x0000ff &&
         layout.big_endian == (std::endian::native == std::endian::big);
}

Result<XrgbImage> ScaleToXrgb(const PixelImage& image, uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || width > image.width || height > image.height) {
    return Error("cannot scale " + std::to_string(image.width) + "x" +
                 std::to_string(image.height) + " to " + std::to_string(width) + "x" +
                 std::to_string(height));
  }
  const pixman_format_code_t format = FormatOf(image.layout);
  if (format == 0 || image.stride % 4 != 0) {
    return Error("the screen's pixel format cannot be scaled");
  }
  XrgbImage out;
  try {
    out.pixels.resize(size_t{width} * height);
  } catch (const std::bad_alloc&) {
    return Error("out of memory for the scaled image");
  }
  out.width = width;
  out.height = height;
  const bool scaled = width != image.width || height != image.height;
  if (scaled && IsNativeXrgb(image.layout)) {
    // The screen's own layout (nearly every server): our filter, several
    // times faster than pixman's general convolution at the same result.
    try {
      const AcrossTaps across = PairUp(BoxTaps(image.width, width, kAcrossBits));
      const AxisTaps down = BoxTaps(image.height, height, kDownBits);
      const bool done = OnTwoThreads(height, true, [&](uint32_t first, uint32_t end) {
        try {
          ScaleRows(image, across, down, out, first, end);
          return true;
        } catch (const std::bad_alloc&) {
          return false;
        }
      });
      if (!done) return Error("out of memory for the scaled image");
    } catch (const std::bad_alloc&) {
      return Error("out of memory for the scaled image");
    }
    return out;
  }
  // Other layouts go through pixman, which reads them all: each thread has
  // its own view of the source (pixman images are not shared between
  // threads).
  auto rows = [&](uint32_t first, uint32_t end) -> bool {
    // pixman takes a mutable pointer but only reads a source.
    PixmanImage source(pixman_image_create_bits_no_clear(
        format, static_cast<int>(image.width), static_cast<int>(image.height),
        reinterpret_cast<uint32_t*>(const_cast<uint8_t*>(image.data)),
        static_cast<int>(image.stride)));
    PixmanImage target(pixman_image_create_bits_no_clear(
        PIXMAN_x8r8g8b8, static_cast<int>(width), static_cast<int>(height), out.pixels.data(),
        static_cast<int>(width * 4)));
    if (!source || !target) return false;
    if (scaled) {
      const double sx = static_cast<double>(image.width) / width;
      const double sy = static_cast<double>(image.height) / height;
      pixman_transform_t transform;
      pixman_transform_init_scale(&transform, pixman_double_to_fixed(sx),
                                  pixman_double_to_fixed(sy));
      pixman_image_set_transform(source.get(), &transform);
      // Edge pixels repeat outwards instead of fading into transparency.
      pixman_image_set_repeat(source.get(), PIXMAN_REPEAT_PAD);
      int count = 0;
      pixman_fixed_t* params = pixman_filter_create_separable_convolution(
          &count, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy), PIXMAN_KERNEL_BOX,
          PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 4, 4);
      if (params == nullptr) return false;
      const bool set = pixman_image_set_filter(
          source.get(), PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, count);
      free(params);
      if (!set) return false;
    }
    // Source coordinates before the transform are the target's.
    pixman_image_composite32(PIXMAN_OP_SRC, source.get(), nullptr, target.get(), 0,
                             static_cast<int32_t>(first), 0, 0, 0, static_cast<int32_t>(first),
                             static_cast<int32_t>(width), static_cast<int32_t>(end - first));
    return true;
  };
  // Resampling costs far more than the copy it writes.
  if (!OnTwoThreads(height, scaled, rows)) return Error("out of memory for the scaled image");
  return out;
}

void DrawCursor(XrgbImage& image, const uint32_t* argb, uint32_t width, uint32_t height,
                int32_t x, int32_t y) {
  PixmanImage cursor(pixman_image_create_bits_no_clear(
      PIXMAN_a8r8g8b8, static_cast<int>(width), static_cast<int>(height),
      const_cast<uint32_t*>(argb), static_cast<int>(width * 4)));
  PixmanImage target(pixman_image_create_bits_no_clear(
      PIXMAN_x8r8g8b8, static_cast<int>(image.width), static_cast<int>(image.height),
      image.pixels.data(), static_cast<int>(image.width * 4)));
  if (!cursor || !target) return;
  pixman_image_composite32(PIXMAN_OP_OVER, cursor.get(), nullptr, target.get(), 0, 0, 0, 0, x, y,
                           static_cast<int32_t>(width), static_cast<int32_t>(height));
}

Result<std::string> EncodeJpeg(const PixelImage& image, int quality) {
  if (!IsNativeXrgb(image.layout)) return Error("jpeg: the pixels are not 32-bit xrgb");
  std::unique_ptr<void, TjDestroy> compressor(tjInitCompress());
  if (!compressor) return Error("jpeg: cannot start the compressor");
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;  // NOLINT: the library's type
  const int failed = tjCompress2(compressor.get(), image.data, static_cast<int>(image.width),
                                 static_cast<int>(image.stride), static_cast<int>(image.height),
                                 kNativeXrgb, &jpeg, &size, TJSAMP_420,
                                 std::clamp(quality, 1, 100), 0);
  if (failed != 0) {
    std::string error = std::string("jpeg: ") + tjGetErrorStr2(compressor.get());
    tjFree(jpeg);
    return Error(std::move(error));
  }
  std::string bytes(reinterpret_cast<const char*>(jpeg), size);
  tjFree(jpeg);
  return bytes;
}

}  // namespace tarvix
