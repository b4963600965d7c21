// The input tool through the real daemon against a private X session, with
// a GTK window (input_probe.py) reporting what it receives.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/x_session.h"

namespace tarvix::testing {
namespace {

using std::chrono::milliseconds;
using namespace std::chrono_literals;

constexpr char kHint[] = " (Linux: set DISPLAY, and XAUTHORITY if needed, to the desktop session)";

// Characters no key produces, `count` of them, distinct: CJK ideographs and
// Greek capitals (whose keycodes are lent with Shift on the second level).
std::string CharactersOutsideTheLayout(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    const char32_t c = i % 2 == 0 ? U'\u4E00' + i : U'\u0391' + (i / 2) % 17;
    if (c < 0x800) {
      text += static_cast<char>(0xC0 | (c >> 6));
    } else {
      text += static_cast<char>(0xE0 | (c >> 12));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    text += static_cast<char>(0x80 | (c & 0x3F));
  }
  return text;
}

// Sends one input call and waits until the connection ends, whatever the
// answer: for a daemon that is killed before it answers.
void CallUntilTheDaemonGoes(uint16_t port, const Json& params) {
  const std::string body = Json{{"method", "input"}, {"params", params}}.dump();
  const std::string request = "POST /rpc HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                              std::string(kTestToken) + "\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                              body;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
  }
  close(fd);
}

size_t EntriesIn(const std::string& dir) {
  size_t count = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (readdir(d) != nullptr) ++count;
    closedir(d);
  }
  return count;
}

// A test's own view of the server: pointer and keyboard state.
class XProbe {
 public:
  explicit XProbe(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {}
  ~XProbe() { xcb_disconnect(c_); }

  // Pointer position and modifier/button mask; (-1, -1) on failure.
  std::tuple<int, int, int> Pointer() {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(c_, xcb_query_pointer(c_, root), nullptr);
    std::tuple<int, int, int> at{-1, -1, -1};
    if (reply != nullptr) at = {reply->root_x, reply->root_y, reply->mask};
    free(reply);
    return at;
  }
  // Every keysym of every keycode.
  std::vector<xcb_keysym_t> KeyboardMapping() {
    const xcb_setup_t* setup = xcb_get_setup(c_);
    const auto count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        c_, xcb_get_keyboard_mapping(c_, setup->min_keycode, count), nullptr);
    std::vector<xcb_keysym_t> syms;
    if (reply != nullptr) {
      const xcb_keysym_t* data = xcb_get_keyboard_mapping_keysyms(reply);
      syms.assign(data, data + xcb_get_keyboard_mapping_keysyms_length(reply));
    }
    free(reply);
    return syms;
  }
  // Whether the root window has the property `name`.
  bool RootHas(const std::string& name) {
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c_, xcb_intern_atom(c_, 1, static_cast<uint16_t>(name.size()), name.data()), nullptr);
    const xcb_atom_t id = atom != nullptr ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
    free(atom);
    if (id == XCB_ATOM_NONE) return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, root, id, XCB_ATOM_ANY, 0, 0), nullptr);
    const bool has = property != nullptr && property->type != XCB_ATOM_NONE;
    free(property);
    return has;
  }
  // Every key that is down, as the server's key vector (the 256 bits of
  // QueryKeymap); empty on failure.
  std::vector<uint8_t> PressedKeys() {
    xcb_query_keymap_reply_t* reply = xcb_query_keymap_reply(c_, xcb_query_keymap(c_), nullptr);
    std::vector<uint8_t> keys;
    if (reply != nullptr) keys.assign(reply->keys, reply->keys + 32);
    free(reply);
    return keys;
  }

 private:
  xcb_connection_t* c_;
};

class InputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    session_ = XSession::Start(24, 1280, 800).release();
    if (session_ == nullptr || !session_->StartWindowManager()) return;
    probe_ = session_->LaunchPython("input_probe.py", {}).release();
    const Json ready = NextWith(probe_, "ready", 10s);
    if (ready.is_null()) return;
    area_ = ready["area"].get<std::vector<int>>();
    text_view_ = ready["text_view"].get<std::vector<int>>();
    daemon_ = TestDaemon::Start({.allow_exec = true, .env = session_->Env()}).release();
  }
  static void TearDownTestSuite() {
    delete daemon_;
    delete probe_;
    delete session_;
    daemon_ = nullptr;
    probe_ = nullptr;
    session_ = nullptr;
  }
  void SetUp() override {
    if (daemon_ == nullptr) GTEST_SKIP() << "no private X session (Xvfb, openbox, GTK)";
    Drain();
  }

  static Json NextWith(SessionProcess* process, const char* member, milliseconds timeout) {
    return process->NextReportWith(member, timeout);
  }
  // Every report until the probe has been quiet for `quiet`.
  static std::vector<Json> Drain(milliseconds quiet = 300ms) { return probe_->Drain(quiet); }
  static Json Input(Json params) { return daemon_->Call("input", params); }
  static void ExpectDone(const Json& reply) {
    EXPECT_EQ(reply.value("ok", false), true) << reply.dump();
  }
  // Types `text` into the emptied text view and returns what arrived.
  static std::string TypeAndRead(const std::string& text) {
    ExpectDone(Input({{"action", "key"}, {"name", "Escape"}}));
    if (NextWith(probe_, "cleared", 5s).is_null()) return "<the text view was not cleared>";
    ExpectDone(Input({{"action", "type"}, {"text", text}}));
    const Json report = NextWith(probe_, "text", 5s);
    return report.is_null() ? "<nothing arrived>" : report["text"].get<std::string>();
  }

  static inline XSession* session_ = nullptr;
  static inline SessionProcess* probe_ = nullptr;
  static inline TestDaemon* daemon_ = nullptr;
  static inline std::vector<int> area_, text_view_;
};

// A batch crosses to the input loop and back step by step, in order, and
// stops at the first failure: the step after it never moves the pointer.
TEST_F(InputTest, BatchRunsInputStepsInOrderAndStopsAtTheFirstFailure) {
  XProbe x(session_->display());
  const Json done = daemon_->Call(
      "batch", {{"steps",
                 {{{"method", "input"}, {"params", {{"action", "key"}, {"name", "Escape"}}}},
                  {{"method", "input"}, {"params", {{"action", "type"}, {"text", "batch ü"}}}},
                  {{"method", "get_system_info"}},
                  {{"method", "input"}, {"params", {{"action", "move"}, {"x", 7}, {"y", 9}}}}}}});
  ASSERT_EQ(done["result"]["completed"], 4) << done.dump();
  EXPECT_EQ(done["result"]["failed_at"], nullptr);
  EXPECT_EQ(NextWith(probe_, "text", 5s).value("text", ""), "batch ü");
  EXPECT_EQ(std::get<0>(x.Pointer()), 7);
  const Json stopped = daemon_->Call(
      "batch", {{"steps",
                 {{{"method", "input"}, {"params", {{"action", "move"}, {"x", 20}, {"y", 30}}}},
                  {{"method", "input"}, {"params", {{"action", "jump"}}}},
                  {{"method", "input"}, {"params", {{"action", "move"}, {"x", 99}, {"y", 99}}}}}}});
  EXPECT_EQ(stopped["result"]["completed"], 1) << stopped.dump();
  EXPECT_EQ(stopped["result"]["failed_at"], 1);
  EXPECT_EQ(stopped["result"]["results"].size(), 2u);
  const auto [px, py, mask] = x.Pointer();
  EXPECT_EQ(std::pair(px, py), std::pair(20, 30));
  // Each step is audited as a call of its own, then the batch.
  std::ifstream log(daemon_->default_audit_path());
  std::vector<std::string> methods;
  for (std::string line; std::getline(log, line);) methods.push_back(Json::parse(line)["method"]);
  ASSERT_GE(methods.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(methods.end() - 4, methods.end()),
            (std::vector<std::string>{"batch", "input", "input", "batch"}));
}

TEST(InputOpenTest, WithoutAUsableDisplayTheOpenTextsComeBack) {
  for (const char* display : {"", ":98765"}) {
    std::map<std::string, std::string> env;
    if (*display != '\0') env["DISPLAY"] = display;
    auto daemon = TestDaemon::Start({.allow_exec = true, .env = env});
    EXPECT_EQ(daemon->Call("input", {{"action", "move"}, {"x", 1}, {"y", 1}}),
              Json({{"ok", false},
                    {"error", std::string("input unavailable: no connection could be "
                                          "established: (cannot open the X display)") +
                                  kHint}}))
        << display;
  }
}

TEST(InputOpenTest, AServerWithoutXTestIsNamed) {
  auto session = XSession::Start(24, 320, 200, std::nullopt, {"-extension", "XTEST"});
  if (!session) GTEST_SKIP() << "no Xvfb";
  auto daemon = TestDaemon::Start({.allow_exec = true, .env = session->Env()});
  EXPECT_EQ(daemon->Call("input", {{"action", "key"}, {"name", "a"}})["error"],
            std::string("input unavailable: no connection could be established: (the X server "
                        "lacks the XTEST extension)") +
                kHint);
}

TEST_F(InputTest, MoveSetsThePointer) {
  XProbe x(session_->display());
  for (const auto& [to_x, to_y] : {std::pair{10, 10}, {1279, 799}, {0, 0}, {640, 400}}) {
    ExpectDone(Input({{"action", "move"}, {"x", to_x}, {"y", to_y}}));
    const auto [px, py, mask] = x.Pointer();
    EXPECT_EQ(std::pair(px, py), std::pair(to_x, to_y));
  }
}

TEST_F(InputTest, ClicksLandOnTheSpotWithTheirButton) {
  const int at_x = area_[0] + 30, at_y = area_[1] + 40;
  for (const auto& [name, number] : {std::pair{"left", 1}, {"middle", 2}, {"right", 3}}) {
    ExpectDone(Input({{"action", "click"}, {"x", at_x}, {"y", at_y}, {"button", name}}));
    EXPECT_EQ(NextWith(probe_, "button", 3s),
              Json({{"button", number}, {"type", "BUTTON_PRESS"}, {"x", at_x}, {"y", at_y}}));
  }
}

TEST_F(InputTest, DoubleClickIsOneDoubleClickAndRequestsNeverJoin) {
  const int at_x = area_[0] + 50, at_y = area_[1] + 50;
  ExpectDone(Input({{"action", "double_click"}, {"x", at_x}, {"y", at_y}}));
  ExpectDone(Input({{"action", "click"}}));
  ExpectDone(Input({{"action", "click"}}));
  ExpectDone(Input({{"action", "double_click"}}));
  ExpectDone(Input({{"action", "double_click"}}));
  std::vector<std::string> types;
  for (const Json& report : Drain(600ms)) {
    if (report.contains("button")) types.push_back(report["type"]);
  }
  // GTK reports each press, then the double click on the second.
  EXPECT_EQ(types, (std::vector<std::string>{
                       "BUTTON_PRESS", "BUTTON_PRESS", "2BUTTON_PRESS",  // double_click
                       "BUTTON_PRESS",                                   // click
                       "BUTTON_PRESS",                                   // click
                       "BUTTON_PRESS", "BUTTON_PRESS", "2BUTTON_PRESS",  // double_click
                       "BUTTON_PRESS", "BUTTON_PRESS", "2BUTTON_PRESS",  // double_click
                   }));
}

TEST_F(InputTest, ScrollsArriveWithDirectionAndCount) {
  ExpectDone(Input({{"action", "move"}, {"x", area_[0] + 20}, {"y", area_[1] + 20}}));
  ExpectDone(Input({{"action", "scroll"}, {"dy", 2}}));
  ExpectDone(Input({{"action", "scroll"}, {"dy", -3}, {"dx", 1}}));
  ExpectDone(Input({{"action", "scroll"}, {"dx", -2}}));
  std::vector<std::string> scrolls;
  for (const Json& report : Drain()) {
    if (report.contains("scroll")) scrolls.push_back(report["scroll"]);
  }
  EXPECT_EQ(scrolls, (std::vector<std::string>{"up", "up", "down", "down", "down", "right",
                                               "left", "left"}));
}

TEST_F(InputTest, KeyNamesArriveAsTheirKeys) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"Enter", {"Return"}},   {"tab", {"Tab"}},           {"BackSpace", {"BackSpace"}},
      {"Delete", {"Delete"}},  {"space", {"space"}},       {"Up", {"Up"}},
      {"Down", {"Down"}},      {"Left", {"Left"}},         {"Right", {"Right"}},
      {"Home", {"Home"}},      {"End", {"End"}},           {"PageUp", {"Page_Up"}},
      {"page_down", {"Page_Down"}}, {"Shift", {"Shift_L"}},     {"Ctrl", {"Control_L"}},
      {"Alt", {"Alt_L"}},      {"Cmd", {"Super_L"}},       {"F1", {"F1"}},
      {"F12", {"F12"}},        {"a", {"a"}},               {"A", {"Shift_L", "A"}},
      {"\xE2\x82\xAC", {"EuroSign"}},
  };
  for (const auto& [name, expected] : cases) {
    ExpectDone(Input({{"action", "key"}, {"name", name}}));
    std::vector<std::string> keys;
    for (const Json& report : Drain(150ms)) {
      if (report.contains("key")) keys.push_back(report["key"]);
    }
    EXPECT_EQ(keys, expected) << name;
  }
}

TEST_F(InputTest, TextArrivesExactlyAndTheKeyboardIsLeftAsFound) {
  XProbe x(session_->display());
  const std::vector<xcb_keysym_t> mapping = x.KeyboardMapping();
  const std::string texts[] = {
      "Hello, World! 0123456789 ~`!@#$%^&*()_+-={}[]|\\:;\"'<>,.?/",
      "UPPER lower MiXeD",
      "tab\there\nline\rreturn\r\nend",
      "\xC3\xA0\xC3\xA9\xC3\xAE\xC3\xB5\xC3\xBC \xC3\x9F \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC x",
      "\xF0\x9F\x98\x80 \xC3\x89t\xC3\xA9",
  };
  for (const std::string& text : texts) {
    std::string expected = text;
    for (size_t at; (at = expected.find("\r\n")) != std::string::npos;) expected.erase(at, 1);
    std::replace(expected.begin(), expected.end(), '\r', '\n');
    EXPECT_EQ(TypeAndRead(text), expected);
    EXPECT_EQ(std::get<2>(x.Pointer()), 0) << "a modifier is still held after " << text;
    // What a finished call recorded for a successor is gone with it.
    EXPECT_FALSE(x.RootHas("_TARVIX_INPUT_LEDGER")) << text;
  }
  EXPECT_EQ(x.KeyboardMapping(), mapping);
}

TEST_F(InputTest, CapsLockDoesNotChangeWhatIsTyped) {
  ExpectDone(Input({{"action", "key"}, {"name", "caps_lock"}}));
  const std::string typed = TypeAndRead("aB \xC3\xA9\xC3\x89");
  ExpectDone(Input({{"action", "key"}, {"name", "caps_lock"}}));
  EXPECT_EQ(typed, "aB \xC3\xA9\xC3\x89");
}

TEST_F(InputTest, CharactersNoKeyProducesArriveEveryTime) {
  const std::string text =
      "\xC3\xA0\xC3\xA9\xC3\xAE\xC3\xB5\xC3\xBC \xC3\x9F \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC x";
  std::vector<std::string> wrong;
  for (int i = 0; i < 20; ++i) {
    if (std::string typed = TypeAndRead(text); typed != text) wrong.push_back(typed);
  }
  EXPECT_EQ(wrong, std::vector<std::string>{});
}

TEST_F(InputTest, AThousandCharactersArriveExactly) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += static_cast<char>(' ' + (i * 7919) % 95);
  EXPECT_EQ(TypeAndRead(text), text);
}

TEST_F(InputTest, ManyCallsLeaveNoDescriptorThreadOrClientBehind) {
  const std::string fds = "/proc/" + std::to_string(daemon_->pid()) + "/fd";
  const std::string tasks = "/proc/" + std::to_string(daemon_->pid()) + "/task";
  ExpectDone(Input({{"action", "move"}, {"x", 5}, {"y", 5}}));  // warm the HTTP side
  std::this_thread::sleep_for(200ms);
  const size_t fds_before = EntriesIn(fds), tasks_before = EntriesIn(tasks);
  const int clients_before = session_->ClientCount();
  for (int i = 0; i < 1000; ++i) {
    // Moves and empty scrolls, and now and then keys through the keymap
    // and lent keycodes.
    const Json params = i % 50 == 0  ? Json{{"action", "type"}, {"text", "x\xC3\xA9\xE2\x82\xAC"}}
                        : i % 2 == 0 ? Json{{"action", "move"}, {"x", i % 500}, {"y", 7}}
                                     : Json{{"action", "scroll"}, {"dx", 0}, {"dy", 0}};
    ASSERT_EQ(Input(params).value("ok", false), true) << i;
  }
  // The daemon closes its side of the last HTTP connection on its own
  // time; give it a moment before counting.
  const auto settled = [](const std::string& dir, size_t limit) {
    for (int i = 0; i < 100 && EntriesIn(dir) > limit; ++i) std::this_thread::sleep_for(20ms);
    return EntriesIn(dir);
  };
  EXPECT_LE(settled(fds, fds_before), fds_before);
  EXPECT_LE(settled(tasks, tasks_before), tasks_before);
  EXPECT_EQ(session_->ClientCount(), clients_before);
}

// A client that takes pings but does not answer stops the typing: the
// request fails after the deadline saying how much was sent, nothing after
// that is typed, and the keyboard is left as it was.
TEST_F(InputTest, AClientThatTakesNoKeysFailsTheTextAndNothingMoreIsTyped) {
  XProbe x(session_->display());
  const std::vector<xcb_keysym_t> mapping = x.KeyboardMapping();
  ExpectDone(Input({{"action", "key"}, {"name", "Escape"}}));
  ASSERT_FALSE(NextWith(probe_, "cleared", 5s).is_null());
  kill(probe_->pid(), SIGSTOP);
  const auto started = std::chrono::steady_clock::now();
  // More distinct characters than the spare keycodes carry at once.
  const Json reply = Input({{"action", "type"}, {"text", CharactersOutsideTheLayout(200)}});
  const auto spent = std::chrono::steady_clock::now() - started;
  kill(probe_->pid(), SIGCONT);
  const std::string error = reply.value("error", "");
  size_t sent = 0;
  const int parsed = sscanf(error.c_str(),
                            "type failed: the focused application did not take the keys within "
                            "5 s (%zu of 200 characters sent)",
                            &sent);
  EXPECT_EQ(parsed, 1) << reply.dump();
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, 200u);
  EXPECT_GE(spent, 5s);
  EXPECT_EQ(x.KeyboardMapping(), mapping);
  const Json typed = NextWith(probe_, "text", 3s);
  if (!typed.is_null()) {
    const std::string text = typed["text"];
    size_t characters = 0;
    for (const char byte : text) characters += (byte & 0xC0) != 0x80;
    EXPECT_LE(characters, sent) << text;
  }
}

// A daemon killed while typing leaves keycodes lent and keys down; one
// stopped by SIGTERM, SIGINT or SIGHUP puts them back itself and still dies
// of the signal, and after SIGKILL the next daemon puts them back before
// its first input.
TEST(InputLeftoversTest, ADaemonKilledWhileTypingLeavesTheKeyboardAsItWas) {
  auto session = XSession::Start(24, 640, 480);
  if (!session) GTEST_SKIP() << "no Xvfb";
  XProbe x(session->display());
  const std::vector<xcb_keysym_t> mapping = x.KeyboardMapping();
  const std::vector<uint8_t> keys = x.PressedKeys();
  const int mask = std::get<2>(x.Pointer());
  ASSERT_FALSE(mapping.empty());
  const std::string text = CharactersOutsideTheLayout(200);
  for (const int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
    auto daemon = TestDaemon::Start({.allow_exec = true, .env = session->Env()});
    auto typing = std::async(std::launch::async, CallUntilTheDaemonGoes, daemon->port(),
                             Json{{"action", "type"}, {"text", text}});
    // Mid-typing: the first keycode is lent.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (x.KeyboardMapping() == mapping && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
    ASSERT_NE(x.KeyboardMapping(), mapping) << signal_number;
    kill(daemon->pid(), signal_number);
    EXPECT_EQ(daemon->WaitExit(10s), -signal_number);
    typing.wait();
    if (signal_number == SIGKILL) {
      auto next = TestDaemon::Start({.allow_exec = true, .env = session->Env()});
      EXPECT_EQ(next->Call("input", {{"action", "move"}, {"x", 1}, {"y", 1}})["ok"], true);
    }
    EXPECT_EQ(x.KeyboardMapping(), mapping) << signal_number;
    EXPECT_EQ(x.PressedKeys(), keys) << signal_number;
    EXPECT_EQ(std::get<2>(x.Pointer()), mask) << signal_number;
  }
}

TEST(InputServerGoneTest, AServerThatDiesMidRequestGivesAnErrorNotADeadDaemon) {
  auto session = XSession::Start(24, 640, 480);
  if (!session) GTEST_SKIP() << "no Xvfb";
  auto daemon = TestDaemon::Start({.allow_exec = true, .env = session->Env()});
  // Many distinct characters no key produces: the request reuses spare
  // keycodes and waits for clients, long enough to pull the server away.
  std::string text;
  for (char32_t c = 0x4E00; c < 0x4E00 + 600; ++c) {
    text += static_cast<char>(0xE0 | (c >> 12));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  }
  auto typing = std::async(std::launch::async, [&] {
    return daemon->Call("input", {{"action", "type"}, {"text", text}});
  });
  std::this_thread::sleep_for(300ms);
  session->Stop();
  const Json reply = typing.get();
  EXPECT_EQ(reply, Json({{"ok", false},
                         {"error", "type failed: simulating input failed: (failed creating "
                                   "event to enter the text)"}}));
  EXPECT_EQ(daemon->Call("input", {{"action", "move"}, {"x", 1}, {"y", 1}})["error"],
            std::string("input unavailable: no connection could be established: (cannot open "
                        "the X display)") +
                kHint);
}

}  // namespace
}  // namespace tarvix::testing
