// The smaller macOS adapters under the fakes: displays, the pointer's
// place, screen damage by frame comparison, screencapture and sips runs,
// process exit through kqueue, the per-user temporary directory, the
// allocator, a descriptor's path, and the clipboard.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "fake_test.h"
#include "platform/allocator.h"
#include "platform/clipboard.h"
#include "platform/displays.h"
#include "platform/pointer_location.h"
#include "platform/process_exit.h"
#include "platform/real_path.h"
#include "platform/screen_capture.h"
#include "platform/screen_damage.h"
#include "platform/temp_dir.h"

namespace tarvix {
namespace {

using ::testing::ElementsAre;

macfake::Display Screen(CGDirectDisplayID id, CGRect bounds, bool main, size_t points,
                        size_t pixels) {
  return {.id = id, .bounds = bounds, .main = main, .builtin = main, .mode_points_wide = points,
          .mode_pixels_wide = pixels};
}

class MacSystemTest : public MacFakeTest {};

TEST_F(MacSystemTest, DisplaysAndPointer) {
  macfake::Displays() = {Screen(69734208, {{0, 0}, {1440, 900}}, true, 1440, 2880),
                         Screen(5, {{-1920.5, -200}, {1919.6, 1080}}, false, 0, 0),
                         Screen(6, {{1440, 0}, {800, 600}}, false, 800, 0)};
  const Result<std::vector<DisplayInfo>> displays = ListDisplays();
  ASSERT_TRUE(displays);
  std::vector<std::string> rows;
  for (const DisplayInfo& d : *displays) {
    rows.push_back(std::to_string(d.id) + " " + d.name + " " + std::to_string(d.x) + "," +
                   std::to_string(d.y) + " " + std::to_string(d.width) + "x" +
                   std::to_string(d.height) + " @" + std::to_string(d.scale) +
                   (d.primary ? " primary" : ""));
  }
  EXPECT_THAT(rows, ElementsAre("69734208 Built-in Display 0,0 1440x900 @2.000000 primary",
                                "5 Display 5 -1921,-200 1920x1080 @1.000000",
                                "6 Display 6 1440,0 800x600 @1.000000"));

  // Cocoa's y grows upwards from the main display's bottom edge.
  macfake::Pointer().cocoa_x = 1500.7;
  macfake::Pointer().cocoa_y = 800;
  Result<PointerLocation> at = LocatePointer();
  ASSERT_TRUE(at);
  EXPECT_EQ(at->x, 1500);
  EXPECT_EQ(at->y, 100);
  EXPECT_EQ(at->display, 6);
  macfake::Pointer().cocoa_y = 10000;
  EXPECT_EQ(LocatePointer()->display, std::nullopt);

  macfake::FailDisplayList(true);
  EXPECT_EQ(ListDisplays().error(), "unavailable: CGGetActiveDisplayList failed");
}

TEST_F(MacSystemTest, ScreenDamageComparesFramesInTiles) {
  // A Retina display: 200 x 100 pixels for 100 x 50 points.
  macfake::Display display = Screen(1, {{0, 0}, {100, 50}}, true, 100, 200);
  display.frame = std::vector<uint8_t>(200 * 100 * 4, 0);
  display.frame_width = 200;
  display.frame_height = 100;
  macfake::Displays() = {display};
  Result<std::unique_ptr<ScreenDamageWatch>> watch = WatchScreenDamage();
  ASSERT_TRUE(watch);
  const auto soon = [] { return std::chrono::steady_clock::now() + std::chrono::seconds(5); };
  // A pixel in the second tile row and fourth column (x 192..199, y 64..99).
  (*macfake::Displays()[0].frame)[(70 * 200 + 195) * 4] = 255;
  Result<std::vector<PointRect>> changes = (*watch)->Next(soon());
  ASSERT_TRUE(changes);
  ASSERT_EQ(changes->size(), 1u);
  EXPECT_EQ((*changes)[0].x, 96);
  EXPECT_EQ((*changes)[0].y, 32);
  EXPECT_EQ((*changes)[0].w, 5);
  EXPECT_EQ((*changes)[0].h, 19);
  // Nothing changes by the deadline: no changes.
  changes = (*watch)->Next(std::chrono::steady_clock::now() + std::chrono::milliseconds(150));
  ASSERT_TRUE(changes);
  EXPECT_TRUE(changes->empty());
  // Another frame size (a mode change) differs everywhere.
  macfake::Displays()[0].frame_width = 100;
  macfake::Displays()[0].frame->resize(100 * 100 * 4);
  changes = (*watch)->Next(soon());
  ASSERT_TRUE(changes);
  ASSERT_EQ(changes->size(), 1u);
  EXPECT_EQ((*changes)[0].w, 51);
  // Screen recording taken away.
  macfake::Displays()[0].frame.reset();
  const char kNoFrame[] =
      "unavailable: the screen could not be captured - grant Tarvix 'Screen Recording' in System "
      "Settings > Privacy & Security";
  EXPECT_EQ((*watch)->Next(soon()).error(), kNoFrame);
  EXPECT_EQ(WatchScreenDamage().error(), kNoFrame);
}

// A PNG's signature and IHDR chunk, which is all the adapter reads.
std::string PngOf(uint32_t width, uint32_t height) {
  std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  for (const uint32_t v : {width, height}) {
    for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>(v >> shift & 0xFF);
  }
  return png + "rest";
}

class MacCaptureTest : public MacSystemTest {
 protected:
  void SetUp() override {
    MacSystemTest::SetUp();
    dir_ = std::filesystem::temp_directory_path() /
           ("tarvix-macfakes-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    setenv("TMPDIR", dir_.c_str(), 1);
    macfake::Displays() = {Screen(1, {{0, 0}, {1440, 900}}, true, 1440, 2880)};
  }
  void TearDown() override {
    // Nothing is left behind in the temporary directory.
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
    std::filesystem::remove_all(dir_);
    unsetenv("TMPDIR");
    MacSystemTest::TearDown();
  }
  std::filesystem::path dir_;
  MemoryBudget budget_{1 << 20};
  MemoryBudget::Grant grant_;
};

TEST_F(MacCaptureTest, ScreencaptureArguments) {
  const std::string shot = dir_.string() + "/tarvix-agentd-shot.png";
  struct Case {
    CaptureArea area;
    std::vector<std::string> args;
    int64_t x, y;
    double scale;
  };
  const Case cases[] = {
      {{.main_display = true},
       {"/usr/sbin/screencapture", "-x", "-t", "png", shot}, 0, 0, 2},
      {{.x = 10, .y = -20, .width = 300, .height = 200, .cursor = true},
       {"/usr/sbin/screencapture", "-x", "-t", "png", "-C", "-R10,-20,300,200", shot}, 10, -20,
       2880.0 / 300},
      {{.x = 5, .y = 6, .width = 720, .height = 450, .window = 4242},
       {"/usr/sbin/screencapture", "-x", "-t", "png", "-o", "-l", "4242", shot}, 5, 6, 4},
  };
  macfake::SetProgramResult(PngOf(2880, 1800), 0);
  for (const Case& c : cases) {
    Result<std::unique_ptr<ScreenImage>> image = GrabScreenArea(c.area, budget_, grant_);
    ASSERT_TRUE(image) << image.error();
    EXPECT_EQ(macfake::SpawnedPrograms().back(), c.args);
    EXPECT_EQ((*image)->width(), 2880u);
    EXPECT_EQ((*image)->height(), 1800u);
    EXPECT_EQ((*image)->origin_x(), c.x);
    EXPECT_EQ((*image)->origin_y(), c.y);
    EXPECT_DOUBLE_EQ((*image)->scale(), c.scale);
  }
  Result<std::string> png = CaptureMainDisplayPng(budget_, grant_);
  ASSERT_TRUE(png);
  EXPECT_EQ(*png, PngOf(2880, 1800));
  EXPECT_EQ(macfake::SpawnedPrograms().back(), cases[0].args);
}

TEST_F(MacCaptureTest, OtherSizesAndJpegGoThroughSips) {
  macfake::SetProgramResult(PngOf(400, 300), 0);
  Result<std::unique_ptr<ScreenImage>> image =
      GrabScreenArea({.x = 0, .y = 0, .width = 400, .height = 300}, budget_, grant_);
  ASSERT_TRUE(image);
  const size_t spawned = macfake::SpawnedPrograms().size();
  // The grab's own size as PNG: the grabbed bytes, no program.
  EXPECT_EQ(*(*image)->Encode({.width = 400, .height = 300}), PngOf(400, 300));
  EXPECT_EQ(macfake::SpawnedPrograms().size(), spawned);

  const std::string in = dir_.string() + "/tarvix-agentd-shot.png";
  macfake::SetProgramResult("JPEG bytes", 0);
  EXPECT_EQ(*(*image)->Encode({.width = 200, .height = 150, .format = ImageFormat::kJpeg,
                               .quality = 70}),
            "JPEG bytes");
  EXPECT_EQ(macfake::SpawnedPrograms().back(),
            (std::vector<std::string>{"/usr/bin/sips", "-s", "format", "jpeg", "-s",
                                      "formatOptions", "70", "-z", "150", "200", in, "--out",
                                      in + ".out.jpg"}));
  macfake::SetProgramResult("small PNG", 0);
  EXPECT_EQ(*(*image)->Encode({.width = 100, .height = 75}), "small PNG");
  EXPECT_EQ(macfake::SpawnedPrograms().back(),
            (std::vector<std::string>{"/usr/bin/sips", "-s", "format", "png", "-z", "75", "100",
                                      in, "--out", in + ".out.png"}));
  macfake::SetProgramResult("", 1);
  EXPECT_EQ((*image)->Encode({.width = 100, .height = 75}).error(),
            "sips failed to scale the capture");
}

TEST_F(MacCaptureTest, RefusedCapture) {
  macfake::SetProgramResult("", 1);
  const char kRefused[] =
      "screencapture failed - grant Tarvix 'Screen Recording' in System Settings > Privacy & "
      "Security";
  EXPECT_EQ(CaptureMainDisplayPng(budget_, grant_).error(), kRefused);
  EXPECT_EQ(GrabScreenArea({.main_display = true}, budget_, grant_).error(), kRefused);
}

TEST_F(MacSystemTest, ProcessExitThroughKqueue) {
  macfake::Processes()[300] = {};
  std::unique_ptr<ProcessExitWatch> watch = ProcessExitWatch::Create(300);
  ASSERT_NE(watch, nullptr);
  EXPECT_FALSE(watch->WaitForExit(std::chrono::milliseconds(10)));
  macfake::EndProcess(300);
  EXPECT_TRUE(watch->WaitForExit(std::chrono::milliseconds(10)));
  EXPECT_TRUE(watch->WaitForExit(std::chrono::milliseconds(10)));  // stays ended
  // Gone already, or no process id at all: nothing to watch.
  EXPECT_EQ(ProcessExitWatch::Create(300), nullptr);
  EXPECT_EQ(ProcessExitWatch::Create(301), nullptr);
  EXPECT_EQ(ProcessExitWatch::Create(0), nullptr);
  watch.reset();  // its kqueue is closed (checked at the test's end)
}

TEST_F(MacSystemTest, TempDirAllocatorAndPaths) {
  EXPECT_EQ(PerUserTempDir(), std::nullopt);
  macfake::SetUserTempDir("/var/folders/zz/abc/T/");
  EXPECT_EQ(PerUserTempDir(), "/var/folders/zz/abc/T/");

  TuneAllocator();
  TrimAllocator();
  EXPECT_EQ(macfake::PressureReliefCalls(), 1);

  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("tarvix-path-" + std::to_string(getpid()));
  const int fd = open(file.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  // Renamed after opening: the path is the file's, not the name opened.
  const std::filesystem::path moved = file.string() + "-moved";
  std::filesystem::rename(file, moved);
  EXPECT_EQ(*RealPathOfDescriptor(fd), moved.string());
  close(fd);
  std::filesystem::remove(moved);
  EXPECT_FALSE(RealPathOfDescriptor(fd));
}

TEST_F(MacSystemTest, ClipboardReadsAndOwnsThePasteboard) {
  struct Case {
    const char* name;
    std::vector<std::string> types;
    std::optional<std::string> text;
    size_t max_bytes;
    std::string want_text;
    bool want_truncated;
  };
  const std::vector<Case> cases = {
      {"nothing owns it", {}, std::nullopt, 100, "", false},
      {"an image only", {"public.png", "public.tiff"}, std::nullopt, 100, "", false},
      {"text within the limit", {"public.utf8-plain-text"}, "h\xc3\xa9llo", 6, "h\xc3\xa9llo", false},
      {"text over the limit", {"public.utf8-plain-text"}, "h\xc3\xa9llo", 2, "h\xc3", true},
      {"an empty text", {"public.utf8-plain-text"}, "", 0, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    macfake::GeneralPasteboard() = {.types = c.types, .text = c.text};
    const Result<ClipboardText> read = ReadClipboard(c.max_bytes);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->text, c.want_text);
    EXPECT_EQ(read->truncated, c.want_truncated);
    EXPECT_EQ(read->types, c.types);
  }

  // Owning the clipboard replaces whatever was offered before.
  macfake::GeneralPasteboard() = {.types = {"public.png"}};
  ASSERT_TRUE(WriteClipboard(std::string("caf\xc3\xa9\0x", 7)));
  const Result<ClipboardText> read = ReadClipboard(kMaxClipboardBytes);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->text, std::string("caf\xc3\xa9\0x", 7));
  EXPECT_THAT(read->types, ElementsAre("public.utf8-plain-text"));

  macfake::GeneralPasteboard().refuse_writes = true;
  const Result<void> refused = WriteClipboard("x");
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), "unavailable: the pasteboard refused the text");
}

}  // namespace
}  // namespace tarvix
