// clipboard_read and clipboard_write through the real daemon on a private
// X session, with xclip as the other party in both directions.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/x_session.h"

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

class ClipboardTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    session_ = XSession::Start(24, 640, 480).release();
    if (session_ == nullptr) return;
    daemon_ = TestDaemon::Start({.allow_exec = true, .env = session_->Env()}).release();
  }
  static void TearDownTestSuite() {
    delete daemon_;
    delete session_;
    daemon_ = nullptr;
    session_ = nullptr;
  }
  void SetUp() override {
    if (daemon_ == nullptr) GTEST_SKIP() << "no private X session (Xvfb)";
  }

  static Json Read(size_t max_bytes = 16u << 20) {
    return daemon_->Call("clipboard_read", {{"max_bytes", max_bytes}});
  }
  // xclip takes the clipboard with `text` and keeps serving it in the
  // foreground; returns once the daemon reads it back.
  static std::unique_ptr<SessionProcess> XclipOwns(const std::string& text) {
    const std::string path = daemon_->home() + "/clip.in";
    std::ofstream(path, std::ios::binary) << text;
    auto xclip = session_->Launch({"xclip", "-quiet", "-selection", "clipboard", "-i", path});
    for (int tries = 0; tries < 200; ++tries) {
      // Read whole: xclip serves nobody else while a transfer is unfinished.
      const Json reply = Read();
      if (reply["ok"] == true && reply["result"]["text"] == text) return xclip;
      std::this_thread::sleep_for(50ms);  // polling for xclip to take over, not a timing
    }
    ADD_FAILURE() << "xclip never owned the clipboard";
    return xclip;
  }
  static std::string XclipOut(const std::string& target = "UTF8_STRING") {
    return session_->Run("xclip -selection clipboard -o -t " + target + " 2>/dev/null");
  }

  static XSession* session_;
  static TestDaemon* daemon_;
};
XSession* ClipboardTest::session_ = nullptr;
TestDaemon* ClipboardTest::daemon_ = nullptr;

// First in the suite: nothing has owned the clipboard of the new session.
TEST_F(ClipboardTest, EmptyWhenNothingOwnsIt) {
  EXPECT_EQ(daemon_->Call("clipboard_read"),
            Json::parse(R"({"ok":true,"result":{"bytes":0,"text":"","truncated":false,)"
                        R"("types":[]}})"));
}

TEST_F(ClipboardTest, RoundTripsWithXclipBothWays) {
  const std::string texts[] = {"hello, clipboard", "é 日本語 😀 Grüße", Big(5 << 20)};
  for (const std::string& text : texts) {
    const std::string what = text.substr(0, 20);
    // The daemon owns it, xclip reads it (INCR for the large one).
    EXPECT_EQ(daemon_->Call("clipboard_write", {{"text", text}}),
              (Json{{"ok", true}, {"result", {{"bytes", text.size()}, {"done", true}}}}))
        << what;
    EXPECT_TRUE(XclipOut() == text) << what;  // (no 5 MB failure messages)
    // xclip owns it, the daemon reads it.
    auto xclip = XclipOwns(text);
    const Json reply = Read();
    ASSERT_EQ(reply["ok"], true) << reply.dump().substr(0, 200);
    EXPECT_TRUE(reply["result"]["text"] == text) << what;
    EXPECT_EQ(reply["result"]["bytes"], text.size()) << what;
    EXPECT_EQ(reply["result"]["truncated"], false) << what;
    EXPECT_NE(std::find(reply["result"]["types"].begin(), reply["result"]["types"].end(),
                        "UTF8_STRING"),
              reply["result"]["types"].end())
        << reply["result"]["types"].dump();
    if (text.size() < 1001) continue;
    // Cut at max_bytes, on a character boundary (last: xclip is left
    // waiting for the rest).
    const Json cut = Read(1001);
    ASSERT_EQ(cut["ok"], true);
    EXPECT_EQ(cut["result"]["truncated"], true);
    const std::string head = cut["result"]["text"];
    EXPECT_LE(head.size(), 1001u);
    EXPECT_GE(head.size(), 998u);
    EXPECT_TRUE(head == text.substr(0, head.size()));
  }
}

TEST_F(ClipboardTest, OwnerServesTextTargetsAndRefusesOthers) {
  ASSERT_EQ(daemon_->Call("clipboard_write", {{"text", "Grüße 日"}})["ok"], true);
  const std::string targets = XclipOut("TARGETS");
  for (const char* target : {"TARGETS", "UTF8_STRING", "STRING", "TEXT"}) {
    EXPECT_NE(targets.find(target), std::string::npos) << targets;
  }
  EXPECT_EQ(XclipOut("STRING"), "Gr\xFC\xDF" "e ?");  // Latin-1
  EXPECT_EQ(XclipOut("TEXT"), "Grüße 日");
  EXPECT_EQ(XclipOut("image/png"), "");
  EXPECT_EQ(XclipOut("MULTIPLE"), "");
  // Still serving after the refusals; the daemon reads its own text.
  EXPECT_EQ(XclipOut(), "Grüße 日");
  EXPECT_EQ(Read()["result"]["text"], "Grüße 日");
}

TEST_F(ClipboardTest, OwnerThatNeverAnswersCostsOneDeadline) {
  auto xclip = XclipOwns("stopped owner");
  ASSERT_EQ(kill(xclip->pid(), SIGSTOP), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(daemon_->Call("clipboard_read"),
            (Json{{"error", "unavailable: the clipboard owner did not answer"}, {"ok", false}}));
  const auto took = std::chrono::steady_clock::now() - start;
  kill(xclip->pid(), SIGCONT);
  // A bound, not a timing: without a deadline the call would never return.
  EXPECT_LT(took, 10s);
  // The daemon takes the clipboard back from the stopped owner.
  EXPECT_EQ(daemon_->Call("clipboard_write", {{"text", "after"}})["ok"], true);
  EXPECT_EQ(XclipOut(), "after");
}

TEST_F(ClipboardTest, WriteIsExecModeOnly) {
  auto read_only = TestDaemon::Start({.env = session_->Env()});
  EXPECT_EQ(read_only->Call("clipboard_write", {{"text", "x"}}),
            (Json{{"error", "clipboard_write is disabled (read-only mode; start with --allow-exec)"},
                  {"ok", false}}));
  EXPECT_EQ(daemon_->Call("clipboard_write", Json::object()),
            (Json{{"error", "missing param: text"}, {"ok", false}}));
}

}  // namespace
}  // namespace tarvix::testing
