// Carbon: the Text Input Sources services, the keyboard type, and
// UCKeyTranslate with its constants.
#ifndef TARVIX_MACOS_SDK_CARBON_H_
#define TARVIX_MACOS_SDK_CARBON_H_

#include <ApplicationServices/ApplicationServices.h>
#include <CoreFoundation/CoreFoundation.h>

// HIToolbox/Events.h: Carbon modifier bits.
typedef UInt16 EventModifiers;
enum {
  shiftKeyBit = 9,
};
enum {
  shiftKey = 1 << shiftKeyBit,
};

// HIToolbox/TextInputSources.h.
typedef struct __TISInputSource* TISInputSourceRef;

// CarbonCore/UnicodeUtilities.h.
struct UCKeyboardLayout;
typedef struct UCKeyboardLayout UCKeyboardLayout;
enum {
  kUCKeyActionDown = 0,
};
enum {
  kUCKeyTranslateNoDeadKeysBit = 0,
};
enum {
  kUCKeyTranslateNoDeadKeysMask = 1L << kUCKeyTranslateNoDeadKeysBit,
};

extern "C" {

extern const CFStringRef kTISPropertyUnicodeKeyLayoutData;
TISInputSourceRef TISCopyCurrentKeyboardInputSource(void);
TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource(void);
void* TISGetInputSourceProperty(TISInputSourceRef inputSource, CFStringRef propertyKey);

UInt8 LMGetKbdType(void);

OSStatus UCKeyTranslate(const UCKeyboardLayout* keyLayoutPtr, UInt16 virtualKeyCode,
                        UInt16 keyAction, UInt32 modifierKeyState, UInt32 keyboardType,
                        OptionBits keyTranslateOptions, UInt32* deadKeyState,
                        UniCharCount maxStringLength, UniCharCount* actualStringLength,
                        UniChar unicodeString[]);

}  // extern "C"

#endif  // TARVIX_MACOS_SDK_CARBON_H_
