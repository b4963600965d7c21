#include "platform/x11/png_encoder.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace tarvix {
namespace {

// One colour channel of a pixel unit: where its bits are and how its
// values map to 8 bits.
struct Channel {
  uint32_t shift = 0;
  uint32_t width = 0;
  std::array<uint8_t, 256> widen{};  // for width <= 8

  uint8_t Of(uint32_t pixel) const {
    const uint32_t value = (pixel >> shift) & ((uint32_t{1} << width) - 1);
    return width <= 8 ? widen[value] : static_cast<uint8_t>(value >> (width - 8));
  }
};

// Repeats the value's bits from the top of the byte down, so the largest
// value of any width becomes 255 and 0 stays 0.
uint8_t Replicate(uint32_t value, uint32_t width) {
  uint32_t out = 0;
  for (int pos = 8 - static_cast<int>(width); pos > -static_cast<int>(width);
       pos -= static_cast<int>(width)) {
    out |= pos >= 0 ? value << pos : value >> -pos;
  }
  return static_cast<uint8_t>(out);
}

std::optional<Channel> ChannelOf(uint32_t mask, uint32_t bits_per_pixel) {
  if (mask == 0) return std::nullopt;
  if (bits_per_pixel < 32 && (mask >> bits_per_pixel) != 0) return std::nullopt;
  Channel channel;
  channel.shift = static_cast<uint32_t>(std::countr_zero(mask));
  channel.width = static_cast<uint32_t>(std::popcount(mask));
  if (channel.width == 32 || (mask >> channel.shift) != (uint32_t{1} << channel.width) - 1) {
    return std::nullopt;  // not one contiguous run (a 32-bit channel is no colour format)
  }
  if (channel.width <= 8) {
    for (uint32_t v = 0; v < (uint32_t{1} << channel.width); ++v) {
      channel.widen[v] = Replicate(v, channel.width);
    }
  }
  return channel;
}

// Turns rows of one pixel layout into rows of RGB bytes.
class RowConverter {
 public:
  static std::optional<RowConverter> For(const PixelLayout& layout) {
    if (layout.bits_per_pixel != 16 && layout.bits_per_pixel != 24 &&
        layout.bits_per_pixel != 32) {
      return std::nullopt;
    }
    std::optional<Channel> red = ChannelOf(layout.red_mask, layout.bits_per_pixel);
    std::optional<Channel> green = ChannelOf(layout.green_mask, layout.bits_per_pixel);
    std::optional<Channel> blue = ChannelOf(layout.blue_mask, layout.bits_per_pixel);
    if (!red || !green || !blue) return std::nullopt;
    return RowConverter(layout, *red, *green, *blue);
  }

  void Convert(const uint8_t* src, uint32_t width, uint8_t* rgb) const {
    if (bgrx_) {
      // The common 24/32-bit layout: bytes B, G, R, unused.
      for (uint32_t x = 0; x < width; ++x, src += 4, rgb += 3) {
        rgb[0] = src[2];
        rgb[1] = src[1];
        rgb[2] = src[0];
      }
      return;
    }
    const uint32_t unit = layout_.bits_per_pixel / 8;
    for (uint32_t x = 0; x < width; ++x, src += unit, rgb += 3) {
      uint32_t pixel = 0;
      if (layout_.big_endian) {
        for (uint32_t i = 0; i < unit; ++i) pixel = pixel << 8 | src[i];
      } else {
        for (uint32_t i = unit; i-- > 0;) pixel = pixel << 8 | src[i];
      }
      rgb[0] = red_.Of(pixel);
      rgb[1] = green_.Of(pixel);
      rgb[2] = blue_.Of(pixel);
    }
  }

 private:
  RowConverter(const PixelLayout& layout, const Channel& red, const Channel& green,
               const Channel& blue)
      : layout_(layout),
        red_(red),
        green_(green),
        blue_(blue),
        bgrx_(layout.bits_per_pixel == 32 && !layout.big_endian && layout.red_mask == 0xff0000 &&
              layout.green_mask == 0xff00 && layout.blue_mask == 0xff) {}

  PixelLayout layout_;
  Channel red_, green_, blue_;
  bool bgrx_;
};

void PutBigEndian32(uint32_t value, uint8_t* out) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

// The deflated rows of one stripe and what joining them needs.
struct Stripe {
  std::vector<uint8_t> deflated;
  uint32_t adler = 1;       // of the filtered rows
  size_t filtered_size = 0;
  uint32_t crc = 0;         // of "IDAT" and `deflated`, continued by the last stripe's trailer
};

// Per-thread buffers and compressor, reused across the stripes a thread
// takes.
class StripeEncoder {
 public:
  StripeEncoder(const PixelImage& image, const RowConverter& converter)
      : image_(image),
        converter_(converter),
        row_bytes_(size_t{image.width} * 3),
        previous_(row_bytes_),
        current_(row_bytes_) {}
  ~StripeEncoder() {
    if (initialised_) deflateEnd(&stream_);
  }
  StripeEncoder(const StripeEncoder&) = delete;
  StripeEncoder& operator=(const StripeEncoder&) = delete;

  bool Encode(uint32_t first_row, uint32_t end_row, bool last, Stripe* out) {
    Filter(first_row, end_row);
    out->filtered_size = filtered_.size();
    out->adler = static_cast<uint32_t>(libdeflate_adler32(1, filtered_.data(), filtered_.size()));
    // The first stripe carries the zlib stream header (32K window, fastest
    // level), so the stream needs no chunk of its own.
    const size_t header = first_row == 0 ? 2 : 0;
    if (!Deflate(last, header, &out->deflated)) return false;
    if (header != 0) {
      out->deflated[0] = 0x78;
      out->deflated[1] = 0x01;
    }
    static constexpr uint8_t kTag[] = {'I', 'D', 'A', 'T'};
    out->crc = libdeflate_crc32(libdeflate_crc32(0, kTag, 4), out->deflated.data(),
                                out->deflated.size());
    return true;
  }

 private:
  // Converts rows [first_row, end_row) into filter-type-2 ("up") rows. The
  // row above the stripe is converted again rather than shared, so stripes
  // need nothing from each other; above the image it is all zeros.
  void Filter(uint32_t first_row, uint32_t end_row) {
    filtered_.resize((end_row - first_row) * (row_bytes_ + 1));
    if (first_row == 0) {
      std::fill(previous_.begin(), previous_.end(), 0);
    } else {
      converter_.Convert(RowAt(first_row - 1), image_.width, previous_.data());
    }
    zero_bytes_ = 0;
    uint8_t* out = filtered_.data();
    for (uint32_t y = first_row; y < end_row; ++y) {
      converter_.Convert(RowAt(y), image_.width, current_.data());
      *out++ = 2;
      size_t zeros = 0;
      for (size_t i = 0; i < row_bytes_; ++i) {
        const auto d = static_cast<uint8_t>(current_[i] - previous_[i]);
        out[i] = d;
        zeros += d == 0;
      }
      out += row_bytes_;
      zero_bytes_ += zeros;
      previous_.swap(current_);
    }
  }

  const uint8_t* RowAt(uint32_t y) const { return image_.data + size_t{y} * image_.stride; }

  // Deflates `filtered_` into `out` after `offset` bytes left for the caller.
  bool Deflate(bool last, size_t offset, std::vector<uint8_t>* out) {
    // Mostly-unchanged rows (screens of text and flat colour) compress best
    // and fast with the normal matcher; noisy rows (photos) take it many
    // failed match searches, where run-length matching is several times
    // faster at about the same size.
    const int strategy = zero_bytes_ * 2 >= filtered_.size() ? Z_DEFAULT_STRATEGY : Z_RLE;
    if (!initialised_) {
      if (deflateInit2(&stream_, 1, Z_DEFLATED, -15, 8, strategy) != Z_OK) return false;
      initialised_ = true;
    } else if (deflateReset(&stream_) != Z_OK || deflateParams(&stream_, 1, strategy) != Z_OK) {
      return false;
    }
    out->resize(offset + deflateBound(&stream_, filtered_.size()) + 16);
    stream_.next_in = filtered_.data();
    stream_.avail_in = static_cast<uInt>(filtered_.size());
    stream_.next_out = out->data() + offset;
    stream_.avail_out = static_cast<uInt>(out->size() - offset);
    // A full flush ends the stripe on a byte boundary with an empty stored
    // block and no reference to earlier bytes: the next stripe's deflate
    // data may follow directly. Only the image's last stripe is final.
    const int flush = last ? Z_FINISH : Z_FULL_FLUSH;
    for (;;) {
      const int status = deflate(&stream_, flush);
      if (status == Z_STREAM_ERROR) return false;
      if (stream_.avail_out != 0 && (status == Z_STREAM_END || !last)) break;
      const size_t used = out->size() - stream_.avail_out;
      out->resize(out->size() * 2);
      stream_.next_out = out->data() + used;
      stream_.avail_out = static_cast<uInt>(out->size() - used);
    }
    out->resize(out->size() - stream_.avail_out);
    return true;
  }

  const PixelImage& image_;
  const RowConverter& converter_;
  size_t row_bytes_;
  std::vector<uint8_t> previous_, current_, filtered_;
  size_t zero_bytes_ = 0;
  z_stream stream_{};
  bool initialised_ = false;
};

void AppendChunk(std::string* png, const char* tag, const uint8_t* data, uint32_t size) {
  uint8_t head[8];
  PutBigEndian32(size, head);
  std::memcpy(head + 4, tag, 4);
  png->append(reinterpret_cast<const char*>(head), 8);
  png->append(reinterpret_cast<const char*>(data), size);
  uint8_t crc[4];
  PutBigEndian32(static_cast<uint32_t>(libdeflate_crc32(libdeflate_crc32(0, head + 4, 4), data, size)),
                 crc);
  png->append(reinterpret_cast<const char*>(crc), 4);
}

}  // namespace

Result<std::string> EncodePng(const PixelImage& image, const PngOptions& options) {
  if (image.width == 0 || image.height == 0 || image.width > 0x7fffffff / 4 ||
      image.height > 0x7fffffff) {
    return Error("the image has no pixels or is too large");
  }
  const std::optional<RowConverter> converter = RowConverter::For(image.layout);
  if (!converter) return Error("unsupported pixel format");

  const uint32_t rows_per_stripe = std::max<uint32_t>(options.rows_per_stripe, 1);
  const uint32_t stripe_count = (image.height + rows_per_stripe - 1) / rows_per_stripe;
  // A stripe's IDAT chunk must stay below 2^31 bytes.
  if (uint64_t{rows_per_stripe} * (uint64_t{image.width} * 3 + 1) > (uint64_t{1} << 30)) {
    return Error("the image has no pixels or is too large");
  }
  std::vector<Stripe> stripes(stripe_count);
  std::atomic<uint32_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    try {
      StripeEncoder encoder(image, *converter);
      for (uint32_t i; (i = next.fetch_add(1)) < stripe_count && !failed;) {
        const uint32_t first = i * rows_per_stripe;
        const uint32_t end = std::min(image.height, first + rows_per_stripe);
        if (!encoder.Encode(first, end, i + 1 == stripe_count, &stripes[i])) failed = true;
      }
    } catch (const std::bad_alloc&) {
      failed = true;
    }
  };
  std::vector<std::thread> helpers;
  const int wanted = std::clamp<int>(options.threads, 1, static_cast<int>(stripe_count));
  for (int t = 1; t < wanted; ++t) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads still finish the job
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  if (failed) return Error("the PNG compressor ran out of memory");

  uint32_t adler = stripes[0].adler;
  for (uint32_t i = 1; i < stripe_count; ++i) {
    adler = static_cast<uint32_t>(
        adler32_combine(adler, stripes[i].adler, static_cast<z_off_t>(stripes[i].filtered_size)));
  }

  size_t total = 8 + 25 + 12 + 4;
  for (const Stripe& stripe : stripes) total += stripe.deflated.size() + 12;
  std::string png;
  png.reserve(total);
  png.append("\x89PNG\r\n\x1a\n", 8);
  uint8_t header[13];
  PutBigEndian32(image.width, header);
  PutBigEndian32(image.height, header + 4);
  header[8] = 8;   // bits per channel
  header[9] = 2;   // truecolour RGB
  header[10] = 0;  // deflate
  header[11] = 0;  // adaptive filtering
  header[12] = 0;  // no interlace
  AppendChunk(&png, "IHDR", header, sizeof header);
  for (uint32_t i = 0; i < stripe_count; ++i) {
    Stripe& stripe = stripes[i];
    uint32_t size = static_cast<uint32_t>(stripe.deflated.size());
    uint32_t crc = stripe.crc;
    if (i + 1 == stripe_count) {
      uint8_t trailer[4];
      PutBigEndian32(adler, trailer);
      crc = static_cast<uint32_t>(libdeflate_crc32(crc, trailer, 4));
      stripe.deflated.insert(stripe.deflated.end(), trailer, trailer + 4);
      size += 4;
    }
    uint8_t head[8];
    PutBigEndian32(size, head);
    std::memcpy(head + 4, "IDAT", 4);
    png.append(reinterpret_cast<const char*>(head), 8);
    png.append(reinterpret_cast<const char*>(stripe.deflated.data()), size);
    uint8_t crc_bytes[4];
    PutBigEndian32(crc, crc_bytes);
    png.append(reinterpret_cast<const char*>(crc_bytes), 4);
  }
  static constexpr uint8_t kNothing[1] = {0};
  AppendChunk(&png, "IEND", kNothing, 0);
  return png;
}

}  // namespace tarvix
