// The fakes' CoreFoundation objects, shared by the framework fakes.
#ifndef TARVIX_TESTS_MACOS_FAKES_CF_OBJECTS_H_
#define TARVIX_TESTS_MACOS_FAKES_CF_OBJECTS_H_

#include <ApplicationServices/ApplicationServices.h>

#include <string>
#include <vector>

#include "macos_fakes.h"

namespace macfake {

enum TypeId : CFTypeID {
  kStringType = 7,
  kNumberType,
  kBooleanType,
  kArrayType,
  kDictionaryType,
  kDataType,
  kAxElementType,
  kAxValueType,
  kEventType,
  kEventSourceType,
  kInputSourceType,
  kDisplayModeType,
  kImageType,
};

// Every object lives until Reset(), so that a use after its last release
// is reported instead of reading freed memory.
struct Object {
  Object(TypeId type, bool immortal = false);
  virtual ~Object() = default;
  // Releases what the object holds (at its last release).
  virtual void Finalize() {}
  virtual std::string Describe() const;
  virtual bool Equals(const Object& other) const { return this == &other; }
  virtual CFHashCode Hash() const { return reinterpret_cast<CFHashCode>(this); }

  uint32_t magic;
  TypeId type;
  long references = 1;
  bool immortal;
};

struct String : Object {
  explicit String(std::u16string text, bool immortal = false)
      : Object(kStringType, immortal), utf16(std::move(text)) {}
  std::string Describe() const override;
  bool Equals(const Object& other) const override;
  CFHashCode Hash() const override;
  std::u16string utf16;
  std::string ascii;  // the C string pointer's storage, for pure ASCII text
};
struct Number : Object {
  Number() : Object(kNumberType) {}
  bool is_float = false;
  int64_t integer = 0;
  double real = 0;
};
struct BooleanObject : Object {
  explicit BooleanObject(bool v) : Object(kBooleanType, true), value(v) {}
  bool value;
};
struct Array : Object {
  Array() : Object(kArrayType) {}
  void Finalize() override;
  std::vector<CFTypeRef> items;  // each retained by the array
};
struct Dictionary : Object {
  Dictionary() : Object(kDictionaryType) {}
  void Finalize() override;
  std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;  // keys and values retained
};
struct Data : Object {
  Data() : Object(kDataType) {}
  std::vector<uint8_t> bytes;
};

// Checks that `ref` is a live object (of `type`, unless 0); records the
// fault of `call` otherwise and returns null.
Object* Live(CFTypeRef ref, const char* call, CFTypeID type = 0);
void RecordFault(std::string fault);

// A new object with one reference, counted by the registry.
template <typename T, typename... Args>
T* Make(Args&&... args) {
  return new T(std::forward<Args>(args)...);
}

CFStringRef MakeString(const std::string& utf8);
std::string Utf8Of(const std::u16string& text);
// A CF value for a fake value; AX elements belong to application `pid`.
CFTypeRef MakeValue(const Value& value, int pid);

// Releases `ref` (CFRelease's work, without the public name).
void ReleaseObject(CFTypeRef ref);

// Descriptors and rights the Darwin fakes still hold for the caller.
void AddDarwinFaults(std::vector<std::string>* faults);

// Cleared by Reset().
void ResetCf();
void ResetAx();
void ResetCg();
void ResetKeyboard();
void ResetDarwin();
void ResetPasteboard();

}  // namespace macfake

#endif  // TARVIX_TESTS_MACOS_FAKES_CF_OBJECTS_H_
