// CoreFoundation: counted objects, strings, numbers, booleans, arrays,
// dictionaries and data, as the CoreFoundation reference documents them.
#include <CoreFoundation/CoreFoundation.h>

#include <cstring>
#include <memory>

#include "cf_objects.h"

namespace macfake {
namespace {

constexpr uint32_t kMagic = 0xCF0B1EC7;

struct Registry {
  std::vector<std::unique_ptr<Object>> objects;
  std::vector<std::string> faults;
};
Registry& Objects() {
  static Registry* registry = new Registry;
  return *registry;
}

const char* TypeName(CFTypeID type) {
  switch (type) {
    case kStringType: return "CFString";
    case kNumberType: return "CFNumber";
    case kBooleanType: return "CFBoolean";
    case kArrayType: return "CFArray";
    case kDictionaryType: return "CFDictionary";
    case kDataType: return "CFData";
    case kAxElementType: return "AXUIElement";
    case kAxValueType: return "AXValue";
    case kEventType: return "CGEvent";
    case kEventSourceType: return "CGEventSource";
    case kInputSourceType: return "TISInputSource";
    case kDisplayModeType: return "CGDisplayMode";
    case kImageType: return "CGImage";
  }
  return "CFType";
}

// Decodes UTF-8; false on a malformed sequence (CFStringCreateWithBytes
// then returns NULL: "NULL if there was a problem creating the object").
bool DecodeUtf8(const uint8_t* bytes, size_t size, std::u16string* out) {
  for (size_t i = 0; i < size;) {
    const uint8_t lead = bytes[i];
    char32_t c;
    size_t length;
    if (lead < 0x80) {
      c = lead, length = 1;
    } else if ((lead & 0xE0) == 0xC0) {
      c = lead & 0x1F, length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
      c = lead & 0x0F, length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
      c = lead & 0x07, length = 4;
    } else {
      return false;
    }
    if (i + length > size) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return false;
      c = c << 6 | (bytes[i + k] & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      *out += static_cast<char16_t>(0xD800 + (c >> 10));
      *out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      *out += static_cast<char16_t>(c);
    }
    i += length;
  }
  return true;
}

}  // namespace

Object::Object(TypeId t, bool never_freed) : magic(kMagic), type(t), immortal(never_freed) {
  if (!immortal) Objects().objects.emplace_back(this);
}

std::string Object::Describe() const { return TypeName(type); }

std::string String::Describe() const { return "CFString \"" + Utf8Of(utf16) + "\""; }
bool String::Equals(const Object& other) const {
  return other.type == kStringType && static_cast<const String&>(other).utf16 == utf16;
}
CFHashCode String::Hash() const { return std::hash<std::u16string>()(utf16); }

void Array::Finalize() {
  for (CFTypeRef item : items) ReleaseObject(item);
}
void Dictionary::Finalize() {
  for (const auto& [key, value] : entries) {
    ReleaseObject(key);
    ReleaseObject(value);
  }
}

void RecordFault(std::string fault) { Objects().faults.push_back(std::move(fault)); }

Object* Live(CFTypeRef ref, const char* call, CFTypeID type) {
  // Passing NULL to a CF call is a crash on macOS ("must not be NULL").
  if (ref == nullptr) {
    RecordFault(std::string(call) + " on NULL");
    return nullptr;
  }
  auto* object = static_cast<Object*>(const_cast<void*>(ref));
  if (object->magic != kMagic) {
    RecordFault(std::string(call) + " on something that is not a CF object");
    return nullptr;
  }
  if (object->references <= 0 && !object->immortal) {
    RecordFault(std::string(call) + " on a released " + object->Describe());
    return nullptr;
  }
  if (type != 0 && object->type != type) {
    RecordFault(std::string(call) + " on a " + object->Describe() + ", not a " + TypeName(type));
    return nullptr;
  }
  return object;
}

void ReleaseObject(CFTypeRef ref) {
  auto* object = static_cast<Object*>(const_cast<void*>(ref));
  if (ref != nullptr && object->magic == kMagic && object->references <= 0 && !object->immortal) {
    RecordFault("over-released " + object->Describe());
    return;
  }
  if (Live(ref, "CFRelease") == nullptr || object->immortal) return;
  if (--object->references == 0) object->Finalize();
}

std::string Utf8Of(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

CFStringRef MakeString(const std::string& utf8) {
  return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8.data()),
                                 static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false);
}

void ResetCf() {
  Objects().objects.clear();
  Objects().faults.clear();
}

std::vector<std::string> CfFaults() {
  std::vector<std::string> faults = Objects().faults;
  AddDarwinFaults(&faults);
  for (const auto& object : Objects().objects) {
    if (object->references > 0) {
      faults.push_back("leaked " + object->Describe() + " (" +
                       std::to_string(object->references) + " reference" +
                       (object->references == 1 ? ")" : "s)"));
    }
  }
  return faults;
}

size_t CfLiveObjects() {
  size_t live = 0;
  for (const auto& object : Objects().objects) live += object->references > 0;
  return live;
}

void Reset() {
  ResetAx();
  ResetCg();
  ResetKeyboard();
  ResetDarwin();
  ResetPasteboard();
  ResetCf();
}

}  // namespace macfake

using namespace macfake;

namespace {
BooleanObject true_object(true), false_object(false);
// kCFAllocatorDefault is documented as NULL ("a synonym for NULL").
}  // namespace

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = reinterpret_cast<CFBooleanRef>(&true_object);
const CFBooleanRef kCFBooleanFalse = reinterpret_cast<CFBooleanRef>(&false_object);

CFTypeID CFGetTypeID(CFTypeRef cf) {
  const Object* object = Live(cf, "CFGetTypeID");
  return object == nullptr ? 0 : object->type;
}

CFTypeRef CFRetain(CFTypeRef cf) {
  if (Object* object = Live(cf, "CFRetain"); object != nullptr && !object->immortal) {
    ++object->references;
  }
  return cf;
}

void CFRelease(CFTypeRef cf) { ReleaseObject(cf); }

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
  const Object* a = Live(cf1, "CFEqual");
  const Object* b = Live(cf2, "CFEqual");
  return a != nullptr && b != nullptr && a->Equals(*b);
}

CFHashCode CFHash(CFTypeRef cf) {
  const Object* object = Live(cf, "CFHash");
  return object == nullptr ? 0 : object->Hash();
}

CFTypeID CFArrayGetTypeID(void) { return kArrayType; }
CFTypeID CFDictionaryGetTypeID(void) { return kDictionaryType; }
CFTypeID CFBooleanGetTypeID(void) { return kBooleanType; }
CFTypeID CFNumberGetTypeID(void) { return kNumberType; }
CFTypeID CFStringGetTypeID(void) { return kStringType; }

CFIndex CFArrayGetCount(CFArrayRef array) {
  const auto* object = static_cast<Array*>(Live(array, "CFArrayGetCount", kArrayType));
  return object == nullptr ? 0 : static_cast<CFIndex>(object->items.size());
}

// "The value is not retained": the caller owns no reference (Get rule).
const void* CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index) {
  const auto* object = static_cast<Array*>(Live(array, "CFArrayGetValueAtIndex", kArrayType));
  if (object == nullptr) return nullptr;
  if (index < 0 || index >= static_cast<CFIndex>(object->items.size())) {
    RecordFault("CFArrayGetValueAtIndex: index " + std::to_string(index) + " out of bounds");
    return nullptr;
  }
  return object->items[static_cast<size_t>(index)];
}

// Keys compare with CFEqual (kCFTypeDictionaryKeyCallBacks); the value is
// not retained.
Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef dictionary, const void* key,
                                      const void** value) {
  const auto* object =
      static_cast<Dictionary*>(Live(dictionary, "CFDictionaryGetValueIfPresent", kDictionaryType));
  if (object == nullptr) return false;
  for (const auto& [k, v] : object->entries) {
    if (CFEqual(k, key)) {
      if (value != nullptr) *value = v;
      return true;
    }
  }
  return false;
}

// "Returns true if the operation was successful": false when the value
// had to be converted with loss (a fraction dropped, a float out of range).
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* value) {
  const auto* object = static_cast<Number*>(Live(number, "CFNumberGetValue", kNumberType));
  if (object == nullptr) return false;
  if (type == kCFNumberSInt64Type) {
    int64_t out = object->integer;
    bool exact = true;
    if (object->is_float) {
      const double r = object->real;
      exact = r == r && r >= -9223372036854775808.0 && r < 9223372036854775808.0;
      out = exact ? static_cast<int64_t>(r) : 0;
      exact = exact && static_cast<double>(out) == r;
    }
    std::memcpy(value, &out, sizeof out);
    return exact;
  }
  if (type == kCFNumberFloat64Type) {
    const double out = object->is_float ? object->real : static_cast<double>(object->integer);
    std::memcpy(value, &out, sizeof out);
    return object->is_float || static_cast<int64_t>(out) == object->integer;
  }
  RecordFault("CFNumberGetValue with an unmodelled number type");
  return false;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* value) {
  auto* number = Make<Number>();
  if (type == kCFNumberFloat64Type) {
    number->is_float = true;
    std::memcpy(&number->real, value, sizeof number->real);
  } else if (type == kCFNumberSInt64Type) {
    std::memcpy(&number->integer, value, sizeof number->integer);
  } else {
    RecordFault("CFNumberCreate with an unmodelled number type");
  }
  return reinterpret_cast<CFNumberRef>(number);
}

const UInt8* CFDataGetBytePtr(CFDataRef data) {
  const auto* object = static_cast<Data*>(Live(data, "CFDataGetBytePtr", kDataType));
  return object == nullptr ? nullptr : object->bytes.data();
}

CFIndex CFDataGetLength(CFDataRef data) {
  const auto* object = static_cast<Data*>(Live(data, "CFDataGetLength", kDataType));
  return object == nullptr ? 0 : static_cast<CFIndex>(object->bytes.size());
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex size,
                                    CFStringEncoding encoding, Boolean) {
  if (encoding != kCFStringEncodingUTF8) {
    RecordFault("CFStringCreateWithBytes with an unmodelled encoding");
    return nullptr;
  }
  std::u16string text;
  if (!DecodeUtf8(bytes, static_cast<size_t>(size), &text)) return nullptr;
  return reinterpret_cast<CFStringRef>(Make<String>(std::move(text)));
}

// The length in UTF-16 code units.
CFIndex CFStringGetLength(CFStringRef string) {
  const auto* object = static_cast<String*>(Live(string, "CFStringGetLength", kStringType));
  return object == nullptr ? 0 : static_cast<CFIndex>(object->utf16.size());
}

// "Whether or not this function returns a valid pointer or NULL depends on
// many factors": here a pointer for text stored as 8-bit ASCII, NULL for
// anything else, so both paths of a caller run.
const char* CFStringGetCStringPtr(CFStringRef string, CFStringEncoding) {
  auto* object = static_cast<String*>(Live(string, "CFStringGetCStringPtr", kStringType));
  if (object == nullptr) return nullptr;
  for (const char16_t c : object->utf16) {
    if (c >= 0x80 || c == 0) return nullptr;
  }
  object->ascii.assign(object->utf16.begin(), object->utf16.end());
  return object->ascii.c_str();
}

// Converts whole characters of `range` while they fit; returns how many
// UTF-16 units were converted and, in `used`, the bytes (all needed ones
// when `buffer` is NULL).
CFIndex CFStringGetBytes(CFStringRef string, CFRange range, CFStringEncoding encoding, UInt8,
                         Boolean, UInt8* buffer, CFIndex max_length, CFIndex* used) {
  const auto* object = static_cast<String*>(Live(string, "CFStringGetBytes", kStringType));
  if (object == nullptr || encoding != kCFStringEncodingUTF8 || range.location < 0 ||
      range.location + range.length > static_cast<CFIndex>(object->utf16.size())) {
    if (object != nullptr) RecordFault("CFStringGetBytes outside the string or its encodings");
    return 0;
  }
  CFIndex converted = 0, bytes = 0;
  for (CFIndex i = range.location; i < range.location + range.length;) {
    const bool pair = object->utf16[i] >= 0xD800 && object->utf16[i] < 0xDC00 &&
                      i + 1 < range.location + range.length;
    const std::string piece = Utf8Of(object->utf16.substr(static_cast<size_t>(i), pair ? 2 : 1));
    if (buffer != nullptr) {
      if (bytes + static_cast<CFIndex>(piece.size()) > max_length) break;
      std::memcpy(buffer + bytes, piece.data(), piece.size());
    }
    bytes += static_cast<CFIndex>(piece.size());
    converted += pair ? 2 : 1;
    i += pair ? 2 : 1;
  }
  if (used != nullptr) *used = bytes;
  return converted;
}

}  // extern "C"
