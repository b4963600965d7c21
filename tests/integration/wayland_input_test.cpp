// input, key_combo, pointer and drag in a headless sway session, through
// the daemon's virtual pointer and keyboard, against native GTK 3 windows
// (GDK_BACKEND=wayland) that report what they receive: points in the
// window's own coordinates, clicks as GTK counts them, wheel steps, keys,
// exact text and accelerators. Text and chords also into an X client
// through XWayland.
#include <signal.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/sway_session.h"
#include "integration/sway_suite.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// 69 characters: Latin with umlauts, CJK, an emoji outside the BMP, a
// combining accent and Hebrew (right to left).
constexpr char kMixedScripts[] =
    "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln, \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E "
    "\xF0\x9F\x98\x80 cafe\xCC\x81 \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xC3\x84\xC3\x96\xC3\x9C "
    "\xE2\x82\xAC" "4 Tab\there\nnew line ~!@#$%^&*()";

// The node of sway's tree whose pid is `pid`, or null.
const Json* FindPid(const Json& node, int pid) {
  if (node.value("pid", -1) == pid) return &node;
  for (const char* children : {"nodes", "floating_nodes"}) {
    if (!node.contains(children)) continue;
    for (const Json& child : node[children]) {
      if (const Json* found = FindPid(child, pid)) return found;
    }
  }
  return nullptr;
}

class WaylandInputTest : public SwaySuite<WaylandInputTest> {
 public:
  static SwayOptions SessionOptions() { return {.xwayland = true}; }

 protected:
  // Starts a probe window (GDK_BACKEND `backend`) as the only window of the
  // workspace and returns its "ready" report, with the global point of its
  // surface's origin (where sway placed its content) in `origin_`.
  Json StartProbe(const char* script, const std::string& backend = "wayland") {
    probe_ = sway_->Launch({"GDK_BACKEND=" + backend, "NO_AT_BRIDGE=1", "/usr/bin/python3",
                            std::string(TARVIX_TEST_SOURCE_DIR) + "/" + script});
    if (!probe_) return Json();
    Json ready = probe_->NextReportWith("ready", 10s);
    const Json tree = Json::parse(sway_->Run("swaymsg -t get_tree -r"), nullptr, false);
    const Json* node = FindPid(tree, probe_->pid());
    if (node == nullptr) {
      ADD_FAILURE() << "the probe is not in sway's tree: " << tree.dump();
      return Json();
    }
    origin_ = {(*node)["rect"]["x"].get<int>() + (*node)["window_rect"]["x"].get<int>(),
               (*node)["rect"]["y"].get<int>() + (*node)["window_rect"]["y"].get<int>()};
    return ready;
  }
  void TearDown() override { probe_.reset(); }

  // The global point of the probe's surface point (x, y).
  std::pair<int, int> Global(int x, int y) const { return {origin_.first + x, origin_.second + y}; }

  Json Result(const std::string& method, const Json& params) {
    const Json reply = daemon_->Call(method, params);
    EXPECT_EQ(reply.value("ok", false), true) << method << " " << reply.dump();
    return reply.value("result", Json());
  }
  // The probe's reports until it has been quiet for a moment.
  std::vector<Json> Reports() { return probe_->Drain(300ms); }

  std::unique_ptr<SessionProcess> probe_;
  std::pair<int, int> origin_;
};

TEST_F(WaylandInputTest, PointerLandsOnItsPointAndGtkCountsClicksAndWheelSteps) {
  const Json ready = StartProbe("input_probe.py");
  ASSERT_FALSE(ready.is_null());
  const Json& area = ready["area"];
  const int x = area[0].get<int>() + area[2].get<int>() / 3;
  const int y = area[1].get<int>() + area[3].get<int>() / 2;
  const auto [gx, gy] = Global(x, y);
  Reports();
  // Each row: one request, then what the window saw.
  const struct {
    Json params;
    std::vector<Json> seen;
  } cases[] = {
      {{{"action", "click"}, {"x", gx}, {"y", gy}},
       {{{"button", 1}, {"type", "BUTTON_PRESS"}, {"x", x}, {"y", y}}}},
      {{{"action", "click"}, {"x", gx + 7}, {"y", gy - 5}, {"button", "right"}},
       {{{"button", 3}, {"type", "BUTTON_PRESS"}, {"x", x + 7}, {"y", y - 5}}}},
      {{{"action", "click"}, {"button", "middle"}},
       {{{"button", 2}, {"type", "BUTTON_PRESS"}, {"x", x + 7}, {"y", y - 5}}}},
      // A double click is two presses GTK counts as one double click.
      {{{"action", "double_click"}, {"x", gx}, {"y", gy}},
       {{{"button", 1}, {"type", "BUTTON_PRESS"}, {"x", x}, {"y", y}},
        {{"button", 1}, {"type", "BUTTON_PRESS"}, {"x", x}, {"y", y}},
        {{"button", 1}, {"type", "2BUTTON_PRESS"}, {"x", x}, {"y", y}}}},
      // A click of the next request never joins it.
      {{{"action", "click"}}, {{{"button", 1}, {"type", "BUTTON_PRESS"}, {"x", x}, {"y", y}}}},
      // GTK 3's Wayland backend reads a positive horizontal step (right,
      // as the protocol has it and dx means it) as left.
      {{{"action", "scroll"}, {"dy", 2}, {"dx", -1}},
       {{{"scroll", "up"}}, {{"scroll", "up"}}, {{"scroll", "right"}}}},
      {{{"action", "scroll"}, {"dy", -1}, {"dx", 2}},
       {{{"scroll", "down"}}, {{"scroll", "left"}}, {{"scroll", "left"}}}},
  };
  for (const auto& c : cases) {
    Result("input", c.params);
    std::vector<Json> seen = Reports();
    EXPECT_EQ(seen, c.seen) << c.params.dump();
  }
}

TEST_F(WaylandInputTest, TypesAnyTextExactlyAndChordsAndNamedKeysAfterIt) {
  // An X client reads keys by the keymap it holds when it reads them: each
  // text keymap must still be there then, and the chord keymap after it.
  for (const std::string backend : {"wayland", "x11"}) {
    SCOPED_TRACE(backend);
    if (backend == "x11" && access("/usr/bin/Xwayland", X_OK) != 0) continue;
    ASSERT_FALSE(StartProbe("input_probe.py", backend).is_null());
    Reports();
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(round);
      Result("input", {{"action", "type"}, {"text", kMixedScripts}});
      EXPECT_EQ(probe_->NextReportWith("text", 5s), Json({{"text", kMixedScripts}}));
      // ctrl+a selects it all, so the next text replaces it.
      Result("key_combo", {{"keys", "ctrl+a"}});
      Result("input", {{"action", "type"}, {"text", "Ok!"}});
      EXPECT_EQ(probe_->NextReportWith("text", 5s), Json({{"text", "Ok!"}}));
      Result("input", {{"action", "key"}, {"name", "Escape"}});
      EXPECT_EQ(probe_->NextReportWith("cleared", 5s), Json({{"cleared", true}}));
    }
    probe_.reset();
  }
}

TEST_F(WaylandInputTest, ChordsFireAcceleratorsAndDragsMoveAScale) {
  const Json ready = StartProbe("chord_probe.py");
  ASSERT_FALSE(ready.is_null());
  Reports();
  // ctrl+a selects the whole text view; ctrl+s and ctrl+é fire the
  // window's accelerators (é is on no key of the chord keymap's letters).
  Result("key_combo", {{"keys", "ctrl+a"}});
  const Json& lines = ready["lines"];
  EXPECT_EQ(probe_->NextReportWith("selection", 3s),
            Json({{"selection", {0, lines[lines.size() - 1][1]}}}));
  Result("key_combo", {{"keys", "ctrl+s"}});
  EXPECT_EQ(probe_->NextReportWith("accel", 3s), Json({{"accel", "save"}}));
  Result("key_combo", {{"keys", {"Control", "\xC3\xA9"}}});
  EXPECT_EQ(probe_->NextReportWith("accel", 3s), Json({{"accel", "eacute"}}));
  Result("key_combo", {{"keys", "alt+T"}});
  std::vector<std::string> keys;
  for (const Json& report : Reports()) {
    if (report.contains("key")) keys.push_back(report["key"]);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"Alt_L", "Shift_L", "T"}));

  const Json& scale = ready["scale"];
  const int left = scale[0].get<int>() + 8, right = scale[0].get<int>() + scale[2].get<int>() - 2;
  const int y = scale[1].get<int>() + scale[3].get<int>() / 2;
  const auto [gl, gy] = Global(left, y);
  const auto [gr, unused] = Global(right, y);
  const Json dragged = Result("drag", {{"path", {{gl, gy}, {(gl + gr) / 2, gy}, {gr, gy}}},
                                       {"duration_ms", 100}});
  EXPECT_EQ(dragged["to"], Json({gr, gy}));
  int value = -1;
  for (Json report; !(report = probe_->NextReportWith("value", 1s)).is_null();) {
    value = report["value"];
  }
  EXPECT_EQ(value, 100);
}

TEST_F(WaylandInputTest, AStoppedCompositorCostsADeadlineAndInputServesOnceItReturns) {
  ASSERT_EQ(kill(sway_->pid(), SIGSTOP), 0);
  struct Resume {
    pid_t pid;
    ~Resume() { kill(pid, SIGCONT); }
  } resume{sway_->pid()};
  EXPECT_EQ(daemon_->Call("input", {{"action", "move"}, {"x", 5}, {"y", 5}}),
            (Json{{"error",
                   "input unavailable: no connection could be established: (the Wayland "
                   "compositor did not answer within 2 s)"},
                  {"ok", false}}));
  kill(sway_->pid(), SIGCONT);
  // Input serves again once the compositor does.
  ASSERT_FALSE(StartProbe("input_probe.py").is_null());
  Reports();
  const auto [x, y] = Global(30, 40);
  Result("input", {{"action", "click"}, {"x", x}, {"y", y}});
  EXPECT_EQ(probe_->NextReportWith("button", 3s),
            Json({{"button", 1}, {"type", "BUTTON_PRESS"}, {"x", 30}, {"y", 40}}));
}

}  // namespace
}  // namespace tarvix::testing
