// Definitions behind the Apple SDK stand-in (tests/macos_sdk), so that the
// macOS adapters run on Linux: CoreFoundation with counted references, an
// AX tree per application, the window server's list, a recorder of posted
// Quartz events, a keyboard layout, and the Darwin process and system
// calls. Each behaviour follows Apple's documentation of the call it
// stands for; the comment at each definition names what is modelled.
//
// The state is global, as the frameworks' is. Not thread-safe: a test
// drives the adapters from its own thread. Reset() at the start of a test;
// CfFaults() at its end lists leaks, over-releases and uses after release.
#ifndef TARVIX_TESTS_MACOS_FAKES_MACOS_FAKES_H_
#define TARVIX_TESTS_MACOS_FAKES_MACOS_FAKES_H_

#include <ApplicationServices/ApplicationServices.h>
#include <mach/mach.h>
#include <sys/proc_info.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace macfake {

// Forgets every object, application, window, event and process.
void Reset();

// ---- CoreFoundation reference counting.
// One line per fault since Reset(): "leaked CFString \"AXRole\" (1 reference)",
// "over-released CFNumber", "CFGetTypeID on a released CFArray"... Empty
// when every object created or copied was released exactly once more than
// it was retained, and nothing was touched after its last release.
std::vector<std::string> CfFaults();
// Objects alive now (created, not yet released to zero).
size_t CfLiveObjects();

// ---- Values of AX attributes and window records.
struct Point { double x = 0, y = 0; };
struct Size { double width = 0, height = 0; };
struct Element { int node = 0; };              // an AX element of the same application
using ElementList = std::vector<Element>;      // a CFArray of AX elements
using StringList = std::vector<std::string>;   // a CFArray of CFStrings
struct Bounds { std::map<std::string, std::variant<int64_t, double, std::string>> entries; };
// A CFString, CFNumber (SInt64 or Float64), CFBoolean, AXValue, AX
// element, array or dictionary.
using Value = std::variant<std::string, int64_t, double, bool, Point, Size, Element, ElementList,
                           StringList, Bounds>;

// ---- AX: one tree per application process.
struct AxNode {
  std::map<std::string, Value> attributes;
  std::vector<std::string> actions;
  std::vector<std::string> settable;
  // An attribute read answered with this error instead of its value.
  std::map<std::string, AXError> errors;
};
struct AxApplication {
  // Node 0 is the application element; AXUIElementCreateApplication(pid)
  // refers to it.
  std::vector<AxNode> nodes = std::vector<AxNode>(1);
  // How long the application takes to answer a message. A message whose
  // answer takes longer than the messaging timeout set on that element
  // object (else the global default of 6 s) fails with
  // kAXErrorCannotComplete.
  double answer_seconds = 0;
  // Nodes whose messages take this long instead (a busy web view).
  std::map<int, double> node_answer_seconds;
  // Every call fails with this error (kAXErrorSuccess: none does).
  AXError refuse_all = kAXErrorSuccess;
  // Called after an action is performed on a node or an attribute set
  // ("AXRaise", "AXMinimized"), for the window server's side of it.
  std::function<void(int node, const std::string& name)> react;
};
// The application of `pid`, created empty on first use.
AxApplication& Application(int pid);
// Adds a node to `pid`'s tree; its index.
int AddNode(int pid, AxNode node);
// The messaging timeout last set on an element of `pid` (0: never set).
float MessagingTimeout(int pid);
// The longest any AX message waited for its answer: the application's
// answer time, cut short by the timeout of the element messaged.
double LongestAxWait();
// Attribute writes and actions performed, in order: "set 3 AXValue=...",
// "perform 3 AXPress".
const std::vector<std::string>& AxLog();

// ---- The window server.
struct WindowInfo {
  // The record's entries by key ("kCGWindowNumber", "kCGWindowBounds"...);
  // a value of another type than Apple's is kept as given.
  std::map<std::string, Value> entries;
  bool on_screen = true;
};
// Windows front to back.
std::vector<WindowInfo>& Windows();
// CGWindowListCopyWindowInfo returns null while set.
void FailWindowList(bool fail);
// The option masks CGWindowListCopyWindowInfo was called with.
const std::vector<CGWindowListOption>& WindowListCalls();

struct Display {
  CGDirectDisplayID id = 1;
  CGRect bounds{};
  bool main = false;
  bool builtin = false;
  size_t mode_points_wide = 0;  // 0: no display mode
  size_t mode_pixels_wide = 0;
  // CGDisplayCreateImage's frame (BGRA, 4 bytes a pixel); none: null.
  std::optional<std::vector<uint8_t>> frame;
  size_t frame_width = 0, frame_height = 0;
};
std::vector<Display>& Displays();
void FailDisplayList(bool fail);

// ---- The general pasteboard (NSPasteboard).
struct Pasteboard {
  // Types declared by the owner, in order ("public.utf8-plain-text"...).
  std::vector<std::string> types;
  // The plain text's bytes, when offered.
  std::optional<std::string> text;
  // setData:forType: answers NO while set.
  bool refuse_writes = false;
};
Pasteboard& GeneralPasteboard();

// ---- Quartz events, in posting order.
inline constexpr uint32_t kKeyDown = 10;      // kCGEventKeyDown
inline constexpr uint32_t kKeyUp = 11;        // kCGEventKeyUp
inline constexpr uint32_t kScrollWheel = 22;  // kCGEventScrollWheel
struct PostedEvent {
  uint32_t type = 0;
  CGEventTapLocation tap = kCGHIDEventTap;
  double x = 0, y = 0;                 // mouse events: the position given
  CGMouseButton button = kCGMouseButtonLeft;
  uint16_t key_code = 0;               // keyboard events
  CGEventFlags flags = 0;              // as set with CGEventSetFlags (0 when never set)
  std::u16string text;                 // CGEventKeyboardSetUnicodeString
  std::map<CGEventField, int64_t> fields;
  CGScrollEventUnit scroll_unit = kCGScrollEventUnitPixel;
  uint32_t wheel_count = 0;
  int32_t wheels[3] = {0, 0, 0};
};
const std::vector<PostedEvent>& PostedEvents();
// Event creation returns null while set (CGEventSourceCreate too).
void FailEventCreation(bool fail);
void FailEventSource(bool fail);

// The pointer as NSEvent reports it (Cocoa coordinates: origin at the
// bottom left of the main display, y upwards), moved by posted mouse
// events; the buttons posted down and not yet up.
struct PointerState {
  double cocoa_x = 0, cocoa_y = 0;
  uint64_t pressed_buttons = 0;
  double double_click_interval = 0.5;
};
PointerState& Pointer();
// Height of the main display in points (CGDisplayPixelsHigh).
void SetMainDisplayHeight(size_t points);

// ---- Keyboard layouts, handed out as 'uchr' data by the Text Input
// Sources services and read by UCKeyTranslate: the US layout, or the
// German one (its accent keys are dead keys). kNone: an input source
// without layout data.
enum class Layout { kNone, kUsAnsi, kGerman };
void UseLayout(Layout layout);

// ---- Darwin processes and system facts.
struct Process {
  proc_bsdinfo bsd{};
  std::optional<proc_taskinfo> task;  // none: the task figures are refused
  std::string name;                   // proc_name's answer; "" fails it
};
std::map<int, Process>& Processes();
// sysctl by MIB, and sysctlbyname: the bytes each answers.
std::map<std::vector<int>, std::string>& SysctlValues();
std::map<std::string, std::string>& SysctlNames();
struct HostFacts {
  uint64_t page_size = 16384;
  vm_statistics64_data_t vm{};
  uint32_t timebase_numer = 125, timebase_denom = 3;
  bool fail_statistics = false;
};
HostFacts& Host();
// Mach send rights to the host port handed out and not deallocated.
int HostPortRights();
int PressureReliefCalls();

// kqueue process-exit events: `pid` has ended.
void EndProcess(int pid);
// The per-user temporary directory confstr reports ("" for none).
void SetUserTempDir(std::string dir);

// Programs started with posix_spawn: their argv. A spawned screencapture
// or sips writes `program_output` to its last (or "--out") path and
// exits with `program_status`.
const std::vector<std::vector<std::string>>& SpawnedPrograms();
void SetProgramResult(std::string output, int exit_status);

}  // namespace macfake

#endif  // TARVIX_TESTS_MACOS_FAKES_MACOS_FAKES_H_
