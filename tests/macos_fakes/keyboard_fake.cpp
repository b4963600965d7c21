// The Text Input Sources services and UCKeyTranslate over 'uchr' keyboard
// layout data, laid out as CarbonCore's UnicodeUtilities.h documents it:
// a header with one keyboard type entry, a modifier-to-table map, one
// key-to-character table per modifier state, and key state records for
// dead keys. The data is built from the US and German layouts' legends.
#include <Carbon/Carbon.h>

#include <cstring>

#include "cf_objects.h"

namespace macfake {
namespace {

// UnicodeUtilities.h formats and output masks.
constexpr uint16_t kHeaderFormat = 0x1002;           // kUCKeyLayoutHeaderFormat
constexpr uint16_t kModifiersFormat = 0x3001;        // kUCKeyModifiersToTableNumFormat
constexpr uint16_t kCharTableFormat = 0x4001;        // kUCKeyToCharTableIndexFormat
constexpr uint16_t kStateRecordsFormat = 0x5001;     // kUCKeyStateRecordsIndexFormat
constexpr uint16_t kOutputTestMask = 0xC000;         // kUCKeyOutputTestForIndexMask
constexpr uint16_t kOutputStateIndex = 0x4000;       // kUCKeyOutputStateIndexMask
constexpr uint16_t kOutputGetIndex = 0x3FFF;         // kUCKeyOutputGetIndexMask
constexpr uint16_t kInvalidOutput = 0xFFFF;

// Apple's virtual key codes (HIToolbox Events.h, kVK_*) and what the key
// types plain and with Shift.
struct KeyLegend {
  uint16_t code;
  char16_t plain, shifted;
};
constexpr KeyLegend kUsKeys[] = {
    {0, 'a', 'A'},   {1, 's', 'S'},   {2, 'd', 'D'},   {3, 'f', 'F'},   {4, 'h', 'H'},
    {5, 'g', 'G'},   {6, 'z', 'Z'},   {7, 'x', 'X'},   {8, 'c', 'C'},   {9, 'v', 'V'},
    {11, 'b', 'B'},  {12, 'q', 'Q'},  {13, 'w', 'W'},  {14, 'e', 'E'},  {15, 'r', 'R'},
    {16, 'y', 'Y'},  {17, 't', 'T'},  {18, '1', '!'},  {19, '2', '@'},  {20, '3', '#'},
    {21, '4', '$'},  {22, '6', '^'},  {23, '5', '%'},  {24, '=', '+'},  {25, '9', '('},
    {26, '7', '&'},  {27, '-', '_'},  {28, '8', '*'},  {29, '0', ')'},  {30, ']', '}'},
    {31, 'o', 'O'},  {32, 'u', 'U'},  {33, '[', '{'},  {34, 'i', 'I'},  {35, 'p', 'P'},
    {36, '\r', '\r'}, {37, 'l', 'L'}, {38, 'j', 'J'},  {39, '\'', '"'}, {40, 'k', 'K'},
    {41, ';', ':'},  {42, '\\', '|'}, {43, ',', '<'},  {44, '/', '?'},  {45, 'n', 'N'},
    {46, 'm', 'M'},  {47, '.', '>'},  {48, '\t', '\t'}, {49, ' ', ' '}, {50, '`', '~'},
    {51, 0x08, 0x08}, {53, 0x1B, 0x1B},
    // The keypad types the same with and without Shift.
    {65, '.', '.'},  {67, '*', '*'},  {69, '+', '+'},  {75, '/', '/'},  {78, '-', '-'},
    {81, '=', '='},  {82, '0', '0'},  {83, '1', '1'},  {84, '2', '2'},  {85, '3', '3'},
    {86, '4', '4'},  {87, '5', '5'},  {88, '6', '6'},  {89, '7', '7'},  {91, '8', '8'},
    {92, '9', '9'},
};
// Where the German layout differs: Z and Y swapped, umlauts, sharp s.
constexpr KeyLegend kGermanKeys[] = {
    {6, 'y', 'Y'},   {16, 'z', 'Z'},  {19, '2', '"'},  {20, '3', 0xA7}, {22, '6', '&'},
    {25, '9', ')'},  {26, '7', '/'},  {27, 0xDF, '?'}, {28, '8', '('},  {29, '0', '='},
    {30, '+', '*'},  {33, 0xFC, 0xDC}, {39, 0xE4, 0xC4}, {41, 0xF6, 0xD6}, {42, '#', '\''},
    {43, ',', ';'},  {44, '-', '_'},  {47, '.', ':'},  {50, '<', '>'},  {65, ',', ','},
};
// The German acute and grave accents (the key right of sharp s) are dead
// keys: state record 0 and 1, whose character on their own is the accent.
constexpr uint16_t kGermanAccentKey = 24;
constexpr char16_t kAcute = 0xB4, kGrave = '`';

class Writer {
 public:
  size_t Put8(uint8_t v) { return Put(&v, 1); }
  size_t Put16(uint16_t v) { return Put(&v, 2); }
  size_t Put32(uint32_t v) { return Put(&v, 4); }
  void Set32(size_t at, uint32_t v) { std::memcpy(bytes_.data() + at, &v, 4); }
  size_t size() const { return bytes_.size(); }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  size_t Put(const void* p, size_t n) {
    const size_t at = bytes_.size();
    bytes_.insert(bytes_.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    return at;
  }
  std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> BuildUchr(Layout layout) {
  uint16_t tables[2][128];
  std::fill(&tables[0][0], &tables[0][0] + 256, kInvalidOutput);
  for (const KeyLegend& key : kUsKeys) tables[0][key.code] = key.plain, tables[1][key.code] = key.shifted;
  const bool german = layout == Layout::kGerman;
  if (german) {
    for (const KeyLegend& key : kGermanKeys) {
      tables[0][key.code] = key.plain, tables[1][key.code] = key.shifted;
    }
    tables[0][kGermanAccentKey] = kOutputStateIndex | 0;
    tables[1][kGermanAccentKey] = kOutputStateIndex | 1;
  }
  Writer w;
  // UCKeyboardLayout with one UCKeyboardTypeHeader (every keyboard type).
  w.Put16(kHeaderFormat);
  w.Put16(0x0100);
  w.Put32(0);  // no feature info
  w.Put32(1);
  w.Put32(0);
  w.Put32(0xFFFFFFFF);
  const size_t offsets = w.size();
  for (int i = 0; i < 5; ++i) w.Put32(0);
  // UCKeyModifiersToTableNum: modifier states 0 to 3 (Command bit 0,
  // Shift bit 1) give table 0 without Shift and 1 with it.
  w.Set32(offsets, static_cast<uint32_t>(w.size()));
  w.Put16(kModifiersFormat);
  w.Put16(0);
  w.Put32(4);
  for (const uint8_t table : {0, 0, 1, 1}) w.Put8(table);  // UInt8 tableNum[]
  // UCKeyToCharTableIndex and its tables of UCKeyOutput.
  w.Set32(offsets + 4, static_cast<uint32_t>(w.size()));
  w.Put16(kCharTableFormat);
  w.Put16(128);
  w.Put32(2);
  const size_t table_offsets = w.size();
  w.Put32(0);
  w.Put32(0);
  for (int t = 0; t < 2; ++t) {
    w.Set32(table_offsets + 4 * static_cast<size_t>(t), static_cast<uint32_t>(w.size()));
    for (const uint16_t output : tables[t]) w.Put16(output);
  }
  if (german) {
    // UCKeyStateRecordsIndex and two UCKeyStateRecords: the accent itself
    // in state zero, entering dead-key state 1 or 2 (no entries here).
    w.Set32(offsets + 8, static_cast<uint32_t>(w.size()));
    w.Put16(kStateRecordsFormat);
    w.Put16(2);
    const size_t records = w.size();
    w.Put32(0);
    w.Put32(0);
    for (int r = 0; r < 2; ++r) {
      w.Set32(records + 4 * static_cast<size_t>(r), static_cast<uint32_t>(w.size()));
      w.Put16(r == 0 ? kAcute : kGrave);       // stateZeroCharData
      w.Put16(static_cast<uint16_t>(r + 1));   // stateZeroNextState
      w.Put16(0);                              // stateEntryCount
      w.Put16(0x0001);                         // kUCKeyStateEntryTerminalFormat
    }
  }
  return w.Take();
}

template <typename T>
T At(const uint8_t* base, size_t offset) {
  T value;
  std::memcpy(&value, base + offset, sizeof value);
  return value;
}

struct InputSource : Object {
  InputSource() : Object(kInputSourceType) {}
  void Finalize() override {
    if (layout != nullptr) ReleaseObject(layout);
  }
  CFDataRef layout = nullptr;  // owned by the source
};

Layout current_layout = Layout::kUsAnsi;

// Input methods (Japanese, say) have no layout data; the caller then asks
// for the current keyboard layout source. The fake answers both alike.
TISInputSourceRef NewInputSource() {
  auto* source = Make<InputSource>();
  if (current_layout != Layout::kNone) {
    auto* data = Make<Data>();
    data->bytes = BuildUchr(current_layout);
    source->layout = reinterpret_cast<CFDataRef>(data);
  }
  return reinterpret_cast<TISInputSourceRef>(source);
}

}  // namespace

void UseLayout(Layout layout) { current_layout = layout; }
void ResetKeyboard() { current_layout = Layout::kUsAnsi; }

}  // namespace macfake

using namespace macfake;

extern "C" {

const CFStringRef kTISPropertyUnicodeKeyLayoutData =
    reinterpret_cast<CFStringRef>(new String(u"TISPropertyUnicodeKeyLayoutData", true));

TISInputSourceRef TISCopyCurrentKeyboardInputSource(void) { return NewInputSource(); }
TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource(void) { return NewInputSource(); }

// "The property value ... is not retained" (Get rule): it lives as long
// as the source.
void* TISGetInputSourceProperty(TISInputSourceRef source, CFStringRef key) {
  auto* input =
      static_cast<InputSource*>(Live(source, "TISGetInputSourceProperty", kInputSourceType));
  if (input == nullptr || !CFEqual(key, kTISPropertyUnicodeKeyLayoutData)) return nullptr;
  return const_cast<void*>(static_cast<const void*>(input->layout));
}

UInt8 LMGetKbdType(void) { return 40; }  // an ANSI keyboard

// The modifier state is the Carbon modifier mask shifted right by 8 bits.
// A dead key with kUCKeyTranslateNoDeadKeysMask gives its state-zero
// character; without it, it enters its dead-key state and gives nothing.
OSStatus UCKeyTranslate(const UCKeyboardLayout* layout, UInt16 code, UInt16 action,
                        UInt32 modifiers, UInt32 keyboard_type, OptionBits options,
                        UInt32* dead_key_state, UniCharCount max, UniCharCount* length,
                        UniChar text[]) {
  constexpr OSStatus kParamErr = -50;
  const auto* base = reinterpret_cast<const uint8_t*>(layout);
  *length = 0;
  if (base == nullptr || At<uint16_t>(base, 0) != kHeaderFormat || action != kUCKeyActionDown) {
    return kParamErr;
  }
  const uint32_t first = At<uint32_t>(base, 12), last = At<uint32_t>(base, 16);
  if (keyboard_type < first || keyboard_type > last) return kParamErr;
  const uint32_t modifier_map = At<uint32_t>(base, 20), char_index = At<uint32_t>(base, 24),
                 state_index = At<uint32_t>(base, 28);
  const uint32_t state = modifiers & 0xFF;
  const uint16_t table = state < At<uint32_t>(base, modifier_map + 4)
                             ? At<uint8_t>(base, modifier_map + 8 + state)
                             : At<uint16_t>(base, modifier_map + 2);
  if (code >= At<uint16_t>(base, char_index + 2)) return kParamErr;
  const uint32_t table_offset = At<uint32_t>(base, char_index + 8 + 4 * table);
  const uint16_t output = At<uint16_t>(base, table_offset + 2 * code);
  if (output == kInvalidOutput || output == 0xFFFE) return noErr;
  char16_t c = output;
  if ((output & kOutputTestMask) == kOutputStateIndex) {
    if (state_index == 0) return kParamErr;
    const uint32_t record =
        At<uint32_t>(base, state_index + 4 + 4 * (output & kOutputGetIndex));
    if ((options & kUCKeyTranslateNoDeadKeysMask) == 0 && *dead_key_state == 0) {
      *dead_key_state = At<uint16_t>(base, record + 2);
      return noErr;
    }
    c = At<uint16_t>(base, record);
  } else if ((output & kOutputTestMask) != 0) {
    return kParamErr;  // sequences are not used by these layouts
  }
  if (max < 1) return kParamErr;
  text[0] = c;
  *length = 1;
  return noErr;
}

}  // extern "C"
