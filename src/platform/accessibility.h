// The platform's accessibility service (AT-SPI on Linux, AX on macOS) as
// the element walk of "ui_tree" needs it.
//
// The interface is bulk-shaped: the walk asks for the children of a whole
// level, and then for the attributes of every recorded element, in one
// call each, so a platform whose reads are round trips (AT-SPI over D-Bus)
// can keep them all in flight; a platform with cheap local reads (AX)
// simply loops.
//
// Besides the walk, the seam gives a way back to an element after its
// application object is closed (ElementHandle), and an ElementControl that
// acts on one element and reads it back ("ui_action", "ui_set_value").
//
// The platform file defines ThisAccessibilityPlatform,
// OpenAccessibleApplication, OpenAccessibleApplications and
// OpenElementControl.
#ifndef TARVIX_PLATFORM_ACCESSIBILITY_H_
#define TARVIX_PLATFORM_ACCESSIBILITY_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace tarvix {

// An element of one opened application. The application gives the same
// element the same id for as long as it lives, so the walk can tell an
// element it has already seen (a cycle in a broken tree) by its id.
using ElementId = uint32_t;

// A rectangle in points relative to the main display's top-left corner,
// as the platform reports it (fractions and non-finite numbers included).
struct ElementBounds {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// What one element reports; an unreadable attribute is left at its
// default here and takes the reply's default in the walk.
struct ElementAttributes {
  // In the macOS vocabulary ("AXButton"); "" when unreadable.
  std::string role;
  // "" when unreadable.
  std::string name;
  // The element's text value; nullopt when it has none or it is not text.
  std::optional<std::string> value;
  // nullopt when the element has no position and size.
  std::optional<ElementBounds> bounds;
  // nullopt when the enabled state cannot be read.
  std::optional<bool> enabled;
  // The element's action names in the platform's order; nullopt when they
  // cannot be read (a platform may leave them unread for a disabled
  // element: such an element is never clickable).
  std::optional<std::vector<std::string>> actions;

  // Filled by DetailedAttributes only.
  // "" when it has none or it is unreadable.
  std::string description;
  // The platform's state names ("checked", "focused", "expanded", ...),
  // except the enabled state, which `enabled` carries.
  std::vector<std::string> states;
  bool focused = false;
  // A password field, whose value is never reported.
  bool secure = false;
  // The element holds text the user can edit.
  bool editable = false;
  // False when nothing at all could be read for the element (its
  // application stopped answering, or the deadline came first).
  bool answered = false;
};

// The attributes that cost a read per element of their own (on AT-SPI a
// call the application answers; on AX an attribute read each). A filter
// that needs some of them for every element walked asks for those only,
// and for the rest of the elements it keeps afterwards.
struct DetailReads {
  bool bounds = true;
  bool actions = true;
  // The value (`value`), of text or of a value range.
  bool value = true;
};

struct ChildrenRequest {
  ElementId parent = 0;
  // Only the first `limit` children are of use to the walk.
  size_t limit = 0;
  // Children known to be off screen are listed too.
  bool hidden_too = false;
};

// A top-level window of an opened application.
struct TopLevelWindow {
  ElementId element = 0;
  int32_t pid = 0;
  std::string title;
  // The window has the keyboard focus (ACTIVE), or is shown.
  bool active = false;
  bool showing = false;
  // As FocusedWindow's.
  bool window_relative_bounds = false;
};

// The way back to an element once the application object that found it
// is gone: what OpenElementControl needs to reach it again. `locator` is
// the platform's address of the element (on AT-SPI its bus name and object
// path); `native` a platform reference kept alive with the handle (on AX
// the element itself).
struct ElementHandle {
  int32_t pid = 0;
  std::string locator;
  std::shared_ptr<const void> native;
};

struct FocusedWindow {
  ElementId element = 0;
  // The title the reply names the window by.
  std::string title;
  // The application reports its elements' bounds relative to this
  // window's top-left corner instead of the display's (GTK 4 on X11); the
  // walk moves them by the window's frame from the window list.
  bool window_relative_bounds = false;
};

// One application's element tree, opened for one "ui_tree" call. Not
// thread-safe: it belongs to the worker that opened it. Every read obeys
// the platform's deadlines, so no call blocks for long on an application
// that stopped answering.
class AccessibleApplication {
 public:
  virtual ~AccessibleApplication() = default;

  // The window whose tree is walked; nullopt when the application has no
  // focused (or otherwise chosen) window.
  virtual std::optional<FocusedWindow> Focused() = 0;

  // For each request, in order, the parent's first `limit` children in
  // index order among those on screen (a child known to be off screen,
  // such as an item of a closed menu, a hidden page or a scrolled-out row,
  // is left out with its subtree); an empty list when they cannot be read.
  virtual std::vector<std::vector<ElementId>> Children(std::span<const ChildrenRequest> requests) = 0;

  // The attributes of each element, in order.
  virtual std::vector<ElementAttributes> Attributes(std::span<const ElementId> elements) = 0;

  // The attributes with the detailed fields too (description, states,
  // focus, secure, editable). Costs more reads than Attributes. What
  // `reads` leaves out may be left at its default, to be asked for later
  // of the elements that turn out to need it.
  virtual std::vector<ElementAttributes> DetailedAttributes(std::span<const ElementId> elements,
                                                            const DetailReads& reads) = 0;

  // Every top-level window of the opened application(s), in the
  // applications' order.
  virtual std::vector<TopLevelWindow> Windows() = 0;

  // The way back to an element returned by this object.
  virtual ElementHandle Handle(ElementId element) = 0;

  // Pids of applications that let a read go unanswered; they are asked
  // nothing more by this object.
  virtual std::vector<int32_t> Unresponsive() = 0;
  // Whether the object's deadline has passed.
  virtual bool OutOfTime() = 0;
};

// What an element reports when it is about to be acted on.
struct ElementReading {
  // In the macOS vocabulary, as ElementAttributes's.
  std::string role;
  std::vector<std::string> states;
  // Its text, or its number when it has a value range (a slider, a spin
  // button); nullopt when it has neither.
  std::optional<std::string> value;
  std::vector<std::string> actions;
  bool secure = false;
  // Which of the element's means the control can use.
  bool can_focus = false;
  bool can_scroll_to = false;
  bool can_select = false;
  bool can_set_text = false;
  bool can_set_number = false;
};

// The error of an ElementControl call on an element that no longer exists
// (its application ended, or it was destroyed).
inline constexpr char kElementGone[] = "gone";

// One element, reached again through its handle, for acting on it. Every
// call obeys the platform's deadlines: an application that does not answer
// fails the call with "unavailable: ...". Not thread-safe.
class ElementControl {
 public:
  virtual ~ElementControl() = default;
  virtual Result<ElementReading> Read() = 0;
  // Runs the element's action number `index` (its place in `actions`).
  virtual Result<void> DoAction(size_t index) = 0;
  virtual Result<void> Focus() = 0;
  virtual Result<void> ScrollTo() = 0;
  // Selects the element in its container.
  virtual Result<void> Select() = 0;
  virtual Result<void> SetText(std::string_view text) = 0;
  virtual Result<void> SetNumber(double number) = 0;
};


// The texts and rules that differ between platforms; the walk holds none.
struct AccessibilityPlatform {
  // The reply's "source" and "note" for a tree, and the note sent with the
  // window list when no tree was read.
  std::string_view source;
  std::string_view note;
  std::string_view fallback_note;
  // Action names that press an element.
  std::span<const std::string_view> press_actions;
  // Whether action names are compared after ASCII lower-casing (else byte
  // for byte).
  bool press_actions_ignore_ascii_case = false;
  // For each verb of "ui_action" that runs an element action, the action
  // names that do it, in order of preference.
  struct Verb {
    std::string_view verb;
    std::span<const std::string_view> names;
  };
  std::span<const Verb> verbs;
};

const AccessibilityPlatform& ThisAccessibilityPlatform();

// The accessible application of process `pid`, whose frontmost window the
// window list titles `window_title`; null when the process has none (or
// the platform has no accessibility service). Thread-safe: each caller
// gets its own object.
std::unique_ptr<AccessibleApplication> OpenAccessibleApplication(int32_t pid,
                                                                 std::string_view window_title);

// The accessible application of process `pid`, or every application of the
// desktop when `pid` is nullopt, read within `budget`; null when there is
// none. An application that stops answering costs at most one read's wait
// and is listed by Unresponsive(); the others are read meanwhile.
std::unique_ptr<AccessibleApplication> OpenAccessibleApplications(std::optional<int32_t> pid,
                                                                  std::chrono::milliseconds budget);

// A control for the element of `handle`. Never null.
std::unique_ptr<ElementControl> OpenElementControl(const ElementHandle& handle);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_ACCESSIBILITY_H_
