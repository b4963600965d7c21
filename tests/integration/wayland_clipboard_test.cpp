// The clipboard and wait_for's screen watch on a headless sway, against the
// real binary running as the session's user: wl-copy and wl-paste as the
// other party in both directions, xclip as an X client through XWayland,
// a GTK spinner as the changing screen.
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/sway_session.h"
#include "integration/sway_suite.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;

std::string Big(size_t size) {
  std::string text;
  text.reserve(size);
  for (size_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i) + " é日\n";
  text.resize(text.rfind('\n', size) + 1);  // whole characters
  return text;
}

double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool Lists(const Json& types, const char* type) {
  return std::find(types.begin(), types.end(), type) != types.end();
}

template <typename Suite>
class WaylandSessionTest : public SwaySuite<Suite> {
 protected:
  using SwaySuite<Suite>::daemon_;
  using SwaySuite<Suite>::sway_;

  static Json Read(size_t max_bytes = 16u << 20) {
    return daemon_->Call("clipboard_read", {{"max_bytes", max_bytes}});
  }
  // wl-copy takes the clipboard with `text` and serves it in the
  // foreground; returns once the daemon reads it back.
  static std::unique_ptr<SessionProcess> WlCopyOwns(const std::string& text) {
    const std::string path = "/tmp/tarvix-wayland-clip-" + std::to_string(getpid());
    std::ofstream(path, std::ios::binary) << text;
    chmod(path.c_str(), 0644);
    auto owner = sway_->Launch({"/bin/sh", "-c",
                                "exec /usr/bin/wl-copy --foreground --type "
                                "'text/plain;charset=utf-8' < " + path});
    for (int tries = 0; owner && tries < 200; ++tries) {
      const Json reply = Read();
      if (reply["ok"] == true && reply["result"]["text"] == text) break;
      std::this_thread::sleep_for(50ms);  // polling for wl-copy to take over, not a timing
    }
    unlink(path.c_str());
    return owner;
  }
  // A bound, so an owner that never finishes fails the test rather than
  // hanging it.
  static std::string WlPaste(const std::string& args = "") {
    return sway_->Run("timeout 30 wl-paste --no-newline " + args + " 2>/dev/null");
  }

  // A native GTK spinner spinning `ms` (0: for ever), once drawn. sway
  // tiles it over the whole output; the spinner sits at its centre.
  static std::unique_ptr<SessionProcess> Spinner(const std::string& title, int ms) {
    auto window = sway_->Launch({"GDK_BACKEND=wayland", "NO_AT_BRIDGE=1", "/usr/bin/python3",
                                 std::string(TARVIX_TEST_SOURCE_DIR) + "/gtk_window.py", "--title",
                                 title, "--spin", std::to_string(ms)});
    const std::optional<std::string> line = window ? window->ReadLine(20s) : std::nullopt;
    if (!line || !line->starts_with("ready ")) return nullptr;
    return window;
  }
  static Json Wait(const Json& params) {
    const Json reply = daemon_->Call("wait_for", params);
    EXPECT_EQ(reply["ok"], true) << reply.dump();
    return reply["result"];
  }
};

// Each suite in a session of its own.
class WaylandClipboardTest : public WaylandSessionTest<WaylandClipboardTest> {
 public:
  static SwayOptions SessionOptions() { return {.xwayland = true}; }

 protected:
  void SetUp() override {
    if (access("/usr/bin/wl-copy", X_OK) != 0) GTEST_SKIP() << "wl-clipboard is not installed";
    WaylandSessionTest::SetUp();
  }
};
class WaylandWaitForTest : public WaylandSessionTest<WaylandWaitForTest> {};

// First in the suite: nothing has owned the clipboard of the new session.
TEST_F(WaylandClipboardTest, EmptyWhenNothingOwnsIt) {
  EXPECT_EQ(daemon_->Call("clipboard_read"),
            Json::parse(R"({"ok":true,"result":{"bytes":0,"text":"","truncated":false,)"
                        R"("types":[]}})"));
}

TEST_F(WaylandClipboardTest, RoundTripsWithWlClipboardBothWays) {
  const std::string texts[] = {"hello, clipboard", "é 日本語 😀 Grüße", Big(5 << 20)};
  for (const std::string& text : texts) {
    const std::string what = text.substr(0, 20);
    // The daemon owns it; wl-paste reads it, and so does the daemon.
    EXPECT_EQ(daemon_->Call("clipboard_write", {{"text", text}}),
              (Json{{"ok", true}, {"result", {{"bytes", text.size()}, {"done", true}}}}))
        << what;
    EXPECT_TRUE(WlPaste() == text) << what;  // (no 5 MB failure messages)
    const Json own = Read();
    EXPECT_TRUE(own["result"]["text"] == text) << what;
    EXPECT_TRUE(Lists(own["result"]["types"], "text/plain;charset=utf-8")) << own["result"]["types"];
    // wl-copy owns it, the daemon reads it.
    auto owner = WlCopyOwns(text);
    ASSERT_NE(owner, nullptr);
    const Json reply = Read();
    ASSERT_EQ(reply["ok"], true) << reply.dump().substr(0, 200);
    EXPECT_TRUE(reply["result"]["text"] == text) << what;
    EXPECT_EQ(reply["result"]["bytes"], text.size()) << what;
    EXPECT_EQ(reply["result"]["truncated"], false) << what;
    EXPECT_TRUE(Lists(reply["result"]["types"], "text/plain;charset=utf-8"))
        << reply["result"]["types"];
    if (text.size() < 1001) continue;
    // Cut at max_bytes, on a character boundary.
    const Json cut = Read(1001);
    ASSERT_EQ(cut["ok"], true);
    EXPECT_EQ(cut["result"]["truncated"], true);
    const std::string head = cut["result"]["text"];
    EXPECT_LE(head.size(), 1001u);
    EXPECT_GE(head.size(), 998u);
    EXPECT_TRUE(head == text.substr(0, head.size()));
  }
}

TEST_F(WaylandClipboardTest, OwnerServesTextTypesAndLatin1AsString) {
  ASSERT_EQ(daemon_->Call("clipboard_write", {{"text", "Grüße 日"}})["ok"], true);
  const std::string types = WlPaste("--list-types");
  for (const char* type : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING"}) {
    EXPECT_NE(types.find(type), std::string::npos) << types;
  }
  EXPECT_EQ(WlPaste("--type STRING"), "Gr\xFC\xDF" "e ?");  // Latin-1
  EXPECT_EQ(WlPaste("--type text/plain"), "Grüße 日");
}

TEST_F(WaylandClipboardTest, OwnerThatNeverWritesCostsOneDeadline) {
  auto owner = WlCopyOwns("stopped owner");
  ASSERT_NE(owner, nullptr);
  ASSERT_EQ(kill(owner->pid(), SIGSTOP), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(daemon_->Call("clipboard_read"),
            (Json{{"error", "unavailable: the clipboard owner did not answer"}, {"ok", false}}));
  const auto took = std::chrono::steady_clock::now() - start;
  kill(owner->pid(), SIGCONT);
  // A bound, not a timing: the owner has 1 s; without a deadline the call
  // would never return.
  EXPECT_LT(took, 5s);
  // The daemon takes the clipboard back from the stopped owner.
  EXPECT_EQ(daemon_->Call("clipboard_write", {{"text", "after"}})["ok"], true);
  EXPECT_EQ(WlPaste(), "after");
}

// sway (wlroots) bridges the clipboard between Wayland and XWayland only
// while an X window has the keyboard focus: the Wayland selection is offered
// to X clients from the moment one takes it, and what an X client copies
// becomes the Wayland selection only while one has it (copies made while a
// native window has the focus stay among X clients).
TEST_F(WaylandClipboardTest, XClientsShareItThroughXWaylandWhileAnXWindowHasTheFocus) {
  if (access("/usr/bin/Xwayland", X_OK) != 0 || access("/usr/bin/xclip", X_OK) != 0) {
    GTEST_SKIP() << "Xwayland or xclip is not installed";
  }
  auto window = [](const std::string& backend, const std::string& title) {
    auto w = sway_->Launch({"GDK_BACKEND=" + backend, "NO_AT_BRIDGE=1", "/usr/bin/python3",
                            std::string(TARVIX_TEST_SOURCE_DIR) + "/gtk_window.py", "--title",
                            title});
    const std::optional<std::string> line = w ? w->ReadLine(20s) : std::nullopt;
    return line && line->starts_with("ready ") ? std::move(w) : nullptr;
  };
  auto native = window("wayland", "Native");
  auto x_window = window("x11", "X window");
  ASSERT_NE(native, nullptr);
  ASSERT_NE(x_window, nullptr);
  auto focus = [](const std::string& title) {
    sway_->Run("swaymsg '[title=\"^" + title + "$\"] focus' >/dev/null");
  };
  auto x_paste = [] {
    return sway_->Run("timeout 10 xclip -o -selection clipboard -t UTF8_STRING 2>/dev/null");
  };
  for (const std::string written_with : {"X window", "Native"}) {
    SCOPED_TRACE(written_with);
    focus(written_with);
    const std::string ours = "from the daemon, " + written_with + " focused: Grüße 日本";
    ASSERT_EQ(daemon_->Call("clipboard_write", {{"text", ours}})["ok"], true);
    focus("X window");
    EXPECT_EQ(x_paste(), ours);
    // xclip -i stays in the background as the owner until another takes
    // it; sway takes it in once XWayland tells it of the new owner.
    const std::string theirs = "from xclip, " + written_with + " first: é 😀";
    sway_->Run("printf %s '" + theirs + "' | xclip -i -selection clipboard >/dev/null 2>&1");
    Json reply;
    for (int tries = 0; tries < 100; ++tries) {
      reply = Read();
      if (reply["ok"] == true && reply["result"]["text"] == theirs) break;
      std::this_thread::sleep_for(50ms);  // polling for the owner change, not a timing
    }
    EXPECT_EQ(reply["result"]["text"], theirs) << reply.dump();
  }
}

// The daemon feeds its readers without waiting on one: a reader stuck
// with 5 MB to take (wl-paste whose own output nobody reads) does not hold
// up the next one.
TEST_F(WaylandClipboardTest, AReaderThatStopsTakingDoesNotHoldUpTheOwner) {
  const std::string text = Big(5 << 20);
  ASSERT_EQ(daemon_->Call("clipboard_write", {{"text", text}})["ok"], true);
  auto stuck = sway_->Launch({"/usr/bin/wl-paste", "--no-newline"});
  ASSERT_NE(stuck, nullptr);
  // It has begun to take the text (and stops once its output is full).
  ASSERT_EQ(stuck->ReadLine(20s), "line 0 é日");
  EXPECT_TRUE(WlPaste() == text);
  EXPECT_TRUE(Read()["result"]["text"] == text);
  EXPECT_EQ(daemon_->Call("clipboard_write", {{"text", "next"}})["ok"], true);
  EXPECT_EQ(WlPaste(), "next");
}

// Settled means quiet for stable_ms after the spinner's last frame: never
// before it stopped plus stable_ms.
TEST_F(WaylandWaitForTest, SettleSeesTheSpinnerStop) {
  auto spinner = Spinner("Stops", 1200);
  ASSERT_NE(spinner, nullptr);
  const Json settled = Wait({{"until", "settle"}, {"stable_ms", 300}, {"timeout_ms", 20000}});
  const double answered = MonotonicSeconds();
  const std::optional<std::string> stopped = spinner->ReadLine(5s);
  ASSERT_TRUE(stopped && stopped->starts_with("stopped ")) << stopped.value_or("nothing");
  EXPECT_EQ(settled["met"], true) << settled.dump();
  EXPECT_GE(answered, std::stod(stopped->substr(8)) + 0.3) << settled.dump();
}

TEST_F(WaylandWaitForTest, ChangeAndSettleOnAScreenThatKeepsChanging) {
  auto spinner = Spinner("Spins", 0);
  ASSERT_NE(spinner, nullptr);
  const Json busy = Wait({{"until", "settle"}, {"stable_ms", 300}, {"timeout_ms", 1000}});
  EXPECT_EQ(busy["met"], false) << busy.dump();
  EXPECT_GE(busy["elapsed_ms"].get<int64_t>(), 1000);
  // The spinner at the output's centre changes; a corner far from it
  // stays still.
  const Json centre = {{"x", 900}, {"y", 480}, {"w", 120}, {"h", 120}};
  const Json corner = {{"x", 20}, {"y", 60}, {"w", 300}, {"h", 200}};
  EXPECT_EQ(Wait({{"until", "change"}, {"timeout_ms", 10000}})["met"], true);
  EXPECT_EQ(Wait({{"until", "change"}, {"region", centre}, {"timeout_ms", 10000}})["met"], true);
  EXPECT_EQ(Wait({{"until", "settle"}, {"region", corner}, {"timeout_ms", 10000}})["met"], true);
  const Json still = Wait({{"until", "change"}, {"region", corner}, {"timeout_ms", 500}});
  EXPECT_EQ(still["met"], false) << still.dump();
  EXPECT_GE(still["elapsed_ms"].get<int64_t>(), 500);
}

}  // namespace
}  // namespace tarvix::testing
