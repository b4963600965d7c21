// The Quartz events the macOS input backend posts for each operation, in
// posting order, under a US and a German keyboard layout.
#include <functional>

#include "fake_test.h"
#include "platform/input_backend.h"

namespace tarvix {
namespace {

using ::testing::ElementsAreArray;

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00) c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c == 0x200B) {
      out += "<zwsp>";
    } else if (c < 0x20) {
      out += "<" + std::to_string(static_cast<int>(c)) + ">";
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      out += "U+" + std::to_string(static_cast<uint32_t>(c));
    }
  }
  return out;
}

// One line per event: its type, then what it carries.
std::string Describe(const macfake::PostedEvent& e) {
  static const std::map<uint32_t, std::string> kNames = {
      {1, "left-down"},  {2, "left-up"},       {3, "right-down"},     {4, "right-up"},
      {5, "moved"},      {6, "left-dragged"},  {7, "right-dragged"},  {25, "other-down"},
      {26, "other-up"},  {10, "key-down"},     {11, "key-up"},        {22, "scroll"}};
  std::string line = kNames.at(e.type);
  if (e.type == macfake::kKeyDown || e.type == macfake::kKeyUp) {
    line += " " + std::to_string(e.key_code);
  } else if (e.type == macfake::kScrollWheel) {
    line += (e.scroll_unit == kCGScrollEventUnitLine ? " lines " : " pixels ") +
            std::to_string(e.wheel_count) + ": " + std::to_string(e.wheels[0]) + "," +
            std::to_string(e.wheels[1]) + "," + std::to_string(e.wheels[2]);
  } else {
    line += " " + std::to_string(static_cast<int>(e.x)) + "," + std::to_string(static_cast<int>(e.y)) +
            " b" + std::to_string(e.button);
  }
  for (const auto& [field, value] : e.fields) {
    if (field == kCGMouseEventClickState) line += " click=" + std::to_string(value);
    if (field == kCGMouseEventDeltaX) line += " dx=" + std::to_string(value);
    if (field == kCGMouseEventDeltaY) line += " dy=" + std::to_string(value);
  }
  if (e.flags & kCGEventFlagMaskShift) line += " shift";
  if (e.flags & kCGEventFlagMaskControl) line += " ctrl";
  if (e.flags & kCGEventFlagMaskAlternate) line += " alt";
  if (e.flags & kCGEventFlagMaskCommand) line += " cmd";
  if (!e.text.empty()) line += " \"" + Utf8(e.text) + "\"";
  return line;
}

Key Char(char32_t c) { return Key{true, NamedKey::kReturn, c}; }
Key Named(NamedKey k) { return Key{false, k, 0}; }

class MacInputBackendTest : public MacFakeTest {
 protected:
  void SetUp() override {
    MacFakeTest::SetUp();
    macfake::SetMainDisplayHeight(900);
    macfake::Pointer().cocoa_x = 10;
    macfake::Pointer().cocoa_y = 890;  // (10, 10) from the top left
  }
};

TEST_F(MacInputBackendTest, OperationsPostTheirEvents) {
  using Ops = std::function<void(InputBackend&)>;
  struct Case {
    const char* name;
    macfake::Layout layout;
    Ops ops;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"a capital letter: its key with the Shift flag", macfake::Layout::kUsAnsi,
       [](InputBackend& b) { ASSERT_TRUE(b.ClickKey(Char('A'))); },
       {"key-down 0 shift", "key-up 0 shift"}},
      {"a character no key has: code 0 carrying it", macfake::Layout::kUsAnsi,
       [](InputBackend& b) { ASSERT_TRUE(b.ClickKey(Char(U'\u00e9'))); },
       {"key-down 0 \"\u00e9\"", "key-up 0 \"\u00e9\""}},
      {"the layout decides: German z, \u00dc, the accent keys on their own, and \u00e9, "
       "which only a dead key sequence types",
       macfake::Layout::kGerman,
       [](InputBackend& b) {
         ASSERT_TRUE(b.ClickKey(Char('z')));
         ASSERT_TRUE(b.ClickKey(Char(U'\u00dc')));
         ASSERT_TRUE(b.ClickKey(Char(U'\u00b4')));
         ASSERT_TRUE(b.ClickKey(Char('`')));
         ASSERT_TRUE(b.ClickKey(Char(U'\u00e9')));
       },
       {"key-down 16", "key-up 16", "key-down 33 shift", "key-up 33 shift", "key-down 24",
        "key-up 24", "key-down 24 shift", "key-up 24 shift", "key-down 0 \"\u00e9\"",
        "key-up 0 \"\u00e9\""}},
      {"no layout at all: every character as text", macfake::Layout::kNone,
       [](InputBackend& b) { ASSERT_TRUE(b.ClickKey(Char('a'))); },
       {"key-down 0 \"a\"", "key-up 0 \"a\""}},
      {"named keys; a character 0 posts nothing", macfake::Layout::kUsAnsi,
       [](InputBackend& b) {
         ASSERT_TRUE(b.ClickKey(Named(NamedKey::kReturn)));
         ASSERT_TRUE(b.ClickKey(Char(0)));
         ASSERT_TRUE(b.ClickKey(Named(NamedKey::kF12)));
       },
       {"key-down 36", "key-up 36", "key-down 111", "key-up 111"}},
      {"a double click: click states 1 then 2 at the pointer", macfake::Layout::kUsAnsi,
       [](InputBackend& b) {
         ASSERT_TRUE(b.ClickButton(MouseButton::kLeft, 1));
         ASSERT_TRUE(b.ClickButton(MouseButton::kLeft, 2));
       },
       {"left-down 10,10 b0 click=1", "left-up 10,10 b0 click=1", "left-down 10,10 b0 click=2",
        "left-up 10,10 b0 click=2"}},
      {"right and middle clicks", macfake::Layout::kUsAnsi,
       [](InputBackend& b) {
         ASSERT_TRUE(b.ClickButton(MouseButton::kRight, 1));
         ASSERT_TRUE(b.ClickButton(MouseButton::kMiddle, 1));
       },
       {"right-down 10,10 b1 click=1", "right-up 10,10 b1 click=1", "other-down 10,10 b2 click=1",
        "other-up 10,10 b2 click=1"}},
      {"a move carries how far it goes", macfake::Layout::kUsAnsi,
       [](InputBackend& b) { ASSERT_TRUE(b.MovePointer(110, 5)); },
       {"moved 110,5 b0 dx=100 dy=-5"}},
      {"a drag: dragged events while the button is held, released where it ends",
       macfake::Layout::kUsAnsi,
       [](InputBackend& b) {
         ASSERT_TRUE(b.PressButton(MouseButton::kLeft));
         ASSERT_TRUE(b.PressButton(MouseButton::kLeft));  // already down: nothing
         ASSERT_TRUE(b.MovePointer(50, 60));
         ASSERT_TRUE(b.MovePointer(90, 60));
         ASSERT_TRUE(b.ReleaseButton(MouseButton::kLeft));
         ASSERT_TRUE(b.ReleaseButton(MouseButton::kLeft));  // already up: nothing
       },
       {"left-down 10,10 b0 click=1", "left-dragged 50,60 b0 dx=40 dy=50",
        "left-dragged 90,60 b0 dx=40 dy=0", "left-up 90,60 b0 click=1"}},
      {"a right-button drag", macfake::Layout::kUsAnsi,
       [](InputBackend& b) {
         ASSERT_TRUE(b.PressButton(MouseButton::kRight));
         ASSERT_TRUE(b.MovePointer(20, 10));
         ASSERT_TRUE(b.ReleaseButton(MouseButton::kRight));
       },
       {"right-down 10,10 b1 click=1", "right-dragged 20,10 b1 dx=10 dy=0",
        "right-up 20,10 b1 click=1"}},
      {"a chord: every event carries the held modifiers, released in reverse",
       macfake::Layout::kUsAnsi,
       [](InputBackend& b) {
         ASSERT_TRUE(b.PressKey(Named(NamedKey::kMeta)));
         ASSERT_TRUE(b.PressKey(Named(NamedKey::kAlt)));
         ASSERT_TRUE(b.PressKey(Char('q')));
         ASSERT_TRUE(b.ReleaseKey(Char('q')));
         ASSERT_TRUE(b.ReleaseKey(Named(NamedKey::kAlt)));
         ASSERT_TRUE(b.ReleaseKey(Named(NamedKey::kMeta)));
       },
       {"key-down 55 cmd", "key-down 58 alt cmd", "key-down 12 alt cmd", "key-up 12 alt cmd",
        "key-up 58 cmd", "key-up 55"}},
      {"a held Shift pressed twice goes up with its last release; a click while "
       "held carries it",
       macfake::Layout::kUsAnsi,
       [](InputBackend& b) {
         ASSERT_TRUE(b.PressKey(Named(NamedKey::kShift)));
         ASSERT_TRUE(b.PressKey(Named(NamedKey::kShift)));
         ASSERT_TRUE(b.ClickButton(MouseButton::kLeft, 1));
         ASSERT_TRUE(b.ReleaseKey(Named(NamedKey::kShift)));
         ASSERT_TRUE(b.ReleaseKey(Named(NamedKey::kShift)));
         ASSERT_TRUE(b.ReleaseKey(Named(NamedKey::kShift)));  // up already: nothing
       },
       {"key-down 56 shift", "key-down 56 shift", "left-down 10,10 b0 click=1 shift",
        "left-up 10,10 b0 click=1 shift", "key-up 56"}},
      {"chord keys Apple keyboards lack fail", macfake::Layout::kUsAnsi,
       [](InputBackend& b) {
         EXPECT_EQ(b.PressKey(Named(NamedKey::kF24)).error(),
                   "simulating input failed: (the key does not exist on macOS)");
       },
       {}},
      {"scrolling in lines, down and right positive", macfake::Layout::kUsAnsi,
       [](InputBackend& b) {
         ASSERT_TRUE(b.Scroll(3, ScrollAxis::kVertical));
         ASSERT_TRUE(b.Scroll(-2, ScrollAxis::kHorizontal));
       },
       {"scroll lines 1: -3,0,0", "scroll lines 2: 0,2,0"}},
      {"text: pieces on code 0; a Tab key click or a line break after a zero width space "
       "where a piece starts",
       macfake::Layout::kUsAnsi,
       [](InputBackend& b) {
         ASSERT_TRUE(b.EnterText("\tab\xC3\xA9\n\xF0\x9F\x98\x80"));
         ASSERT_TRUE(b.EnterText(""));
       },
       {"key-down 48", "key-up 48", "key-down 0 \"ab\u00e9<10>U+128512\""}},
      {"text of 45 characters: three pieces", macfake::Layout::kUsAnsi,
       [](InputBackend& b) {
         ASSERT_TRUE(b.EnterText(std::string(20, 'x') + "\r" + std::string(19, 'y') + "zzzzz"));
       },
       {"key-down 0 \"xxxxxxxxxxxxxxxxxxxx\"", "key-down 0 \"<zwsp><13>\"",
        "key-down 0 \"yyyyyyyyyyyyyyyyyyy\"", "key-down 0 \"zzzzz\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    macfake::Reset();
    SetUp();
    macfake::UseLayout(c.layout);
    {
      Result<std::unique_ptr<InputBackend>> backend = OpenInputBackend();
      ASSERT_TRUE(backend);
      c.ops(**backend);
    }
    std::vector<std::string> events;
    for (const macfake::PostedEvent& e : macfake::PostedEvents()) {
      events.push_back(Describe(e));
      // Every event is posted at the HID tap with the daemon's marker.
      EXPECT_EQ(e.tap, kCGHIDEventTap);
      EXPECT_EQ(e.fields.at(kCGEventSourceUserData), 100);
    }
    EXPECT_THAT(events, ElementsAreArray(c.events));
    EXPECT_THAT(macfake::CfFaults(), ::testing::IsEmpty());
  }
}

// Closing the backend lets go of what is still held: keys in reverse
// order of pressing, then the buttons.
TEST_F(MacInputBackendTest, ClosingReleasesWhatIsHeld) {
  {
    Result<std::unique_ptr<InputBackend>> backend = OpenInputBackend();
    ASSERT_TRUE(backend);
    ASSERT_TRUE((*backend)->PressKey(Named(NamedKey::kControl)));
    ASSERT_TRUE((*backend)->PressKey(Char('c')));
    ASSERT_TRUE((*backend)->PressButton(MouseButton::kRight));
  }
  std::vector<std::string> events;
  for (const macfake::PostedEvent& e : macfake::PostedEvents()) events.push_back(Describe(e));
  EXPECT_THAT(events, ::testing::ElementsAre("key-down 59 ctrl", "key-down 8 ctrl",
                                             "right-down 10,10 b1 click=1 ctrl", "key-up 8 ctrl",
                                             "key-up 59", "right-up 10,10 b1 click=1"));
  EXPECT_EQ(macfake::Pointer().pressed_buttons, 0u);
}

TEST_F(MacInputBackendTest, PointerAndClickTiming) {
  struct Case {
    double interval_seconds;
    std::chrono::milliseconds expected;
  };
  for (const Case& c : {Case{0.25, std::chrono::milliseconds(250)},
                        Case{-1, std::chrono::milliseconds(500)},
                        Case{61, std::chrono::milliseconds(500)},
                        Case{std::nan(""), std::chrono::milliseconds(500)}}) {
    macfake::Pointer().double_click_interval = c.interval_seconds;
    Result<std::unique_ptr<InputBackend>> backend = OpenInputBackend();
    ASSERT_TRUE(backend);
    EXPECT_EQ((*backend)->click_timing().double_click_interval, c.expected);
    EXPECT_FALSE((*backend)->click_timing().counted_by_receiver);
    EXPECT_EQ((*backend)->QueryPointer(), (PointerPoint{10, 10}));
  }
}

TEST_F(MacInputBackendTest, FailuresAreReported) {
  macfake::FailEventSource(true);
  EXPECT_EQ(OpenInputBackend().error(),
            "no connection could be established: (failed creating event source)");
  macfake::FailEventSource(false);
  Result<std::unique_ptr<InputBackend>> backend = OpenInputBackend();
  ASSERT_TRUE(backend);
  InputBackend& b = **backend;
  macfake::FailEventCreation(true);
  const std::string prefix = "simulating input failed: (failed creating event to ";
  EXPECT_EQ(b.MovePointer(1, 1).error(), prefix + "move the mouse)");
  EXPECT_EQ(b.ClickButton(MouseButton::kLeft, 1).error(), prefix + "enter mouse button)");
  EXPECT_EQ(b.PressButton(MouseButton::kLeft).error(), prefix + "press mouse button)");
  EXPECT_EQ(b.Scroll(1, ScrollAxis::kVertical).error(), prefix + "scroll)");
  EXPECT_EQ(b.ClickKey(Char('a')).error(), prefix + "press the key)");
  EXPECT_EQ(b.EnterText("a").error(), prefix + "enter the text)");
  EXPECT_EQ(b.EnterText("\t").error(), prefix + "press the key)");
  EXPECT_EQ(b.PressKey(Char('a')).error(), prefix + "press the key)");
  EXPECT_EQ(b.ReleaseKey(Char('a')).error(), prefix + "release the key)");
  EXPECT_TRUE(macfake::PostedEvents().empty());
}

}  // namespace
}  // namespace tarvix
