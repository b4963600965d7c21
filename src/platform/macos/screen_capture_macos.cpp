// Screen capture on macOS: the system's screencapture program writes a PNG
// into the temporary directory, which is then read back. Areas are its -R
// rectangles (global points) and windows its -l window ids; scaling and
// JPEG go through the system's image tool, sips.
#include <ApplicationServices/ApplicationServices.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/os_error.h"
#include "platform/screen_capture.h"
#include "platform/temp_dir.h"

extern char** environ;

namespace tarvix {
namespace {

constexpr char kCaptureProgram[] = "/usr/sbin/screencapture";
constexpr char kCaptureFileName[] = "tarvix-agentd-shot.png";
constexpr char kImageProgram[] = "/usr/bin/sips";
constexpr char kCaptureRefused[] =
    "screencapture failed - grant Tarvix 'Screen Recording' in System Settings > Privacy & "
    "Security";

// TMPDIR as given, else the per-user directory, else /tmp.
std::string CapturePath() {
  std::string dir;
  if (const char* tmpdir = getenv("TMPDIR")) {
    dir = tmpdir;
  } else if (std::optional<std::string> per_user = PerUserTempDir()) {
    dir = std::move(*per_user);
  } else {
    dir = "/tmp";
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + kCaptureFileName;
}

// Runs a program to completion; its wait status or the spawn error.
Result<int> RunProgram(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawn_error = posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (spawn_error != 0) return Error(OsErrorText(spawn_error));
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return Error(OsErrorText(errno));
  }
  return status;
}

Result<std::string> ReadWholeFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Error(OsErrorText(errno));
  std::string bytes;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      const int error = errno;
      close(fd);
      return Error(OsErrorText(error));
    }
  }
  close(fd);
  return bytes;
}

// Creates or replaces the file at `path` with `bytes`, readable by the
// user alone.
Result<void> WriteWholeFile(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return Error(OsErrorText(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      close(fd);
      return Error(OsErrorText(error));
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
  return {};
}

// Runs the capture program to completion; its wait status or the spawn
// error number.
Result<int> RunCapture(const std::string& path) {
  return RunProgram({kCaptureProgram, "-x", "-t", "png", path});
}

// Every capture goes through the one file, so captures take turns: one
// call must not read, or remove, the file another is producing. Taking
// turns also bounds their memory, so nothing is reserved.
std::mutex& OneAtATime() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

uint32_t BigEndian32(const std::string& bytes, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// A grabbed PNG; other sizes and JPEG come from the system's image tool,
// sips, which resamples with a real filter.
class MacScreenImage : public ScreenImage {
 public:
  MacScreenImage(std::string png, int64_t x, int64_t y, double points_wide)
      : png_(std::move(png)), x_(x), y_(y) {
    if (png_.size() >= 24 && png_.compare(12, 4, "IHDR") == 0) {
      width_ = BigEndian32(png_, 16);
      height_ = BigEndian32(png_, 20);
    }
    scale_ = points_wide > 0 ? width_ / points_wide : 1;
  }

  uint32_t width() const override { return width_; }
  uint32_t height() const override { return height_; }
  int64_t origin_x() const override { return x_; }
  int64_t origin_y() const override { return y_; }
  double scale() const override { return scale_; }

  Result<std::string> Encode(const ImageEncoding& encoding) override {
    const bool png = encoding.format == ImageFormat::kPng;
    if (png && encoding.width == width_ && encoding.height == height_) return png_;
    std::lock_guard<std::mutex> lock(OneAtATime());
    const std::string in = CapturePath(), out = in + (png ? ".out.png" : ".out.jpg");
    Result<void> written = WriteWholeFile(in, png_);
    if (!written) return Error("write png: " + std::move(written).error());
    unlink(out.c_str());
    std::vector<std::string> args = {kImageProgram, "-s", "format", png ? "png" : "jpeg"};
    if (!png) args.insert(args.end(), {"-s", "formatOptions", std::to_string(encoding.quality)});
    args.insert(args.end(), {"-z", std::to_string(encoding.height), std::to_string(encoding.width),
                             in, "--out", out});
    Result<int> status = RunProgram(args);
    unlink(in.c_str());
    if (!status) return Error("sips spawn failed: " + std::move(status).error());
    if (*status != 0) return Error("sips failed to scale the capture");
    Result<std::string> bytes = ReadWholeFile(out);
    unlink(out.c_str());
    if (!bytes) return Error("read image: " + std::move(bytes).error());
    return bytes;
  }

 private:
  std::string png_;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  int64_t x_;
  int64_t y_;
  double scale_ = 1;
};

}  // namespace

Result<std::unique_ptr<ScreenImage>> GrabScreenArea(const CaptureArea& area, MemoryBudget&,
                                                    MemoryBudget::Grant&) {
  std::vector<std::string> args = {kCaptureProgram, "-x", "-t", "png"};
  if (area.cursor) args.push_back("-C");
  double points_wide = static_cast<double>(area.width);
  if (area.main_display) {
    points_wide = CGDisplayBounds(CGMainDisplayID()).size.width;
  } else if (area.window != 0) {
    args.insert(args.end(), {"-o", "-l", std::to_string(area.window)});
  } else {
    args.push_back("-R" + std::to_string(area.x) + "," + std::to_string(area.y) + "," +
                   std::to_string(area.width) + "," + std::to_string(area.height));
  }
  std::string png;
  {
    std::lock_guard<std::mutex> lock(OneAtATime());
    const std::string path = CapturePath();
    unlink(path.c_str());
    args.push_back(path);
    Result<int> status = RunProgram(args);
    if (!status) return Error("screencapture spawn failed: " + std::move(status).error());
    if (*status != 0) return Error(kCaptureRefused);
    Result<std::string> read = ReadWholeFile(path);
    unlink(path.c_str());
    if (!read) return Error("read png: " + std::move(read).error());
    png = std::move(read).value();
  }
  return std::unique_ptr<ScreenImage>(new MacScreenImage(
      std::move(png), area.main_display ? 0 : area.x, area.main_display ? 0 : area.y,
      points_wide));
}

Result<std::string> CaptureMainDisplayPng(MemoryBudget&, MemoryBudget::Grant&) {
  std::lock_guard<std::mutex> lock(OneAtATime());
  const std::string path = CapturePath();
  unlink(path.c_str());
  Result<int> status = RunCapture(path);
  if (!status) return Error("screencapture spawn failed: " + std::move(status).error());
  if (*status != 0) return Error(kCaptureRefused);
  Result<std::string> png = ReadWholeFile(path);
  // The image of the screen is not left behind for others to read.
  unlink(path.c_str());
  if (!png) return Error("read png: " + std::move(png).error());
  return png;
}

}  // namespace tarvix
