#include "integration/x_session.h"

#include "integration/accessibility_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

extern char** environ;

namespace tarvix::testing {
namespace {

using Clock = std::chrono::steady_clock;

bool WaitGone(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  do {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (Clock::now() < deadline);
  return false;
}

// The root window's property `name`, or empty, on a fresh connection.
bool RootHasProperty(const std::string& display, const char* name) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  bool found = false;
  if (xcb_connection_has_error(c) == 0) {
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, static_cast<uint16_t>(strlen(name)), name), nullptr);
    if (atom != nullptr && atom->atom != XCB_ATOM_NONE) {
      const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
      xcb_get_property_reply_t* value = xcb_get_property_reply(
          c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_ANY, 0, 1), nullptr);
      found = value != nullptr && value->type != XCB_ATOM_NONE;
      free(value);
    }
    free(atom);
  }
  xcb_disconnect(c);
  return found;
}

}  // namespace

SessionProcess::~SessionProcess() {
  if (stdout_fd_ >= 0) close(stdout_fd_);
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (!WaitGone(pid_, std::chrono::seconds(3))) {
    kill(pid_, SIGKILL);
    WaitGone(pid_, std::chrono::seconds(10));
  }
}

std::optional<std::string> SessionProcess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (const size_t nl = buffered_.find('\n'); nl != std::string::npos) {
      std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (stdout_fd_ < 0 || left.count() <= 0) return std::nullopt;
    pollfd p{stdout_fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[512];
    const ssize_t n = read(stdout_fd_, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    buffered_.append(chunk, static_cast<size_t>(n));
  }
}

Json SessionProcess::NextReportWith(std::string_view member, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return nullptr;
    const std::optional<std::string> line = ReadLine(left);
    if (!line) return nullptr;
    Json report = Json::parse(*line, nullptr, false);
    if (report.is_object() && report.contains(member)) return report;
  }
}

std::vector<Json> SessionProcess::Drain(std::chrono::milliseconds quiet) {
  std::vector<Json> lines;
  while (std::optional<std::string> line = ReadLine(quiet)) {
    lines.push_back(Json::parse(*line, nullptr, false));
  }
  return lines;
}

std::unique_ptr<SessionProcess> XSession::Spawn(const std::vector<std::string>& argv,
                                                bool capture_stdout, int extra_fd,
                                                bool at_bridge) {
  int out[2] = {-1, -1};
  if (capture_stdout && pipe2(out, O_CLOEXEC) != 0) return nullptr;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (capture_stdout) {
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (extra_fd >= 0) posix_spawn_file_actions_adddup2(&actions, extra_fd, 3);

  // The session's programs see its display and no desktop bus: a GTK
  // program would otherwise start a stray bus (or an accessibility bridge)
  // that outlives the test.
  // With the private accessibility session they see only its buses, and
  // GTK's caches and settings stay in the session's own directory.
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.starts_with("DISPLAY=") || entry.starts_with("DBUS_SESSION_BUS_ADDRESS=") ||
        entry.starts_with("NO_AT_BRIDGE=") || entry.starts_with("XAUTHORITY=") ||
        entry.starts_with("AT_SPI_BUS_ADDRESS=") || entry.starts_with("XDG_")) {
      continue;
    }
    env_strings.push_back(entry);
  }
  if (!display_.empty()) env_strings.push_back("DISPLAY=" + display_);
  if (!session_address_.empty()) {
    env_strings.push_back("DBUS_SESSION_BUS_ADDRESS=" + session_address_);
    for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                             "XDG_DATA_HOME"}) {
      env_strings.push_back(std::string(name) + "=" + session_dir_);
    }
  } else {
    env_strings.push_back("DBUS_SESSION_BUS_ADDRESS=disabled:");
  }
  if (!atspi_address_.empty() && at_bridge) {
    env_strings.push_back("AT_SPI_BUS_ADDRESS=" + atspi_address_);
  } else {
    env_strings.push_back("NO_AT_BRIDGE=1");
  }
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  pid_t pid = -1;
  const int status = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (capture_stdout) close(out[1]);
  if (status != 0) {
    if (capture_stdout) close(out[0]);
    return nullptr;
  }
  return std::make_unique<SessionProcess>(pid, capture_stdout ? out[0] : -1);
}

std::unique_ptr<XSession> XSession::Start(int depth, int width, int height,
                                          std::optional<int> display_number,
                                          const std::vector<std::string>& server_args) {
  std::unique_ptr<XSession> session(new XSession);
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return nullptr;
  std::vector<std::string> argv = {"Xvfb"};
  if (display_number) argv.push_back(":" + std::to_string(*display_number));
  argv.insert(argv.end(), {"-displayfd", "3", "-screen", "0",
                           std::to_string(width) + "x" + std::to_string(height) + "x" +
                               std::to_string(depth),
                           "-noreset", "-nolisten", "tcp"});
  argv.insert(argv.end(), server_args.begin(), server_args.end());
  session->server_ = session->Spawn(argv, false, ready[1]);
  close(ready[1]);
  // With -displayfd the server writes its display number once it accepts
  // connections.
  SessionProcess reader(-1, ready[0]);
  std::optional<std::string> number = reader.ReadLine(std::chrono::seconds(10));
  if (!session->server_ || !number || number->empty()) return nullptr;
  session->number_ = std::atoi(number->c_str());
  session->display_ = ":" + *number;
  return session;
}

bool XSession::StartWindowManager() {
  window_manager_ = Spawn({"openbox", "--sm-disable"}, false);
  if (!window_manager_) return false;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (RootHasProperty(display_, "_NET_SUPPORTING_WM_CHECK")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::unique_ptr<SessionProcess> XSession::LaunchPython(const std::string& script,
                                                       const std::vector<std::string>& args,
                                                       bool at_bridge) {
  std::vector<std::string> argv = {"/usr/bin/python3",
                                   std::string(TARVIX_TEST_SOURCE_DIR) + "/" + script};
  argv.insert(argv.end(), args.begin(), args.end());
  return Spawn(argv, true, -1, at_bridge);
}

std::unique_ptr<SessionProcess> XSession::Launch(const std::vector<std::string>& argv,
                                                 bool at_bridge) {
  return Spawn(argv, true, -1, at_bridge);
}

std::map<std::string, std::string> XSession::SessionEnv() const {
  std::map<std::string, std::string> env = Env();
  if (!session_address_.empty()) env["DBUS_SESSION_BUS_ADDRESS"] = session_address_;
  return env;
}

bool XSession::StartAccessibility() {
  char dir[] = "/tmp/tarvix-a11y-XXXXXX";
  if (mkdtemp(dir) == nullptr) return false;
  session_dir_ = dir;
  accessibility_ = AccessibilityBus::Start(
      session_dir_, [this](const std::vector<std::string>& argv) { return Spawn(argv, true); },
      [this](const std::string& command) { return Run(command); });
  if (!accessibility_) return false;
  session_address_ = accessibility_->session_address();
  atspi_address_ = accessibility_->atspi_address();
  return true;
}

void XSession::StopAccessibility() {
  accessibility_.reset();
  if (!session_dir_.empty()) std::filesystem::remove_all(session_dir_);
  session_dir_.clear();
  session_address_.clear();
  atspi_address_.clear();
}

std::string XSession::Run(const std::string& shell_command) const {
  std::string output;
  const std::string command = "DISPLAY=" + display_ + " " + shell_command;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  pclose(pipe);
  return output;
}

int XSession::ClientCount() const {
  xcb_connection_t* c = xcb_connect(display_.c_str(), nullptr);
  int count = -1;
  if (xcb_connection_has_error(c) == 0) {
    xcb_res_query_clients_reply_t* reply =
        xcb_res_query_clients_reply(c, xcb_res_query_clients(c), nullptr);
    if (reply != nullptr) count = static_cast<int>(reply->num_clients) - 1;  // less this one
    free(reply);
  }
  xcb_disconnect(c);
  return count;
}

XSession::~XSession() { Stop(); }

void XSession::Stop() {
  StopAccessibility();
  window_manager_.reset();
  server_.reset();
}

}  // namespace tarvix::testing
