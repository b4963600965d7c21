#include "tools/desktop/capture.h"

#include <gtest/gtest.h>

namespace tarvix {
namespace {

// An image whose encoding is `header` bytes plus one per pixel; records
// the sizes asked for.
class FakeImage : public ScreenImage {
 public:
  FakeImage(uint32_t width, uint32_t height, int64_t x, int64_t y, double scale,
            std::vector<ImageEncoding>* asked)
      : width_(width), height_(height), x_(x), y_(y), scale_(scale), asked_(asked) {}
  uint32_t width() const override { return width_; }
  uint32_t height() const override { return height_; }
  int64_t origin_x() const override { return x_; }
  int64_t origin_y() const override { return y_; }
  double scale() const override { return scale_; }
  Result<std::string> Encode(const ImageEncoding& encoding) override {
    asked_->push_back(encoding);
    return std::string(100 + size_t{encoding.width} * encoding.height, 'p');
  }

 private:
  uint32_t width_, height_;
  int64_t x_, y_;
  double scale_;
  std::vector<ImageEncoding>* asked_;
};

TEST(FitWithinTest, KeepsAspectMeetsEveryLimitNeverEnlarges) {
  struct Case {
    PixelSize source;
    CaptureLimits limits;
    PixelSize fit;
  } cases[] = {
      {{1920, 1080}, {}, {1920, 1080}},
      {{1920, 1080}, {.max_width = 1280}, {1280, 720}},
      {{1920, 1080}, {.max_height = 540}, {960, 540}},
      {{100, 50}, {.max_width = 200, .max_height = 100, .max_pixels = 1000000}, {100, 50}},
      {{1920, 1080}, {.max_pixels = 1000000}, {1333, 750}},
      {{1920, 1080}, {.max_width = 1000, .max_height = 1000, .max_pixels = 500000}, {942, 530}},
      {{3, 1000}, {.max_width = 1}, {1, 333}},
      {{1000, 1}, {.max_pixels = 10}, {10, 1}},
      {{7, 7}, {.max_pixels = 1}, {1, 1}},
      {{3000, 1200}, {.max_width = 1500}, {1500, 600}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FitWithin(c.source, c.limits), c.fit)
        << c.source.width << "x" << c.source.height;
  }
}

struct World {
  std::vector<DisplayInfo> displays = {
      {.id = 1, .name = "right", .x = 0, .y = 0, .width = 2000, .height = 1000, .primary = true},
      {.id = 2, .name = "left", .x = -1000, .y = -100, .width = 1000, .height = 1200}};
  std::vector<WindowRecord> windows;
  std::vector<CaptureArea> grabs;
  std::vector<ImageEncoding> encodings;
  double scale = 1;

  CaptureServices Services() {
    return {.displays = [this]() -> Result<std::vector<DisplayInfo>> { return displays; },
            .windows = [this]() -> Result<std::vector<WindowRecord>> { return windows; },
            .grab = [this](const CaptureArea& area) -> Result<std::unique_ptr<ScreenImage>> {
              grabs.push_back(area);
              const bool main = area.main_display;
              return std::unique_ptr<ScreenImage>(new FakeImage(
                  static_cast<uint32_t>((main ? 2000 : area.width) * scale),
                  static_cast<uint32_t>((main ? 1000 : area.height) * scale), main ? 0 : area.x,
                  main ? 0 : area.y, scale, &encodings));
            }};
  }
};

TEST(CaptureTest, RefusesInvalidParamsBeforeGrabbing) {
  const struct {
    const char* params;
    const char* error;
  } cases[] = {
      {R"({"region":{"x":0,"y":0,"w":0,"h":5}})",
       "invalid param: region must be {x, y, w, h} with integers x, y and w, h of at least 1"},
      {R"({"region":[1,2,3,4]})",
       "invalid param: region must be {x, y, w, h} with integers x, y and w, h of at least 1"},
      {R"({"region":{"x":0.5,"y":0,"w":5,"h":5}})",
       "invalid param: region must be {x, y, w, h} with integers x, y and w, h of at least 1"},
      {R"({"display":"1"})", "invalid param: display must be an integer"},
      {R"({"window":-3})", "invalid param: window must be a window id (an integer)"},
      {R"({"display":1,"window":5})",
       "invalid param: give at most one of region, display and window"},
      {R"({"max_width":0})", "invalid param: max_width must be an integer from 1 to 65535"},
      {R"({"max_height":65536})", "invalid param: max_height must be an integer from 1 to 65535"},
      {R"({"max_pixels":-1})",
       "invalid param: max_pixels must be an integer from 1 to 4294836225"},
      {R"({"max_bytes":268435457})",
       "invalid param: max_bytes must be an integer from 1 to 268435456"},
      {R"({"quality":101})", "invalid param: quality must be an integer from 1 to 100"},
      {R"({"quality":50.5})", "invalid param: quality must be an integer from 1 to 100"},
      {R"({"format":"gif"})", R"(invalid param: format must be "png" or "jpeg")"},
      {R"({"cursor":1})", "invalid param: cursor must be true or false"},
      {R"({"display":3})", "unknown display: 3"},
      {R"({"window":77})", "unknown window: 77"},
      {R"({"region":{"x":-1000,"y":-101,"w":50,"h":1}})",
       "invalid param: region outside the desktop"},
      {R"({"region":{"x":2000,"y":0,"w":50,"h":50}})",
       "invalid param: region outside the desktop"},
      {R"({"max_bytes":100})", "refused: cannot meet max_bytes (smallest is 101 bytes)"},
  };
  for (const auto& c : cases) {
    World world;
    ToolResult result = CaptureWith(Json::parse(c.params), world.Services());
    ASSERT_FALSE(result) << c.params;
    EXPECT_EQ(result.error(), c.error) << c.params;
    EXPECT_EQ(world.grabs.size(), result.error().starts_with("refused") ? 1u : 0u) << c.params;
  }
}

TEST(CaptureTest, AreasLimitsAndTheReply) {
  WindowRecord window;
  window.id = 0x1c00007;
  window.x = 1900.5, window.y = -20, window.width = 300, window.height = 200;
  const struct {
    const char* name;
    const char* params;
    double scale;
    CaptureArea area;
    std::vector<PixelSize> tries;
    const char* reply;  // without base64
  } cases[] = {
      {"main display", "{}", 1, {.main_display = true}, {{2000, 1000}},
       R"({"bytes":2000100,"format":"png","height":1000,"origin":{"x":0,"y":0},"scale":1,"width":2000})"},
      {"display 2 to max_width, jpeg", R"({"display":2,"max_width":500,"format":"jpeg","quality":30})",
       1, {.x = -1000, .y = -100, .width = 1000, .height = 1200}, {{500, 600}},
       R"({"bytes":300100,"format":"jpeg","height":600,"origin":{"x":-1000,"y":-100},"scale":0.5,"width":500})"},
      {"region clipped to the desktop, cursor", R"({"region":{"x":1900,"y":-500,"w":400,"h":600},"cursor":true})",
       1, {.x = 1900, .y = -100, .width = 100, .height = 200, .cursor = true}, {{100, 200}},
       R"({"bytes":20100,"format":"png","height":200,"origin":{"x":1900,"y":-100},"scale":1,"width":100})"},
      {"window, clipped", R"({"window":29360135})", 1,
       {.x = 1900, .y = -20, .width = 100, .height = 200, .window = 0x1c00007}, {{100, 200}},
       R"({"bytes":20100,"format":"png","height":200,"origin":{"x":1900,"y":-20},"scale":1,"width":100})"},
      // 2000100 bytes against 500000: shrink by 0.95 * sqrt(0.25), then again.
      {"max_bytes shrinks until it fits", R"({"max_bytes":500000})", 1, {.main_display = true},
       {{2000, 1000}, {949, 474}},
       R"({"bytes":449926,"format":"png","height":474,"origin":{"x":0,"y":0},"scale":0.4745,"width":949})"},
      {"retina pixels, never enlarged", R"({"region":{"x":10,"y":20,"w":100,"h":50},"max_width":400})",
       2, {.x = 10, .y = 20, .width = 100, .height = 50}, {{200, 100}},
       R"({"bytes":20100,"format":"png","height":100,"origin":{"x":10,"y":20},"scale":2,"width":200})"},
  };
  for (const auto& c : cases) {
    World world;
    world.windows = {window};
    world.scale = c.scale;
    ToolResult result = CaptureWith(Json::parse(c.params), world.Services());
    ASSERT_TRUE(result) << c.name << ": " << result.error();
    ASSERT_EQ(world.grabs.size(), 1u) << c.name;
    const CaptureArea& area = world.grabs[0];
    EXPECT_EQ(std::tie(area.main_display, area.x, area.y, area.width, area.height, area.window,
                       area.cursor),
              std::tie(c.area.main_display, c.area.x, c.area.y, c.area.width, c.area.height,
                       c.area.window, c.area.cursor))
        << c.name;
    std::vector<PixelSize> tries;
    for (const ImageEncoding& e : world.encodings) tries.push_back({e.width, e.height});
    EXPECT_EQ(tries, c.tries) << c.name;
    const int quality = world.encodings[0].quality;
    EXPECT_EQ(quality, Json::parse(c.params).value("quality", 80)) << c.name;
    Json reply = std::move(result).value();
    EXPECT_EQ(reply["base64"].get<std::string>().size(), (reply["bytes"].get<size_t>() + 2) / 3 * 4)
        << c.name;
    reply.erase("base64");
    EXPECT_EQ(ToJsonText(reply), c.reply) << c.name;
  }
}

}  // namespace
}  // namespace tarvix
