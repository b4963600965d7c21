// Owning handles and readers for CoreFoundation values, shared by the
// macOS window query and element tree.
#ifndef TARVIX_PLATFORM_MACOS_CF_VALUE_H_
#define TARVIX_PLATFORM_MACOS_CF_VALUE_H_

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tarvix {

// Owns one reference (from a Create or Copy call) and releases it.
template <typename Ref>
class CfOwned {
 public:
  CfOwned() = default;
  explicit CfOwned(Ref ref) : ref_(ref) {}
  CfOwned(CfOwned&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  CfOwned& operator=(CfOwned&& other) noexcept {
    std::swap(ref_, other.ref_);
    return *this;
  }
  ~CfOwned() {
    if (ref_ != nullptr) CFRelease(ref_);
  }

  Ref get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }
  // For Copy calls that hand the reference back through a pointer.
  Ref* out() {
    *this = CfOwned();
    return &ref_;
  }

 private:
  Ref ref_ = nullptr;
};

// A CFString of UTF-8 text; null only when out of memory.
CfOwned<CFStringRef> CfString(std::string_view utf8);

// True when `value` is non-null and of the CF type `type_id`.
inline bool IsCfType(CFTypeRef value, CFTypeID type_id) {
  return value != nullptr && CFGetTypeID(value) == type_id;
}

// The text of a CFString as UTF-8; nullopt when `value` is not a string.
std::optional<std::string> CfStringText(CFTypeRef value);

// A dictionary entry by UTF-8 key, not retained; null when absent.
CFTypeRef CfDictionaryEntry(CFDictionaryRef dictionary, std::string_view key);

// A CFNumber as a signed 64-bit integer when it converts without loss.
std::optional<int64_t> CfInt64(CFTypeRef value);
// A CFNumber as a 64-bit float when it converts without loss.
std::optional<double> CfFloat64(CFTypeRef value);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_MACOS_CF_VALUE_H_
