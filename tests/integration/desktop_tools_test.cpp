// Screenshot and window list through the real binary against private X
// servers: pixels against an independent capture (xwd) at 24 and 16 bits,
// windows against what the test opened (xwininfo for frames), resources
// after many calls, and a server that goes away and comes back.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/x_session.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;

// RGB bytes of a PNG, decoded by ImageMagick.
std::string PngToRgb(const XSession& x, const std::string& png) {
  char path[] = "/tmp/tarvix-shot-XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, png.data(), png.size()), static_cast<ssize_t>(png.size()));
  close(fd);
  std::string rgb = x.Run(std::string("/usr/bin/convert png:") + path + " -depth 8 rgb:-");
  unlink(path);
  return rgb;
}

uint32_t Be32(const std::string& s, size_t at) {
  return uint32_t{static_cast<uint8_t>(s[at])} << 24 | uint32_t{static_cast<uint8_t>(s[at + 1])} << 16 |
         uint32_t{static_cast<uint8_t>(s[at + 2])} << 8 | static_cast<uint8_t>(s[at + 3]);
}

uint8_t Widen(uint32_t pixel, uint32_t mask) {
  const int shift = __builtin_ctz(mask);
  const int width = __builtin_popcount(mask);
  const uint32_t v = (pixel & mask) >> shift;
  if (width >= 8) return static_cast<uint8_t>(v >> (width - 8));
  uint32_t out = 0;
  for (int pos = 8 - width; pos > -width; pos -= width) out |= pos >= 0 ? v << pos : v >> -pos;
  return static_cast<uint8_t>(out);
}

// The root window as `xwd` sees it, in RGB bytes; width and height out.
std::string XwdRootRgb(const XSession& x, uint32_t* width, uint32_t* height) {
  const std::string xwd = x.Run("xwd -root -silent");
  if (xwd.size() < 100) return "";
  const uint32_t header = Be32(xwd, 0), w = Be32(xwd, 16), h = Be32(xwd, 20);
  const uint32_t byte_order = Be32(xwd, 28), bpp = Be32(xwd, 44), stride = Be32(xwd, 48);
  const uint32_t masks[3] = {Be32(xwd, 56), Be32(xwd, 60), Be32(xwd, 64)};
  const uint32_t colours = Be32(xwd, 76);
  const size_t start = header + size_t{colours} * 12;
  std::string rgb;
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t col = 0; col < w; ++col) {
      const size_t at = start + size_t{y} * stride + size_t{col} * (bpp / 8);
      uint32_t pixel = 0;
      for (uint32_t i = 0; i < bpp / 8; ++i) {
        const uint32_t byte = static_cast<uint8_t>(xwd[at + (byte_order ? i : bpp / 8 - 1 - i)]);
        pixel = pixel << 8 | byte;
      }
      for (uint32_t mask : masks) rgb.push_back(static_cast<char>(Widen(pixel, mask)));
    }
  }
  *width = w;
  *height = h;
  return rgb;
}

void ExpectScreenshotMatchesXwd(TestDaemon& daemon, const XSession& x) {
  const Json reply = daemon.Call("screenshot");
  ASSERT_EQ(reply["ok"], true) << reply.dump().substr(0, 300);
  const Json& result = reply["result"];
  const std::string png = DecodeBase64(result["base64"]);
  EXPECT_EQ(result["format"], "png");
  EXPECT_EQ(result["bytes"], png.size());
  uint32_t width = 0, height = 0;
  const std::string expected = XwdRootRgb(x, &width, &height);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(result["width"], width);
  EXPECT_EQ(result["height"], height);
  const std::string rgb = PngToRgb(x, png);
  ASSERT_EQ(rgb.size(), expected.size());
  size_t differing = 0;
  for (size_t i = 0; i < rgb.size(); ++i) differing += rgb[i] != expected[i];
  EXPECT_EQ(differing, 0u) << "bytes of the screenshot differ from xwd's capture";
}

struct Frame {
  int64_t x = 0, y = 0, w = 0, h = 0;
};

// The outer rectangle, border included, of the top-level window that holds
// client window `id` (the window manager's frame, or the client itself),
// as xwininfo reports it.
Frame XwininfoFrame(const XSession& x, std::string id) {
  const std::regex parent_line("Parent window id: (0x[0-9a-f]+)");
  const std::regex root_line("Root window id: (0x[0-9a-f]+)");
  for (int level = 0; level < 8; ++level) {
    const std::string tree = x.Run("xwininfo -tree -id " + id);
    std::smatch parent, root;
    if (!std::regex_search(tree, parent, parent_line) || !std::regex_search(tree, root, root_line) ||
        parent[1] == root[1]) {
      break;
    }
    id = parent[1];
  }
  const std::string info = x.Run("xwininfo -id " + id);
  auto field = [&](const char* name) -> int64_t {
    std::smatch m;
    if (!std::regex_search(info, m, std::regex(std::string(name) + ":\\s+(-?\\d+)"))) return -1;
    return std::stoll(m[1]);
  };
  const int64_t border = field("Border width");
  // xwininfo's upper-left corner is already the outer one, outside the border.
  return {field("Absolute upper-left X"), field("Absolute upper-left Y"),
          field("Width") + 2 * border, field("Height") + 2 * border};
}

struct GtkWindow {
  std::unique_ptr<SessionProcess> process;
  std::string id;  // hex window id
};

GtkWindow OpenWindow(XSession& x, std::vector<std::string> args) {
  GtkWindow window;
  window.process = x.LaunchPython("gtk_window.py", args);
  if (!window.process) return window;
  const std::optional<std::string> line = window.process->ReadLine(20s);
  if (line && line->starts_with("ready ")) window.id = line->substr(6, line->find(' ', 6) - 6);
  return window;
}

class ManagedDesktopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    x_ = XSession::Start(24, 1280, 800).release();
    ASSERT_NE(x_, nullptr) << "Xvfb did not start";
    ASSERT_TRUE(x_->StartWindowManager());
    first_ = new GtkWindow(OpenWindow(
        *x_, {"--title", "Premi\xC3\xA8re fen\xC3\xAAtre", "--app-class", "TarvixAlpha", "--size",
              "420x260", "--pos", "40,60"}));
    second_ = new GtkWindow(OpenWindow(
        *x_, {"--title", "Second", "--app-class", "TarvixBeta", "--size", "300x200", "--pos",
              "600,300", "--colour", "3366cc"}));
    daemon_ = TestDaemon::Start({.env = x_->Env()}).release();
  }
  static void TearDownTestSuite() {
    delete daemon_;
    delete first_;
    delete second_;
    delete x_;
  }
  void SetUp() override {
    ASSERT_FALSE(first_->id.empty());
    ASSERT_FALSE(second_->id.empty());
  }
  static XSession* x_;
  static GtkWindow* first_;
  static GtkWindow* second_;
  static TestDaemon* daemon_;
};
XSession* ManagedDesktopTest::x_ = nullptr;
GtkWindow* ManagedDesktopTest::first_ = nullptr;
GtkWindow* ManagedDesktopTest::second_ = nullptr;
TestDaemon* ManagedDesktopTest::daemon_ = nullptr;

TEST_F(ManagedDesktopTest, ScreenshotEqualsXwdCapture) { ExpectScreenshotMatchesXwd(*daemon_, *x_); }

TEST_F(ManagedDesktopTest, UiTreeFallsBackToTheWindowsTheTestOpened) {
  const Json reply = daemon_->Call("ui_tree", {{"ignored", 1}});
  ASSERT_EQ(reply["ok"], true) << reply.dump();
  EXPECT_EQ(reply["result"]["note"],
            "Linux AT-SPI element tree empty/unavailable (enable the desktop's accessibility bus, "
            "or no focused window) \xE2\x80\x94 returning window list instead.");
  const Json& windows = reply["result"]["windows"];
  // Only the two test windows are on screen; the later one is on top.
  ASSERT_EQ(windows.size(), 2u) << windows.dump();
  const GtkWindow* opened[] = {second_, first_};
  const char* classes[] = {"TarvixBeta", "TarvixAlpha"};
  const char* titles[] = {"Second", "Premi\xC3\xA8re fen\xC3\xAAtre"};
  for (int i = 0; i < 2; ++i) {
    const Frame frame = XwininfoFrame(*x_, opened[i]->id);
    EXPECT_EQ(windows[i], (Json{{"app", classes[i]}, {"h", frame.h}, {"title", titles[i]},
                                {"w", frame.w}, {"x", frame.x}, {"y", frame.y}}));
  }
}

// Six captures at once, many times over; afterwards (once the warm state
// has been given back) the daemon holds as many descriptors and threads
// as before, the server has as many clients and no shared memory is left.
TEST_F(ManagedDesktopTest, ConcurrentScreenshotsLeaveNothingBehind) {
  const std::string proc = "/proc/" + std::to_string(daemon_->pid());
  // Earlier tests' warm state is given back first.
  std::this_thread::sleep_for(4s);
  // Shared memory still mapped by the daemon (System V or memory files); a
  // system-wide count would see other programs' segments.
  auto segments = [&] {
    std::ifstream maps(proc + "/maps");
    size_t n = 0;
    for (std::string line; std::getline(maps, line);) {
      n += line.find("SYSV") != std::string::npos || line.find("/memfd:") != std::string::npos;
    }
    return n;
  };
  const size_t fds = CountEntries(proc + "/fd"), threads = CountEntries(proc + "/task");
  const int clients = x_->ClientCount();
  const size_t shm = segments();
  for (int round = 0; round < 10; ++round) {
    std::vector<std::future<Json>> calls;
    for (int i = 0; i < 6; ++i) {
      calls.push_back(std::async(std::launch::async, [] { return daemon_->Call("screenshot"); }));
    }
    for (auto& call : calls) {
      const Json reply = call.get();
      ASSERT_EQ(reply["ok"], true) << reply.dump().substr(0, 300);
      EXPECT_EQ(reply["result"]["width"], 1280);
    }
  }
  EXPECT_GT(x_->ClientCount(), clients) << "the daemon keeps its connection between calls";
  EXPECT_GT(segments(), shm) << "and its shared memory";
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (std::chrono::steady_clock::now() < deadline &&
         (CountEntries(proc + "/task") != threads || x_->ClientCount() != clients)) {
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(CountEntries(proc + "/fd"), fds);
  EXPECT_EQ(CountEntries(proc + "/task"), threads);
  EXPECT_EQ(x_->ClientCount(), clients);
  EXPECT_EQ(segments(), shm);
}

// 16 bits per pixel (5-6-5) and no window manager: colours widen exactly
// as xwd's pixels say, and the window list is the root's mapped children.
TEST(UnmanagedDesktopTest, SixteenBitScreenAndBareWindows) {
  std::unique_ptr<XSession> x = XSession::Start(16, 640, 480);
  ASSERT_NE(x, nullptr);
  GtkWindow window =
      OpenWindow(*x, {"--title", "Bare", "--app-class", "TarvixBare", "--size", "200x150", "--pos",
                      "30,40", "--colour", "c08040"});
  ASSERT_FALSE(window.id.empty());
  std::unique_ptr<TestDaemon> daemon = TestDaemon::Start({.env = x->Env()});
  ExpectScreenshotMatchesXwd(*daemon, *x);
  const Json reply = daemon->Call("ui_tree");
  ASSERT_EQ(reply["ok"], true) << reply.dump();
  const Frame frame = XwininfoFrame(*x, window.id);
  EXPECT_EQ(reply["result"]["windows"],
            Json::array({Json{{"app", "TarvixBare"}, {"h", frame.h}, {"title", "Bare"},
                              {"w", frame.w}, {"x", frame.x}, {"y", frame.y}}}));
}

TEST(DesktopWithoutDisplayTest, ToolsNameTheMissingDisplay) {
  std::unique_ptr<TestDaemon> daemon = TestDaemon::Start();  // no DISPLAY
  const std::string hint =
      "cannot open the X display (set DISPLAY, and XAUTHORITY if needed, to the desktop session)";
  EXPECT_EQ(daemon->Call("screenshot"),
            (Json{{"error", "screencapture failed - " + hint}, {"ok", false}}));
  EXPECT_EQ(daemon->Call("ui_tree"),
            (Json{{"error", "window list unavailable - " + hint}, {"ok", false}}));
}

// The warm connection dies with its server; calls fail with a message
// instead of hanging, and work again once a server is back.
TEST(DesktopServerRestartTest, CallsRecoverWhenTheServerComesBack) {
  std::unique_ptr<XSession> x = XSession::Start(24, 320, 200);
  ASSERT_NE(x, nullptr);
  const int number = x->display_number();
  std::unique_ptr<TestDaemon> daemon = TestDaemon::Start({.env = x->Env()});
  ASSERT_EQ(daemon->Call("screenshot")["ok"], true);
  x.reset();
  const Json gone = daemon->Call("screenshot");
  EXPECT_EQ(gone["ok"], false);
  EXPECT_TRUE(gone["error"].get<std::string>().starts_with("screencapture failed - ")) << gone;
  EXPECT_EQ(daemon->Call("ui_tree")["ok"], false);
  x = XSession::Start(24, 400, 300, number);
  ASSERT_NE(x, nullptr);
  const Json back = daemon->Call("screenshot");
  ASSERT_EQ(back["ok"], true) << back.dump().substr(0, 300);
  EXPECT_EQ(back["result"]["width"], 400);
  EXPECT_EQ(daemon->Call("ui_tree")["result"]["windows"], Json::array());
}

// A stopped server (SIGSTOP: a frozen compositor, a suspended display)
// costs each desktop call one deadline and an answer that says so, while
// host methods keep answering; once it runs again a fresh connection works.
TEST(DesktopServerStoppedTest, CallsAnswerWithinTheDeadline) {
  std::unique_ptr<XSession> x = XSession::Start(24, 320, 200);
  ASSERT_NE(x, nullptr);
  std::unique_ptr<TestDaemon> daemon = TestDaemon::Start({.allow_exec = true, .env = x->Env()});
  ASSERT_EQ(daemon->Call("screenshot")["ok"], true) << "a warm connection to stall";
  ASSERT_EQ(kill(x->server_pid(), SIGSTOP), 0);
  // A failed assertion must not leave a stopped server behind.
  const std::unique_ptr<XSession, void (*)(XSession*)> resume(
      x.get(), [](XSession* s) { kill(s->server_pid(), SIGCONT); });
  struct Case {
    const char* method;
    Json params;
    const char* error;
  };
  const Case cases[] = {
      {"screenshot", Json::object(), "screencapture failed - the X server did not answer within 2 s"},
      {"ui_tree", Json::object(),
       "window list unavailable - the X server did not answer within 2 s"},
      {"input", Json{{"action", "move"}, {"x", 5}, {"y", 5}},
       "input unavailable: no connection could be established: (cannot open the X display) "
       "(the X server did not answer within 2 s)"},
  };
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::future<Json>> calls;
  for (const Case& c : cases) {
    calls.push_back(std::async(std::launch::async, [&] { return daemon->Call(c.method, c.params); }));
  }
  EXPECT_EQ(daemon->Call("ping")["ok"], true) << "host methods answer meanwhile";
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].get(), (Json{{"error", cases[i].error}, {"ok", false}})) << cases[i].method;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "none of them hangs";
  // While it stays stopped, a call connects afresh and gives up the same way.
  EXPECT_EQ(daemon->Call("screenshot")["error"], cases[0].error);
  ASSERT_EQ(kill(x->server_pid(), SIGCONT), 0);
  const Json back = daemon->Call("screenshot");
  ASSERT_EQ(back["ok"], true) << back.dump().substr(0, 300);
  EXPECT_EQ(back["result"]["width"], 320);
}

}  // namespace
}  // namespace tarvix::testing
