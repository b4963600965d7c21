#include "integration/sway_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace tarvix::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  pclose(pipe);
  return out;
}

// The test user, created on first use (root only).
bool EnsureUser(const char* name) {
  if (getpwnam(name) != nullptr) return true;
  const std::string add = std::string("useradd --system --no-create-home --shell /usr/sbin/nologin ") +
                          name + " >/dev/null 2>&1";
  return std::system(add.c_str()) == 0 && getpwnam(name) != nullptr;
}

// Waits (inotify on `dir`, already watched by `watch_fd`) until names
// matching both `wanted` predicates exist; the names, or nullopt.
template <typename IsDisplay, typename IsIpc>
std::optional<std::pair<std::string, std::string>> AwaitSockets(int watch_fd, const std::string& dir,
                                                                IsDisplay is_display, IsIpc is_ipc,
                                                                Clock::time_point deadline) {
  for (;;) {
    std::string display, ipc;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      if (is_display(name)) display = name;
      if (is_ipc(name)) ipc = entry.path().string();
    }
    if (!display.empty() && !ipc.empty()) return std::make_pair(display, ipc);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{watch_fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) > 0) {
      char events[4096];
      (void)!read(watch_fd, events, sizeof events);
    }
  }
}

}  // namespace

std::unique_ptr<SwaySession> SwaySession::Start(const SwayOptions& options) {
  const bool cage = options.compositor == "cage";
  if (options.compositor != "sway" && !cage) return nullptr;
  const std::string binary = "/usr/bin/" + options.compositor;
  if (access(binary.c_str(), X_OK) != 0) return nullptr;
  std::unique_ptr<SwaySession> session(new SwaySession);
  if (geteuid() == 0) {
    if (!EnsureUser(kSwayTestUser)) return nullptr;
    session->user_ = kSwayTestUser;
  }
  std::string dir = (std::filesystem::temp_directory_path() / "tarvix-sway-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) return nullptr;
  session->runtime_dir_ = dir;
  if (!session->user_.empty()) {
    const passwd* user = getpwnam(session->user_.c_str());
    if (chown(dir.c_str(), user->pw_uid, user->pw_gid) != 0) return nullptr;
  }

  std::ofstream config(dir + "/config");
  config << "output * bg " << options.background
         << (options.background.starts_with("#") ? " solid_color\n" : " stretch\n");
  for (size_t i = 0; i < options.outputs.size(); ++i) {
    const SwayOutput& o = options.outputs[i];
    config << "output HEADLESS-" << i + 1 << " mode " << o.width << "x" << o.height << " pos "
           << o.x << " " << o.y << " scale " << o.scale << " transform " << o.transform << "\n";
  }
  config << "xwayland " << (options.xwayland ? "enable" : "disable") << "\n";
  config.close();

  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (watch < 0) return nullptr;
  inotify_add_watch(watch, dir.c_str(), IN_CREATE | IN_MOVED_TO);

  std::vector<std::string> argv;
  if (!session->user_.empty()) {
    // setpriv ends in exec: the recorded pid is the compositor's.
    argv = {"/usr/bin/setpriv", "--reuid=" + session->user_, "--regid=" + session->user_,
            "--init-groups", "--"};
  }
  if (cage) {
    // cage runs one program and ends with it: one that marks the session
    // ready (cage starts it once its outputs exist) and then reads cage's
    // standard input, a pipe this session holds open. Closing the pipe ends
    // the program and with it cage, which on SIGTERM aborts and leaves the
    // program behind.
    argv.insert(argv.end(), {binary, "--", "/bin/sh", "-c",
                             "touch \"$XDG_RUNTIME_DIR/cage-ready\" && exec cat >/dev/null"});
  } else {
    argv.insert(argv.end(), {binary, "-c", dir + "/config"});
  }
  std::vector<std::string> env_strings = {
      "XDG_RUNTIME_DIR=" + dir, "WLR_BACKENDS=headless", "WLR_RENDERER=pixman",
      "WLR_LIBINPUT_NO_DEVICES=1",
      "WLR_HEADLESS_OUTPUTS=" + std::to_string(options.outputs.size()), "HOME=" + dir};
  if (const char* path = getenv("PATH")) env_strings.push_back(std::string("PATH=") + path);
  std::vector<char*> args, envp;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  int lifeline[2] = {-1, -1};
  if (cage && pipe2(lifeline, O_CLOEXEC) != 0) {
    close(watch);
    return nullptr;
  }
  session->lifeline_ = lifeline[1];
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (cage) {
    posix_spawn_file_actions_adddup2(&actions, lifeline[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  const std::string log = dir + "/" + options.compositor + ".log";
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  const Clock::time_point started = Clock::now();
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (lifeline[0] >= 0) close(lifeline[0]);
  if (spawned != 0) {
    close(watch);
    return nullptr;
  }
  session->sway_ = std::make_unique<SessionProcess>(pid, -1);

  // The compositor picks its own socket name (wayland-1 when wayland-0 is
  // taken anywhere it looks): read it back instead of assuming one.
  const auto deadline = started + std::chrono::seconds(10);
  const auto sockets = AwaitSockets(
      watch, dir,
      [](const std::string& name) {
        return name.starts_with("wayland-") && !name.ends_with(".lock");
      },
      [cage](const std::string& name) {
        return cage ? name == "cage-ready" : name.starts_with("sway-ipc.") && name.ends_with(".sock");
      },
      deadline);
  close(watch);
  if (!sockets) return nullptr;
  session->wayland_display_ = sockets->first;
  if (cage) {
    session->start_time_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    if (options.accessibility && !session->StartAccessibility()) return nullptr;
    return session;
  }
  session->swaysock_ = sockets->second;
  // The IPC socket exists before sway has set up its outputs; the first
  // answer to get_outputs listing them all is the session being ready.
  bool ready = false;
  while (!ready && Clock::now() < deadline) {
    const std::string outputs = session->Run("swaymsg -t get_outputs -r 2>/dev/null");
    size_t listed = 0;
    for (size_t at = outputs.find("\"HEADLESS-"); at != std::string::npos;
         at = outputs.find("\"HEADLESS-", at + 1)) {
      ++listed;
    }
    if (listed >= options.outputs.size()) {
      session->start_time_ =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
      ready = true;
    } else if (waitpid(pid, nullptr, WNOHANG) == pid) {
      session->sway_.reset(new SessionProcess(-1, -1));
      return nullptr;
    }
  }
  if (!ready) return nullptr;
  if (options.xwayland && !session->ReadXDisplay(deadline)) return nullptr;
  if (options.accessibility && !session->StartAccessibility()) return nullptr;
  return session;
}

bool SwaySession::StartAccessibility() {
  accessibility_ = AccessibilityBus::Start(
      runtime_dir_, [this](const std::vector<std::string>& argv) { return Launch(argv); },
      [this](const std::string& command) { return Run(command); });
  return accessibility_ != nullptr;
}

bool SwaySession::ReadXDisplay(std::chrono::steady_clock::time_point deadline) {
  // sway names its X display only in the environment of what it starts;
  // the file appears whole (renamed into place) once that has run.
  const std::string file = runtime_dir_ + "/x-display";
  Run("swaymsg exec " + Quoted("printenv DISPLAY >" + file + ".new && mv " + file + ".new " + file) +
      " >/dev/null");
  while (Clock::now() < deadline) {
    std::ifstream in(file);
    if (std::getline(in, x_display_) && x_display_.starts_with(":")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

SwaySession::~SwaySession() {
  accessibility_.reset();
  if (lifeline_ >= 0) close(lifeline_);
  sway_.reset();
  if (!runtime_dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(runtime_dir_, ignored);
  }
}

std::map<std::string, std::string> SwaySession::Env() const {
  std::map<std::string, std::string> env = {{"XDG_RUNTIME_DIR", runtime_dir_},
                                            {"WAYLAND_DISPLAY", wayland_display_}};
  if (!swaysock_.empty()) env["SWAYSOCK"] = swaysock_;
  if (accessibility_) env["DBUS_SESSION_BUS_ADDRESS"] = accessibility_->session_address();
  if (!x_display_.empty()) env["DISPLAY"] = x_display_;
  return env;
}

std::string SwaySession::Run(const std::string& shell_command) const {
  std::string command;
  if (!user_.empty()) {
    command = "setpriv --reuid=" + user_ + " --regid=" + user_ + " --init-groups -- ";
  }
  command += "env";
  for (const auto& [key, value] : Env()) command += " " + key + "=" + Quoted(value);
  command += " sh -c " + Quoted(shell_command);
  return Output(command);
}

std::unique_ptr<SessionProcess> SwaySession::Launch(const std::vector<std::string>& argv) const {
  std::string command = "exec ";
  if (!user_.empty()) {
    command += "setpriv --reuid=" + user_ + " --regid=" + user_ + " --init-groups -- ";
  }
  command += "env";
  for (const auto& [key, value] : Env()) command += " " + key + "=" + Quoted(value);
  for (const std::string& arg : argv) command += " " + Quoted(arg);
  int out[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) return nullptr;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const char* args[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  // Every exec on the way (sh, setpriv, env) replaces the one before: the
  // pid is the program's.
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, const_cast<char**>(args),
                                  environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned != 0) {
    close(out[0]);
    return nullptr;
  }
  return std::make_unique<SessionProcess>(pid, out[0]);
}

}  // namespace tarvix::testing
