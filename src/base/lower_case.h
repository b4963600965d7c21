// Full Unicode lower-casing of UTF-8 text, as the safety screens compare it.
#ifndef TARVIX_BASE_LOWER_CASE_H_
#define TARVIX_BASE_LOWER_CASE_H_

#include <string>
#include <string_view>

namespace tarvix {

// Returns `utf8` lower-cased with the full Unicode mapping of the root locale,
// applied to the whole string: one character may become several (U+0130
// becomes "i" + U+0307), final sigma becomes U+03C2, the Kelvin sign U+212A
// becomes ASCII "k". ASCII-only text takes a fast path that maps A-Z alone.
// Ill-formed byte sequences are copied through unchanged, so the screens also
// see the raw bytes of names that are not UTF-8. Thread-safe.
std::string LowerCaseFull(std::string_view utf8);

}  // namespace tarvix

#endif  // TARVIX_BASE_LOWER_CASE_H_
