// UTF-8 validation and lossy decoding of raw bytes (file contents, entry
// names, command output) into text the JSON layer can carry.
#ifndef TARVIX_BASE_UTF8_H_
#define TARVIX_BASE_UTF8_H_

#include <string>
#include <string_view>

namespace tarvix {

// True when `bytes` is well-formed UTF-8 (no surrogates, no overlongs,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// True when every byte is ASCII.
bool IsAscii(std::string_view bytes);

// The Unicode scalar value that starts at `text[i]`, and its length in
// `*len`. `text` must be valid UTF-8 and `i` the start of a sequence.
char32_t DecodeScalarAt(std::string_view text, size_t i, size_t* len);

// Returns `bytes` with every ill-formed sequence replaced by U+FFFD, one
// replacement per maximal subpart (the Unicode Standard's recommended
// practice, also what most languages' lossy decoders do). Valid input is
// returned as a plain copy after one validating pass.
std::string LossyUtf8(std::string_view bytes);
std::string LossyUtf8(std::string&& bytes);

}  // namespace tarvix

#endif  // TARVIX_BASE_UTF8_H_
