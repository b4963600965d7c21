// The platform's accessibility service (AT-SPI on Linux, AX on macOS) as
// the element walk of "ui_tree" needs it.
//
// The interface is bulk-shaped: the walk asks for the children of a whole
// level, and then for the attributes of every recorded element, in one
// call each, so a platform whose reads are round trips (AT-SPI over D-Bus)
// can keep them all in flight; a platform with cheap local reads (AX)
// simply loops.
//
// The platform file defines ThisAccessibilityPlatform and
// OpenAccessibleApplication.
#ifndef TARVIX_PLATFORM_ACCESSIBILITY_H_
#define TARVIX_PLATFORM_ACCESSIBILITY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
};

struct ChildrenRequest {
  ElementId parent = 0;
  // Only the first `limit` children are of use to the walk.
  size_t limit = 0;
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
};

const AccessibilityPlatform& ThisAccessibilityPlatform();

// The accessible application of process `pid`, whose frontmost window the
// window list titles `window_title`; null when the process has none (or
// the platform has no accessibility service). Thread-safe: each caller
// gets its own object.
std::unique_ptr<AccessibleApplication> OpenAccessibleApplication(int32_t pid,
                                                                 std::string_view window_title);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_ACCESSIBILITY_H_
