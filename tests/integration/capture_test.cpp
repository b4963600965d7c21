// Displays and captures through the real binary on a private X server of
// 3000x1200 split into two RandR monitors, the primary one not at the
// root's origin: the display list against xrandr's, the shared origin of
// screenshots and input, and captured pixels against the full screenshot.
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/x_session.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;

// An RGB image, decoded by ImageMagick (an independent decoder).
struct Rgb {
  int64_t width = 0, height = 0;
  std::string bytes;
  uint8_t At(int64_t x, int64_t y, int c) const {
    return static_cast<uint8_t>(bytes[static_cast<size_t>((y * width + x) * 3 + c)]);
  }
};

Rgb Decode(const XSession& x, const Json& result) {
  char path[] = "/tmp/tarvix-capture-XXXXXX";
  const int fd = mkstemp(path);
  const std::string encoded = DecodeBase64(result["base64"]);
  EXPECT_EQ(write(fd, encoded.data(), encoded.size()), static_cast<ssize_t>(encoded.size()));
  close(fd);
  Rgb rgb{result["width"], result["height"],
          x.Run("/usr/bin/convert " + result["format"].get<std::string>() + ":" + path +
                " -depth 8 rgb:-")};
  unlink(path);
  EXPECT_EQ(rgb.bytes.size(), static_cast<size_t>(rgb.width * rgb.height * 3));
  return rgb;
}

// The part of `image` at (x, y) of size w x h.
Rgb Crop(const Rgb& image, int64_t x, int64_t y, int64_t w, int64_t h) {
  Rgb part{w, h, ""};
  for (int64_t row = y; row < y + h; ++row) {
    part.bytes += image.bytes.substr(static_cast<size_t>((row * image.width + x) * 3),
                                     static_cast<size_t>(w * 3));
  }
  return part;
}

// Area averaging to w x h: each target pixel is the mean of the source
// area it covers, partly covered pixels weighted by their share.
Rgb BoxAverage(const Rgb& source, int64_t w, int64_t h) {
  const double fx = static_cast<double>(source.width) / w, fy = static_cast<double>(source.height) / h;
  Rgb out{w, h, std::string(static_cast<size_t>(w * h * 3), '\0')};
  for (int64_t ty = 0; ty < h; ++ty) {
    for (int64_t tx = 0; tx < w; ++tx) {
      double sum[3] = {0, 0, 0}, total = 0;
      for (int64_t sy = static_cast<int64_t>(ty * fy); sy < std::ceil((ty + 1) * fy); ++sy) {
        const double wy = std::min<double>(sy + 1, (ty + 1) * fy) - std::max<double>(sy, ty * fy);
        for (int64_t sx = static_cast<int64_t>(tx * fx); sx < std::ceil((tx + 1) * fx); ++sx) {
          const double wx = std::min<double>(sx + 1, (tx + 1) * fx) - std::max<double>(sx, tx * fx);
          for (int c = 0; c < 3; ++c) sum[c] += wx * wy * source.At(sx, sy, c);
          total += wx * wy;
        }
      }
      for (int c = 0; c < 3; ++c) {
        out.bytes[static_cast<size_t>((ty * w + tx) * 3 + c)] =
            static_cast<char>(std::lround(sum[c] / total));
      }
    }
  }
  return out;
}

// Mean and largest difference of two images of one size, per channel.
std::pair<double, int> Difference(const Rgb& a, const Rgb& b) {
  EXPECT_EQ(a.bytes.size(), b.bytes.size());
  double sum = 0;
  int largest = 0;
  for (size_t i = 0; i < std::min(a.bytes.size(), b.bytes.size()); ++i) {
    const int d = std::abs(static_cast<uint8_t>(a.bytes[i]) - static_cast<uint8_t>(b.bytes[i]));
    sum += d;
    largest = std::max(largest, d);
  }
  return {a.bytes.empty() ? 0 : sum / a.bytes.size(), largest};
}

class TwoMonitorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    x_ = XSession::Start(24, 3000, 1200).release();
    ASSERT_NE(x_, nullptr) << "Xvfb did not start";
    // The right monitor takes the server's one output and is primary; the
    // left one is a bare rectangle.
    x_->Run("xrandr --setmonitor left 1000/260x1200/340+0+0 none");
    x_->Run("xrandr --setmonitor '*right' 2000/520x1000/280+1000+100 screen");
    // A test pattern at root (1100, 200), the point (100, 100): a one-pixel
    // checkerboard over seeded noise, what nearest-neighbour scaling gets
    // most wrong.
    x_->Run("/usr/bin/convert -size 600x200 pattern:gray50 \\( -size 600x200 xc: -seed 7 "
            "+noise Random \\) -append /tmp/tarvix-pattern-" + x_->display().substr(1) + ".png");
    pattern_ = x_->LaunchPython("gtk_window.py", {"--title", "Pattern", "--pos", "1100,200",
                                                  "--image", "/tmp/tarvix-pattern-" +
                                                  x_->display().substr(1) + ".png"}).release();
    const std::optional<std::string> ready = pattern_->ReadLine(20s);
    ASSERT_TRUE(ready && ready->starts_with("ready 0x")) << ready.value_or("no line");
    pattern_id_ = std::stoull(ready->substr(6, ready->find(' ', 6) - 6), nullptr, 16);
    daemon_ = TestDaemon::Start({.allow_exec = true, .env = x_->Env()}).release();
  }
  static void TearDownTestSuite() {
    delete daemon_;
    delete pattern_;
    if (x_ != nullptr) unlink(("/tmp/tarvix-pattern-" + x_->display().substr(1) + ".png").c_str());
    delete x_;
  }
  static Json Capture(const Json& params) {
    const Json reply = daemon_->Call("capture", params);
    EXPECT_EQ(reply["ok"], true) << params.dump() << " " << reply.dump().substr(0, 300);
    return reply["result"];
  }
  static XSession* x_;
  static TestDaemon* daemon_;
  static SessionProcess* pattern_;
  static uint64_t pattern_id_;
};
XSession* TwoMonitorTest::x_ = nullptr;
TestDaemon* TwoMonitorTest::daemon_ = nullptr;
SessionProcess* TwoMonitorTest::pattern_ = nullptr;
uint64_t TwoMonitorTest::pattern_id_ = 0;

TEST_F(TwoMonitorTest, DisplaysEqualXrandrsMonitorsAroundThePrimaryOne) {
  // " 0: *right 2000/520x1000/280+1000+100  screen"
  const std::regex line(R"(^\s*\d+: \+?(\*?)(\S+) (\d+)/\d+x(\d+)/\d+\+(-?\d+)\+(-?\d+))");
  std::istringstream listing(x_->Run("xrandr --listactivemonitors"));
  Json expected = Json::array();
  int64_t origin_x = 0, origin_y = 0;
  for (std::string text; std::getline(listing, text);) {
    std::smatch m;
    if (!std::regex_search(text, m, line)) continue;
    const bool primary = m[1] == "*";
    const int64_t mx = std::stoll(m[5]), my = std::stoll(m[6]);
    if (primary) origin_x = mx, origin_y = my;
    expected.push_back({{"height", std::stoll(m[4])}, {"id", expected.size() + 1},
                        {"name", m[2]}, {"primary", primary}, {"scale", 1},
                        {"width", std::stoll(m[3])}, {"x", mx}, {"y", my}});
  }
  ASSERT_EQ(expected.size(), 2u) << "xrandr did not define the two monitors";
  ASSERT_EQ(origin_x, 1000);
  for (Json& d : expected) {
    d["x"] = d["x"].get<int64_t>() - origin_x;
    d["y"] = d["y"].get<int64_t>() - origin_y;
  }
  const Json reply = daemon_->Call("displays");
  ASSERT_EQ(reply["ok"], true) << reply.dump();
  EXPECT_EQ(reply["result"]["displays"], expected);
  EXPECT_EQ(reply["result"]["bounds"], Json({{"h", 1200}, {"w", 3000}, {"x", -1000}, {"y", -100}}));
}

// One origin for every tool: the screenshot is the primary monitor, and
// the input point (0, 0) is its top-left corner.
TEST_F(TwoMonitorTest, ScreenshotAndInputShareThePrimaryMonitorsOrigin) {
  const Json shot = daemon_->Call("screenshot");
  ASSERT_EQ(shot["ok"], true);
  EXPECT_EQ(shot["result"]["width"], 2000);
  EXPECT_EQ(shot["result"]["height"], 1000);
  const struct {
    int x, y;
    const char* root;
  } moves[] = {{0, 0, "x:1000 y:100 "}, {-700, 50, "x:300 y:150 "}, {1999, 999, "x:2999 y:1099 "}};
  for (const auto& move : moves) {
    const Json reply = daemon_->Call("input", {{"action", "move"}, {"x", move.x}, {"y", move.y}});
    ASSERT_EQ(reply["ok"], true) << reply.dump();
    EXPECT_TRUE(x_->Run("xdotool getmouselocation").starts_with(move.root)) << move.root;
  }
}

TEST_F(TwoMonitorTest, CaptureWithoutParamsIsTheScreenshot) {
  const Json shot = daemon_->Call("screenshot")["result"];
  const Json capture = Capture(Json::object());
  EXPECT_EQ(capture["base64"], shot["base64"]);
  EXPECT_EQ(capture["origin"], Json({{"x", 0}, {"y", 0}}));
  EXPECT_EQ(capture["scale"], 1);
}

// Regions and windows against the full screenshot (on the main display)
// or ImageMagick's own grab of the root window (across displays).
TEST_F(TwoMonitorTest, CapturedPixelsEqualTheSameAreaOfTheScreen) {
  const Rgb screen = Decode(*x_, daemon_->Call("screenshot")["result"]);
  const struct {
    const char* name;
    Json params;
    int64_t x, y, w, h;  // the expected area in points
  } cases[] = {
      {"region", {{"region", {{"x", 90}, {"y", 95}, {"w", 620}, {"h", 410}}}}, 90, 95, 620, 410},
      {"window", {{"window", pattern_id_}}, 100, 100, 600, 400},
      {"display 1", {{"display", 1}}, 0, 0, 2000, 1000},
      {"across displays, clipped", {{"region", {{"x", -1200}, {"y", -300}, {"w", 1400}, {"h", 500}}}},
       -1000, -100, 1200, 300},
  };
  for (const auto& c : cases) {
    const Json result = Capture(c.params);
    EXPECT_EQ(result["origin"], Json({{"x", c.x}, {"y", c.y}})) << c.name;
    EXPECT_EQ(result["width"], c.w) << c.name;
    EXPECT_EQ(result["height"], c.h) << c.name;
    EXPECT_EQ(result["scale"], 1) << c.name;
    const Rgb got = Decode(*x_, result);
    Rgb expected;
    if (c.x >= 0 && c.y >= 0 && c.x + c.w <= 2000 && c.y + c.h <= 1000) {
      expected = Crop(screen, c.x, c.y, c.w, c.h);
    } else {
      expected = {c.w, c.h,
                  x_->Run("/usr/bin/import -silent -window root -crop " + std::to_string(c.w) +
                          "x" + std::to_string(c.h) + "+" + std::to_string(c.x + 1000) + "+" +
                          std::to_string(c.y + 100) + " -depth 8 rgb:-")};
    }
    EXPECT_TRUE(got.bytes == expected.bytes) << c.name << ": pixels differ";
  }
}

TEST_F(TwoMonitorTest, ScaledCapturesMatchAnAreaAverage) {
  const Json full_result = Capture({{"window", pattern_id_}});
  const Rgb full = Decode(*x_, full_result);
  ASSERT_EQ(full.width, 600);
  // JPEG's 4:2:0 colour cannot keep the noise's colours; its bound says
  // the image decodes to the right picture.
  const struct {
    Json limits;
    int64_t w, h;
    double scale;
    double mean;
    int largest;
  } cases[] = {
      {{{"max_width", 300}}, 300, 200, 0.5, 1.5, 24},
      {{{"max_height", 150}}, 225, 150, 0.375, 1.5, 24},
      {{{"max_pixels", 40000}}, 244, 163, 244.0 / 600, 1.5, 24},
      {{{"max_pixels", 40000}, {"format", "jpeg"}, {"quality", 95}}, 244, 163, 244.0 / 600, 10,
       256},
  };
  for (const auto& c : cases) {
    Json params = c.limits;
    params["window"] = pattern_id_;
    const Json result = Capture(params);
    EXPECT_EQ(result["width"], c.w) << params.dump();
    EXPECT_EQ(result["height"], c.h) << params.dump();
    EXPECT_DOUBLE_EQ(result["scale"].get<double>(), c.scale) << params.dump();
    const Rgb scaled = Decode(*x_, result);
    const Rgb reference = BoxAverage(full, c.w, c.h);
    const auto [mean, largest] = Difference(scaled, reference);
    EXPECT_LT(mean, c.mean) << params.dump();
    EXPECT_LT(largest, c.largest) << params.dump();
    // Nearest-neighbour sampling of the same pattern would be far off.
    Rgb nearest{c.w, c.h, ""};
    for (int64_t y = 0; y < c.h; ++y) {
      for (int64_t x = 0; x < c.w; ++x) {
        for (int ch = 0; ch < 3; ++ch) {
          nearest.bytes.push_back(static_cast<char>(full.At(x * 600 / c.w, y * 400 / c.h, ch)));
        }
      }
    }
    EXPECT_GT(Difference(nearest, reference).first, 20.0) << params.dump();
  }
}

// The pointer is drawn only where it is: a region holding it changes, one
// beside it does not.
TEST_F(TwoMonitorTest, CursorIsDrawnWhereThePointerIs) {
  ASSERT_EQ(daemon_->Call("input", {{"action", "move"}, {"x", 300}, {"y", 300}})["ok"], true);
  const struct {
    int64_t x, y;
    bool differs;
  } regions[] = {{280, 280, true}, {500, 500, false}};
  for (const auto& r : regions) {
    Json params = {{"region", {{"x", r.x}, {"y", r.y}, {"w", 48}, {"h", 48}}}};
    const std::string plain = Decode(*x_, Capture(params)).bytes;
    params["cursor"] = true;
    const std::string with_cursor = Decode(*x_, Capture(params)).bytes;
    EXPECT_EQ(plain != with_cursor, r.differs) << r.x;
  }
}

TEST_F(TwoMonitorTest, MaxBytesShrinksTheImageOrRefuses) {
  const Json fitted = Capture({{"window", pattern_id_}, {"max_bytes", 60000}});
  EXPECT_LE(fitted["bytes"].get<int64_t>(), 60000);
  EXPECT_LT(fitted["width"].get<int64_t>(), 600);
  EXPECT_NEAR(fitted["height"].get<double>() / fitted["width"].get<double>(), 400.0 / 600, 0.02);
  EXPECT_EQ(Decode(*x_, fitted).width, fitted["width"]);
  const Json refused = daemon_->Call("capture", {{"max_bytes", 20}});
  EXPECT_TRUE(std::regex_match(refused["error"].get<std::string>(),
                               std::regex(R"(refused: cannot meet max_bytes \(smallest is \d+ bytes\))")))
      << refused.dump();
}

}  // namespace
}  // namespace tarvix::testing
