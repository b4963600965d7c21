#include "mcp/tool_catalogue.h"

#include <array>
#include <string>

namespace tarvix::mcp {
namespace {

constexpr std::string_view kCoordinateNote =
    "\n\nCoordinates: screenshot, ui_tree bounds and input share one space: global display "
    "points, origin at the top-left corner of the main display, x growing right, y growing "
    "down. On X11 one point is one screenshot pixel. On a scaled (HiDPI) display the screenshot "
    "has more pixels than the display has points: divide screenshot pixel positions by the "
    "scale (screenshot width / display width in points) before passing them to input.";

// The names "key" accepts besides a single character, compared without
// regard to letter case.
constexpr std::string_view kKeyNames[] = {
    "return", "enter", "tab", "escape", "esc", "backspace", "delete", "del", "space", "up",
    "down", "left", "right", "home", "end", "pageup", "page_up", "pagedown", "page_down",
    "shift", "control", "ctrl", "alt", "meta", "super", "win", "cmd", "command", "capslock",
    "caps_lock", "f1", "f2", "f3", "f4", "f5", "f6", "f7", "f8", "f9", "f10", "f11", "f12"};

Json ObjectSchema(Json properties, Json required = Json::array()) {
  Json schema = {{"type", "object"}, {"properties", std::move(properties)}};
  if (!required.empty()) schema["required"] = std::move(required);
  return schema;
}

Json NoParams() { return ObjectSchema(Json::object()); }

Json PathParam(std::string_view what) {
  return {{"type", "string"},
          {"minLength", 1},
          {"description", std::string(what) +
                              " A leading ~ is the home directory; a relative path resolves "
                              "against the daemon's working directory."}};
}

Json ListProcessesParams() {
  return ObjectSchema({{"limit",
                        {{"type", "integer"},
                         {"minimum", 0},
                         {"default", 25},
                         {"description", "How many processes to return, largest first."}}}});
}

Json KillProcessParams() {
  return ObjectSchema({{"pid",
                        {{"type", "integer"},
                         {"minimum", 0},
                         {"maximum", 4294967295u},
                         {"description", "Process id, as list_processes reports it."}}}},
                      {"pid"});
}

Json ListDirParams() {
  return ObjectSchema({{"path", PathParam("Directory to list.")}}, {"path"});
}

Json ReadFileParams() {
  return ObjectSchema(
      {{"path", PathParam("File to read.")},
       {"max_bytes",
        {{"type", "integer"},
         {"minimum", 0},
         {"default", 65536},
         {"description",
          "Refuse files larger than this many bytes (default 65536). Values above 67108864 "
          "(64 MiB) count as 67108864."}}}},
      {"path"});
}

Json WriteFileParams() {
  return ObjectSchema({{"path", PathParam("File to create or replace.")},
                       {"content",
                        {{"type", "string"},
                         {"description", "The whole new content, written as UTF-8 text."}}}},
                      {"path", "content"});
}

Json RunCommandParams() {
  return ObjectSchema(
      {{"command",
        {{"type", "string"}, {"description", "Shell command line, run with sh -c."}}},
       {"timeout_secs",
        {{"type", "integer"},
         {"minimum", 1},
         {"maximum", 120},
         {"default", 15},
         {"description",
          "Time limit in whole seconds; the command and every process it started are killed "
          "when it runs out."}}}},
      {"command"});
}

Json InputParams() {
  Json key_names = Json::array();
  for (const std::string_view name : kKeyNames) key_names.push_back(name);
  const Json coordinate = {{"type", "integer"},
                           {"minimum", -2147483648LL},
                           {"maximum", 2147483647}};
  Json x = coordinate, y = coordinate, dx = coordinate, dy = coordinate;
  x["description"] = "Pointer x in display points (required for move; click and double_click move "
                     "there first when both x and y are given).";
  y["description"] = "Pointer y in display points, growing down (see x).";
  dy["description"] = "scroll: vertical wheel lines, positive scrolls up, negative down.";
  dx["description"] = "scroll: horizontal wheel lines, positive scrolls right, negative left.";
  return ObjectSchema(
      {{"action",
        {{"type", "string"},
         {"enum", {"move", "click", "double_click", "scroll", "type", "key"}},
         {"description", "What to do; each action reads only its own members."}}},
       {"x", std::move(x)},
       {"y", std::move(y)},
       {"button",
        {{"type", "string"},
         {"enum", {"left", "right", "middle"}},
         {"default", "left"},
         {"description", "click: the mouse button."}}},
       {"dx", std::move(dx)},
       {"dy", std::move(dy)},
       {"text",
        {{"type", "string"},
         {"description", "type (required): text entered literally, as if typed."}}},
       {"name",
        {{"description",
          "key (required): one of the key names (lower case) or one single character "
          "(typed as given, so \"A\" is an upper-case A). One key per call: no combinations; a "
          "modifier name presses and releases that modifier alone."},
         {"anyOf",
          {{{"type", "string"}, {"enum", std::move(key_names)}},
           {{"type", "string"}, {"minLength", 1}, {"maxLength", 1}}}}}}},
      {"action"});
}

Json CaptureParams() {
  const auto integer = [](int64_t minimum, int64_t maximum, std::string_view description) {
    return Json{{"type", "integer"},
                {"minimum", minimum},
                {"maximum", maximum},
                {"description", description}};
  };
  constexpr int64_t kFar = int64_t{1} << 40;
  Json region = ObjectSchema({{"x", integer(-kFar, kFar, "Left edge in points.")},
                              {"y", integer(-kFar, kFar, "Top edge in points.")},
                              {"w", integer(1, kFar, "Width in points.")},
                              {"h", integer(1, kFar, "Height in points.")}},
                             {"x", "y", "w", "h"});
  region["description"] = "The area to capture, in the global points input uses.";
  Json max_bytes = integer(1, 268435456, "The most bytes the encoded image may have.");
  max_bytes["default"] = 8388608;
  Json quality = integer(1, 100, "JPEG quality.");
  quality["default"] = 80;
  return ObjectSchema(
      {{"region", std::move(region)},
       {"display", {{"type", "integer"}, {"description", "A display id from displays."}}},
       {"window",
        {{"type", "integer"},
         {"minimum", 0},
         {"description", "A window id (the X window id on X11, the CGWindowID on macOS)."}}},
       {"max_width", integer(1, 65535, "The widest the image may be, in pixels.")},
       {"max_height", integer(1, 65535, "The tallest the image may be, in pixels.")},
       {"max_pixels", integer(1, 4294836225, "The most pixels (width x height) it may have.")},
       {"max_bytes", std::move(max_bytes)},
       {"format",
        {{"type", "string"},
         {"enum", {"png", "jpeg"}},
         {"default", "png"},
         {"description", "png keeps every pixel exact; jpeg is smaller."}}},
       {"quality", std::move(quality)},
       {"cursor",
        {{"type", "boolean"}, {"default", false}, {"description", "Draw the pointer in."}}}});
}

Json ModifiersSchema(std::string_view description) {
  return {{"type", "array"},
          {"items", {{"type", "string"}}},
          {"maxItems", 8},
          {"description", description}};
}

Json ButtonSchema() {
  return {{"type", "string"},
          {"enum", {"left", "right", "middle"}},
          {"default", "left"},
          {"description", "The mouse button."}};
}

Json KeyComboParams() {
  return ObjectSchema(
      {{"keys",
        {{"description",
          "The chord: \"ctrl+shift+t\" or [\"ctrl\", \"shift\", \"t\"], 1 to 8 keys pressed "
          "in this order and released in reverse. Use \"ctrl++\" or an array for the plus "
          "key."},
         {"anyOf",
          {{{"type", "string"}, {"minLength", 1}},
           {{"type", "array"},
            {"items", {{"type", "string"}}},
            {"minItems", 1},
            {"maxItems", 8}}}}}},
       {"repeat",
        {{"type", "integer"},
         {"minimum", 1},
         {"maximum", 100},
         {"default", 1},
         {"description", "How many times to play the chord."}}},
       {"hold_ms",
        {{"type", "integer"},
         {"minimum", 0},
         {"maximum", 10000},
         {"default", 0},
         {"description", "How long all keys stay down before the release."}}}},
      {"keys"});
}

Json PointerParams() {
  const Json coordinate = {{"type", "integer"},
                           {"minimum", -2147483648LL},
                           {"maximum", 2147483647}};
  Json x = coordinate, y = coordinate, dx = coordinate, dy = coordinate;
  x["description"] = "Pointer x in display points (required for move; other ops move there "
                     "first when both x and y are given).";
  y["description"] = "Pointer y in display points, growing down (see x).";
  dy["description"] = "scroll: vertical wheel lines, positive scrolls up, negative down.";
  dx["description"] = "scroll: horizontal wheel lines, positive scrolls right, negative left.";
  return ObjectSchema(
      {{"op",
        {{"type", "string"},
         {"enum", {"move", "down", "up", "click", "scroll"}},
         {"description", "What to do."}}},
       {"x", std::move(x)},
       {"y", std::move(y)},
       {"button", ButtonSchema()},
       {"count",
        {{"type", "integer"},
         {"minimum", 1},
         {"maximum", 3},
         {"default", 1},
         {"description", "click: 2 for a double click, 3 for a triple click."}}},
       {"modifiers", ModifiersSchema("Keys held during the op (\"shift\", \"ctrl\", \"alt\", "
                                     "\"meta\"); with down they stay held until the button "
                                     "goes up.")},
       {"dx", std::move(dx)},
       {"dy", std::move(dy)}},
      {"op"});
}

Json DragParams() {
  return ObjectSchema(
      {{"path",
        {{"type", "array"},
         {"minItems", 2},
         {"maxItems", 64},
         {"items",
          {{"type", "array"},
           {"items", {{"type", "integer"}}},
           {"minItems", 2},
           {"maxItems", 2}}},
         {"description", "[[x, y], ...] in display points: pressed at the first point, "
                         "released at the last."}}},
       {"button", ButtonSchema()},
       {"modifiers", ModifiersSchema("Keys held for the whole drag.")},
       {"duration_ms",
        {{"type", "integer"},
         {"minimum", 0},
         {"maximum", 10000},
         {"default", 300},
         {"description", "How long the moves take in all."}}},
       {"steps",
        {{"type", "integer"},
         {"minimum", 1},
         {"maximum", 100},
         {"default", 10},
         {"description", "Pointer moves per segment of the path."}}}},
      {"path"});
}

Json ClipboardReadParams() {
  return ObjectSchema({{"max_bytes",
                        {{"type", "integer"},
                         {"minimum", 1},
                         {"maximum", 16777216},
                         {"default", 1048576},
                         {"description", "The most bytes of text to return."}}}});
}

Json UiSnapshotParams() {
  auto integer = [](int low, int high, int fallback, std::string_view what) {
    return Json{{"type", "integer"}, {"minimum", low}, {"maximum", high}, {"default", fallback},
                {"description", what}};
  };
  auto flag = [](bool fallback, std::string_view what) {
    return Json{{"type", "boolean"}, {"default", fallback}, {"description", what}};
  };
  return ObjectSchema(
      {{"scope",
        {{"type", "string"},
         {"enum", {"focused", "window", "app", "desktop"}},
         {"default", "focused"},
         {"description",
          "focused: the front application's focused window; window: the window with the id "
          "given as window; app: every window of process pid; desktop: every application's "
          "windows."}}},
       {"window", {{"type", "integer"}, {"minimum", 0}, {"description", "The window id (scope window)."}}},
       {"pid", {{"type", "integer"}, {"minimum", 1}, {"description", "The process id (scope app)."}}},
       {"max_elements", integer(1, 5000, 220, "The most elements to return.")},
       {"max_depth", integer(0, 64, 22, "The deepest level to read (the window is level 0).")},
       {"deadline_ms",
        integer(1, 10000, 1500,
                "How long the read may take; what was read by then is returned.")},
       {"query",
        {{"type", "string"},
         {"description",
          "Keeps elements whose name, value or description contains this text (any letter "
          "case), with their ancestors."}}},
       {"roles",
        {{"type", "array"},
         {"items", {{"type", "string"}}},
         {"description", "Keeps elements of these roles (AXButton, AXTextField, ...), with "
                         "their ancestors."}}},
       {"interactive_only",
        flag(false, "Keeps elements that have an action or editable text, with their ancestors.")},
       {"visible_only", flag(true, "Leaves out elements that are not shown.")}});
}

Json UiActionParams() {
  Json action = {{"type", "string"},
                 {"description",
                  "press, focus, toggle, expand, collapse, select, show_menu, scroll_into_view, "
                  "or one of the element's own action names."},
                 {"examples", {"press", "toggle", "focus"}}};
  return ObjectSchema(
      {{"ref", {{"type", "string"}, {"description", "An element ref from ui_snapshot (s3e12)."}}},
       {"action", std::move(action)}},
      {"ref", "action"});
}

Json UiSetValueParams() {
  return ObjectSchema(
      {{"ref", {{"type", "string"}, {"description", "An element ref from ui_snapshot (s3e12)."}}},
       {"value",
        {{"type", "string"},
         {"description", "The whole new text, or a number for a slider or spin button."}}}},
      {"ref", "value"});
}

Json ClipboardWriteParams() {
  return ObjectSchema(
      {{"text", {{"type", "string"}, {"description", "The text to put on the clipboard."}}}},
      {"text"});
}

Json BatchParams() {
  Json step = ObjectSchema(
      {{"method", {{"type", "string"}, {"minLength", 1}, {"description", "A tool's name."}}},
       {"params", {{"type", "object"}, {"description", "That tool's arguments."}}}},
      {"method"});
  return ObjectSchema({{"steps", {{"type", "array"},
                                  {"minItems", 1},
                                  {"maxItems", 32},
                                  {"items", std::move(step)},
                                  {"description", "The calls to make, in order."}}}},
                      {"steps"});
}

Json WaitForParams() {
  Json region = ObjectSchema({{"x", {{"type", "integer"}}},
                              {"y", {{"type", "integer"}}},
                              {"w", {{"type", "integer"}, {"minimum", 1}}},
                              {"h", {{"type", "integer"}, {"minimum", 1}}}},
                             {"x", "y", "w", "h"});
  region["description"] = "Only changes inside this rectangle count (screen points).";
  return ObjectSchema(
      {{"until",
        {{"type", "string"},
         {"enum", {"settle", "change", "element", "element_gone", "window", "window_gone"}},
         {"description", "The condition to wait for."}}},
       {"timeout_ms",
        {{"type", "integer"}, {"minimum", 0}, {"maximum", 60000}, {"default", 5000},
         {"description", "How long to wait at most."}}},
       {"stable_ms",
        {{"type", "integer"}, {"minimum", 0}, {"maximum", 60000}, {"default", 300},
         {"description", "settle: how long the screen must stay still."}}},
       {"region", std::move(region)},
       {"query",
        {{"type", "string"},
         {"description", "element, element_gone: text in the element's name, value or "
                         "description (letter case ignored)."}}},
       {"role", {{"type", "string"}, {"description", "element, element_gone: the role, e.g. AXButton."}}},
       {"title",
        {{"type", "string"},
         {"minLength", 1},
         {"description", "window, window_gone: text in the window's title (letter case ignored)."}}}},
      {"until"});
}

Json WindowActionParams() {
  auto integer = [](int low, int high, const char* what) {
    return Json{{"type", "integer"}, {"minimum", low}, {"maximum", high}, {"description", what}};
  };
  return ObjectSchema(
      {{"window",
        {{"type", "integer"}, {"minimum", 1}, {"description", "A window id from list_windows."}}},
       {"action",
        {{"type", "string"},
         {"enum", {"activate", "raise", "minimize", "maximize", "restore", "close", "move", "resize"}},
         {"description", "What to do with the window."}}},
       {"x", integer(-32768, 32767, "move: the frame's new left edge.")},
       {"y", integer(-32768, 32767, "move: the frame's new top edge.")},
       {"w", integer(1, 32767, "resize: the frame's new width.")},
       {"h", integer(1, 32767, "resize: the frame's new height.")}},
      {"window", "action"});
}

// A batch made by a daemon in exec mode may hold any step.
bool MayMutate(const ToolEntry& tool, bool exec_mode) {
  return tool.needs_exec_mode || (exec_mode && tool.name == "batch");
}

constexpr std::array<ToolEntry, 25> kTools = {{
    {"get_system_info", "System information",
     "Facts about the machine the daemon runs on: operating system name and version, kernel "
     "release, host name, processor architecture and logical processor count, total and used "
     "memory in bytes, and uptime in seconds. Takes no arguments.",
     false, false, false, false, NoParams},
    {"list_processes", "List processes",
     "The processes using the most resident memory, largest first, each with pid, name, "
     "mem_bytes (resident memory) and cpu (percent of one processor over a short sampling "
     "interval; null when unknown). Returns at most `limit` processes (default 25).",
     false, false, false, false, ListProcessesParams},
    {"list_dir", "List directory",
     "Lists one directory, not recursively: name, is_dir and size in bytes of each entry (a "
     "directory's own size, not its contents'; a symbolic link describes itself, so a link to a "
     "directory has is_dir false). Entries are unsorted; '.' and '..' are left out. Paths with "
     "'..' components and sensitive places (keys, credentials, password stores) are refused.",
     false, false, false, false, ListDirParams},
    {"read_file", "Read file",
     "Reads one whole file as text. Bytes that are not valid UTF-8 come back as U+FFFD, so "
     "binary files are not useful here; `bytes` counts the raw bytes read. A file larger than "
     "max_bytes (default 65536) is refused with a message naming its size: ask again with a "
     "larger max_bytes (at most 64 MiB) when you need it. Paths with '..' components and "
     "sensitive places (keys, credentials, password stores) are refused.",
     false, false, false, false, ReadFileParams},
    {"screenshot", "Screenshot",
     "Captures the main display as a PNG image and returns it with its width and height in "
     "pixels and its size in bytes. Takes no arguments. Use ui_tree to find elements by name "
     "and exact bounds; use the screenshot to see what is there.",
     false, false, false, true, NoParams},
    {"ui_tree", "UI element tree",
     "The user-interface elements of the focused window from the accessibility tree, as a flat "
     "list in depth-first order: role, name, value, bounds {x, y, w, h}, enabled, clickable and "
     "depth (0 is the window itself; an element's parent is the nearest earlier element with a "
     "smaller depth). Roles use the macOS names on every system (AXButton, AXTextField, "
     "AXStaticText, AXCheckBox, AXMenuItem, AXWindow, ...). At most 22 levels deep and 220 elements (truncated is true when the cap "
     "was reached). To click an element, click the centre of its bounds (x + w/2, y + h/2). "
     "When no tree can be read (no accessibility access, or no focused window) the result is "
     "instead the list of on-screen windows {app, title, x, y, w, h} with a note saying so. "
     "Takes no arguments.",
     false, false, false, true, NoParams},
    {"ui_snapshot", "UI snapshot with element refs",
     "The user-interface elements of the focused window (or of one window, one application, or "
     "the whole desktop), each with a ref such as s3e12 that ui_action and ui_set_value act on: "
     "take a snapshot, act on an element by its ref, then wait_for the effect (an element, a "
     "window, the screen settling) or take a new snapshot. Use query (text in name, value or description), "
     "roles or interactive_only to find an element in a large window: matches come with their "
     "ancestors, so the caps are spent on what you look for. Each element has ref, parent (a "
     "ref or null), depth, role (macOS names: AXButton, AXTextField, AXCheckBox, ...), name, "
     "value (always null for password fields, role AXSecureTextField), description, bounds "
     "{x, y, w, h}, states (checked, focused, expanded, selected, editable, ...), actions, "
     "clickable, enabled and focused. truncated_by says which cap cut the list (max_elements, "
     "max_depth, deadline); unresponsive lists pids of applications that did not answer. Refs "
     "stay valid for the last 8 snapshots. Bounds are in the coordinate space of screenshot, "
     "ui_tree and input.",
     false, false, false, false, UiSnapshotParams},
    {"clipboard_read", "Read clipboard",
     "The clipboard's text (UTF-8; bytes that are not valid UTF-8 come back as U+FFFD) with "
     "bytes (its length in bytes), truncated (true when the clipboard held more than max_bytes, "
     "default 1 MiB, at most 16 MiB) and types (the formats the clipboard's owner offers). An "
     "empty clipboard gives an empty text and no types; content with no text form (an image) "
     "gives an empty text with its types.",
     false, false, false, false, ClipboardReadParams},
    {"list_windows", "List windows",
     "Every window of the desktop, front to back, minimized ones included: app, title, frame "
     "bounds x, y, w, h (decorations included), id (for window_action and capture), pid, "
     "focused (the active window), minimized and display (the id of the display holding the "
     "window's centre, as in displays). Takes no arguments.",
     false, false, false, true, NoParams},
    {"wait_for", "Wait for the screen",
     "Waits until something happens on the screen instead of sleeping and taking screenshots "
     "again. until settle: the screen (or region) has not changed for stable_ms, e.g. after a "
     "click, before the next screenshot. change: anything in it changes. window / window_gone: "
     "a window whose title holds title appears / no longer exists. element / element_gone: an "
     "element matching query and/or role appears / is gone. Returns met (false when "
     "timeout_ms ran out first: not an error), elapsed_ms and matched (the window or element "
     "found, else null).",
     false, false, false, true, WaitForParams},
    {"batch", "Run several tools in one call",
     "Makes up to 32 tool calls in one request, in order, and stops at the first that fails. "
     "Use it for a mechanical sequence whose steps need no decision in between (focus a field, "
     "type, press a key, take a screenshot). Each step is {method, params} with a tool's name "
     "and arguments; a nested batch is not allowed. Every step is checked before any runs: an "
     "unknown tool, a tool this daemon does not allow or params that are not an object refuse "
     "the whole batch. Returns results [{ok, result or error, ms}] for the steps that ran, "
     "completed (how many succeeded) and failed_at (the index of the failed step, or null).",
     false, false, false, false, BatchParams},
    {"displays", "List displays",
     "The monitors that make up the desktop: for each, id (what capture's display parameter "
     "takes), name, x and y of its top-left corner and width and height, all in the global "
     "points input uses, scale (pixels per point: 1 on X11, 2 on a Retina display or a "
     "Wayland output at scale 2) and primary (the main display, whose top-left corner is the "
     "origin 0,0). Displays left of or above the main one have negative x or y. bounds {x, y, "
     "w, h} is the smallest rectangle holding every display. On a Wayland session of a "
     "wlroots compositor (sway and the like) these are its outputs; there only screenshot, "
     "capture, displays and the input tools work so far (on sway also list_windows and "
     "window_action, with sway's con_id as the window id), and other desktop tools say they "
     "are not supported "
     "on Wayland yet. Takes no arguments.",
     false, false, false, true, NoParams},
    {"capture", "Capture screen area",
     "An image of part of the desktop, scaled down to fit your limits: region {x, y, w, h} in "
     "points, or display (an id from displays), or window (an X window id / CGWindowID), or by "
     "default the main display (then, unscaled, the same PNG as screenshot). On X11 a window "
     "is captured as it shows on screen, so whatever covers it shows too. Give at most one "
     "of region, display and window; an area reaching past the desktop is cut to it. "
     "max_width, max_height and max_pixels shrink the image (aspect kept, never enlarged); "
     "max_bytes (default 8 MiB) shrinks it further until the encoded image fits, and is "
     "refused when even a 1x1 image would not. format png (default, exact pixels) or jpeg "
     "(quality 1-100, default 80; far smaller for photos and busy screens); cursor true draws "
     "the pointer in. Returns width, height, bytes, origin {x, y} and scale. To act on what you "
     "see, turn an image pixel (px, py) into the point (origin.x + px / scale, origin.y + py / "
     "scale) and pass that to input: a capture with scale 0.5 shows each point as half a pixel. "
     "Zoom in on small text by capturing a small region without limits.",
     false, false, false, true, CaptureParams},
    {"cursor", "Pointer position",
     "Where the mouse pointer is now (x, y), the id of the display it is on (null when it is "
     "on none), and the buttons and keys the daemon is holding down (a button pressed with "
     "pointer op down, with its modifiers). Takes no arguments.",
     false, false, false, true, NoParams},
    {"write_file", "Write file",
     "Creates a file or replaces its whole content with the given text (UTF-8). There is no "
     "append: read the file first to change part of it. Parent directories are not created. "
     "Sensitive places, '..' components and protected locations (system directories, the "
     "daemon's audit log) are refused. Available only when the daemon runs with --allow-exec.",
     true, true, true, false, WriteFileParams},
    {"run_command", "Run shell command",
     "Runs one shell command line (sh -c) in the daemon's working directory and environment, "
     "with empty standard input, and returns exit_code (null when a signal ended the command), "
     "stdout and stderr. Nothing interactive: a command that waits for input sees end of file. "
     "The command and everything it started are killed when timeout_secs runs out (default 15, "
     "at most 120) or when an output stream passes 32 MiB; prefer narrow commands (one folder, "
     "an indexed search such as locate, find with -maxdepth) over broad slow ones. A command "
     "line that contains an entry of the daemon's fixed denylist anywhere (letter case "
     "ignored, quoted or not) is refused; the entries include `rm -rf /`, `mkfs`, `dd if=`, "
     "`shutdown` and `reboot`. Available only when the daemon runs with --allow-exec.",
     true, true, false, false, RunCommandParams},
    {"kill_process", "Kill process",
     "Ends one process at once with SIGKILL: it gets no chance to save or clean up. Returns "
     "killed (whether the signal was delivered; false without permission) and pid. A pid that "
     "no running process has is refused. Available only when the daemon runs with "
     "--allow-exec.",
     true, true, false, false, KillProcessParams},
    {"input", "Mouse and keyboard input",
     "Performs one mouse or keyboard action on the desktop. action move: pointer to (x, y). "
     "click: optional move to (x, y), then one click of button (default left). double_click: "
     "optional move, then two left clicks. scroll: dy wheel lines (positive up) and dx wheel "
     "lines (positive right). type: enters text literally. key: presses and releases one key "
     "given by name (return, tab, escape, backspace, delete, space, up, down, left, right, "
     "home, end, pageup, pagedown, shift, control, alt, meta, capslock, f1 to f12) or a single "
     "character. Key combinations are not available. Actions run one at a time in call order. "
     "Available only when the daemon runs with --allow-exec.",
     true, true, false, true, InputParams},
    {"window_action", "Act on a window",
     "Asks the window manager to activate (bring to the front with the keyboard focus), raise, "
     "minimize, maximize, restore, close (as its close button does: the application may ask "
     "to save first), move (x, y: the frame's new top-left corner) or resize (w, h: the "
     "frame's new size) one window, given by its id from list_windows. Returns verified "
     "(whether the effect was seen within 1 s) and bounds (the frame afterwards, null once "
     "the window is gone). Available only when the daemon runs with --allow-exec.",
     true, true, false, true, WindowActionParams},
    {"key_combo", "Key combination",
     "Presses a key combination (a keyboard shortcut) such as \"ctrl+s\", \"ctrl+shift+t\", "
     "\"alt+Tab\" or \"ctrl+c\": the keys go down in the order given and up in reverse. "
     "Names: return, tab, escape (esc), backspace, delete (del), space, up, down, left, right, "
     "home, end, page_up (pgup), page_down (pgdn), shift, ctrl (control), alt (option), meta "
     "(win, super, cmd), caps_lock, f1 to f24, insert, print_screen, menu, pause, num_lock, "
     "scroll_lock, kp_0 to kp_9, kp_enter, kp_plus, kp_minus, kp_multiply, kp_divide, "
     "kp_decimal, or one character (the key that types it in the current layout; an upper-case "
     "letter or a shifted symbol adds Shift). Returns the keys as resolved. Use repeat for "
     "several presses (\"down\" 5 times) and hold_ms to hold the keys. Available only when the "
     "daemon runs with --allow-exec.",
     true, true, false, false, KeyComboParams},
    {"pointer", "Pointer",
     "One pointer primitive, returning where the pointer is afterwards. op move: pointer to "
     "(x, y). click: optional move, then count clicks (3 selects a line in most text views). "
     "down / up: press or release button, for drags across several calls; a button left down "
     "is released by up, by any failing call, after 30 s without a call, and when the daemon "
     "stops. scroll: dy / dx wheel lines. modifiers are held during the op (shift-click "
     "extends a selection, ctrl-click adds to it). Available only when the daemon runs with "
     "--allow-exec.",
     true, true, false, true, PointerParams},
    {"drag", "Drag",
     "Drags along a path: presses button at the first point, moves through every point in "
     "evenly spaced steps over duration_ms, releases at the last point. Use it for sliders, "
     "scroll bars, moving files or windows, and selecting text. The button is released "
     "whatever happens. Returns from, to and events (pointer events posted). Available only "
     "when the daemon runs with --allow-exec.",
     true, true, false, true, DragParams},
    {"clipboard_write", "Write clipboard",
     "Replaces the clipboard's content with the given text (at most 16 MiB), ready to paste "
     "with the paste shortcut in any application. Returns bytes, the text's length in bytes. "
     "The text stays on the clipboard until something else is copied or the daemon exits. "
     "Available only when the daemon runs with --allow-exec.",
     true, true, true, false, ClipboardWriteParams},
    {"ui_action", "Act on a UI element",
     "Acts on an element by its ref from ui_snapshot through the accessibility interface, "
     "without moving the pointer: press (a button, menu item, link), toggle (a check box or "
     "switch), focus, expand, collapse, select (in a list or tab bar), show_menu, "
     "scroll_into_view, or one of the element's own action names. Returns the element's states "
     "and value afterwards, and effect: confirmed when they changed as the action implies, else "
     "unverified (a press whose effect shows elsewhere stays unverified: take a new snapshot). "
     "Fails with not supported (listing the element's actions), stale ref (take a new "
     "snapshot) or gone (the element no longer exists). Available only when the daemon runs "
     "with --allow-exec.",
     true, true, false, false, UiActionParams},
    {"ui_set_value", "Set a UI element's value",
     "Replaces the whole text of an editable element (or sets a slider's or spin button's "
     "number) by its ref from ui_snapshot, and returns the value read back with effect "
     "confirmed when it reads as asked. Password fields are refused. Available only when the "
     "daemon runs with --allow-exec.",
     true, true, true, false, UiSetValueParams},
}};

}  // namespace

std::span<const ToolEntry> ToolCatalogue() { return kTools; }

const ToolEntry* FindTool(std::string_view name) {
  for (const ToolEntry& tool : kTools) {
    if (tool.name == name) return &tool;
  }
  return nullptr;
}

Json ToolDefinitions(bool exec_mode, bool with_titles) {
  Json tools = Json::array();
  for (const ToolEntry& tool : kTools) {
    if (tool.needs_exec_mode && !exec_mode) continue;
    std::string description(tool.description);
    if (tool.coordinates) description += kCoordinateNote;
    const bool may_mutate = MayMutate(tool, exec_mode);
    Json annotations = {{"title", tool.title},
                        {"readOnlyHint", !may_mutate},
                        {"openWorldHint", false}};
    if (may_mutate) {
      annotations["destructiveHint"] = tool.destructive || !tool.needs_exec_mode;
      annotations["idempotentHint"] = tool.idempotent;
    }
    Json definition = {{"name", tool.name},
                       {"description", std::move(description)},
                       {"inputSchema", tool.input_schema()},
                       {"annotations", std::move(annotations)}};
    if (with_titles) definition["title"] = tool.title;
    tools.push_back(std::move(definition));
  }
  return tools;
}

}  // namespace tarvix::mcp
