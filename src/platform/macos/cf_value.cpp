#include "platform/macos/cf_value.h"

namespace tarvix {

CfOwned<CFStringRef> CfString(std::string_view utf8) {
  return CfOwned<CFStringRef>(CFStringCreateWithBytes(
      kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8.data()),
      static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false));
}

std::optional<std::string> CfStringText(CFTypeRef value) {
  if (!IsCfType(value, CFStringGetTypeID())) return std::nullopt;
  const auto string = static_cast<CFStringRef>(value);
  if (const char* direct = CFStringGetCStringPtr(string, kCFStringEncodingUTF8)) return direct;
  const CFRange all = CFRangeMake(0, CFStringGetLength(string));
  CFIndex size = 0;
  CFStringGetBytes(string, all, kCFStringEncodingUTF8, 0, false, nullptr, 0, &size);
  std::string text(static_cast<size_t>(size), '\0');
  CFIndex used = 0;
  CFStringGetBytes(string, all, kCFStringEncodingUTF8, 0, false,
                   reinterpret_cast<UInt8*>(text.data()), size, &used);
  text.resize(static_cast<size_t>(used));
  return text;
}

CFTypeRef CfDictionaryEntry(CFDictionaryRef dictionary, std::string_view key) {
  const CfOwned<CFStringRef> name = CfString(key);
  const void* value = nullptr;
  if (!name || !CFDictionaryGetValueIfPresent(dictionary, name.get(), &value)) return nullptr;
  return value;
}

std::optional<int64_t> CfInt64(CFTypeRef value) {
  int64_t number = 0;
  if (!IsCfType(value, CFNumberGetTypeID()) ||
      !CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &number)) {
    return std::nullopt;
  }
  return number;
}

std::optional<double> CfFloat64(CFTypeRef value) {
  double number = 0;
  if (!IsCfType(value, CFNumberGetTypeID()) ||
      !CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberFloat64Type, &number)) {
    return std::nullopt;
  }
  return number;
}

}  // namespace tarvix
