// Screen capture on X11: a rectangle of the root window (the main
// display's for screenshots, only the asked area for captures), read
// through MIT-SHM (one copy by the server into memory shared with the
// daemon) or, when the server cannot share memory with us, a plain
// GetImage; encoded in memory as PNG. No program runs and no file is
// written, so the image never passes through a shared directory.
//
// Agents take one screenshot per step, so the connection and the shared
// segments stay warm between calls and are given back once captures have
// stopped for a few seconds. A segment is leased to one capture at a time;
// up to one idle segment is kept, so six captures at once cost six
// segments only while they run, and every capture first reserves its
// memory from the screenshots' shared budget.
//
// A server that does not answer within the deadline costs that capture
// its connection: the warm connection is severed and dropped, and the next
// capture connects afresh.
#include <malloc.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <unistd.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/screen_capture.h"
#include "platform/x11/image_scale.h"
#include "platform/x11/png_encoder.h"
#include "platform/x11/x_connection.h"

namespace tarvix {
namespace {

constexpr auto kIdleRelease = std::chrono::seconds(3);
constexpr char kNoImage[] = "screencapture failed - the X server returned no image of the screen";
constexpr char kFailed[] = "screencapture failed - ";

// The reply for an X failure that ended a capture.
Unexpected<std::string> XFailure(const std::string& error) {
  if (error == kXServerSilent) return Error(kFailed + error);
  if (error == "cannot open the X display") return Error(std::string(kFailed) + kXDisplayHint);
  return Error(kNoImage);
}

// What one capture may hold at its peak: the pixels as the server sends
// them, the PNG at its worst (8-bit RGB rows with a filter byte each,
// stored uncompressed, plus zlib's and the chunks' framing) and the PNG's
// Base64 text.
size_t CaptureBytes(size_t image_bytes, uint32_t width, uint32_t height) {
  const size_t rows = size_t{height} * (size_t{width} * 3 + 1);
  const size_t png = rows + rows / 1000 + (size_t{height} / 64 + 1) * 64 + 4096;
  return image_bytes + png + (png + 2) / 3 * 4;
}

// A connection and what the server offers on it.
struct Session {
  std::unique_ptr<XConnection> x;
  std::atomic<bool> shm{false};     // MIT-SHM usable
  std::atomic<bool> shm_fd{false};  // segments may be passed as descriptors (MIT-SHM 1.2)
};

// Memory shared with the server under one segment id of one connection.
class Segment {
 public:
  // A segment of `size` bytes attached on `session`; null when the server
  // will not attach it; an error when it does not answer.
  static Result<std::unique_ptr<Segment>> Create(const std::shared_ptr<Session>& session,
                                                 size_t size) {
    const XConnection& x = *session->x;
    xcb_connection_t* c = x.get();
    const xcb_shm_seg_t id = xcb_generate_id(c);
    if (session->shm_fd) {
      // A memory file passed to the server: nothing outlives the two
      // processes, even if either dies before detaching.
      const int fd = memfd_create("tarvix-agentd-screen", MFD_CLOEXEC);
      if (fd >= 0) {
        void* memory = MAP_FAILED;
        if (ftruncate(fd, static_cast<off_t>(size)) == 0) {
          memory = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        }
        if (memory == MAP_FAILED) {
          close(fd);
          return std::unique_ptr<Segment>();
        }
        // XCB closes the descriptor once it is sent.
        const Result<void> attached = x.Check(xcb_shm_attach_fd_checked(c, id, fd, 0));
        if (attached) return std::unique_ptr<Segment>(new Segment(session, id, memory, size, false));
        munmap(memory, size);
        if (x.broken()) return Error(attached.error());
        return std::unique_ptr<Segment>();
      }
    }
    // System V memory, marked for removal as soon as the server has it, so
    // it disappears with the last process that maps it.
    const int shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shmid < 0) return std::unique_ptr<Segment>();
    void* memory = shmat(shmid, nullptr, SHM_RDONLY);
    if (memory == reinterpret_cast<void*>(-1)) {
      shmctl(shmid, IPC_RMID, nullptr);
      return std::unique_ptr<Segment>();
    }
    const Result<void> attached =
        x.Check(xcb_shm_attach_checked(c, id, static_cast<uint32_t>(shmid), 0));
    shmctl(shmid, IPC_RMID, nullptr);
    if (!attached) {
      shmdt(memory);
      if (x.broken()) return Error(attached.error());
      return std::unique_ptr<Segment>();
    }
    return std::unique_ptr<Segment>(new Segment(session, id, memory, size, true));
  }

  ~Segment() {
    if (!session_->x->broken()) {
      xcb_shm_detach(session_->x->get(), id_);
      xcb_flush(session_->x->get());
    }
    if (sysv_) {
      shmdt(memory_);
    } else {
      munmap(memory_, size_);
    }
  }
  Segment(const Segment&) = delete;
  Segment& operator=(const Segment&) = delete;

  const std::shared_ptr<Session>& session() const { return session_; }
  xcb_shm_seg_t id() const { return id_; }
  const uint8_t* data() const { return static_cast<const uint8_t*>(memory_); }
  size_t size() const { return size_; }

 private:
  Segment(std::shared_ptr<Session> session, xcb_shm_seg_t id, void* memory, size_t size, bool sysv)
      : session_(std::move(session)), id_(id), memory_(memory), size_(size), sysv_(sysv) {}
  std::shared_ptr<Session> session_;
  xcb_shm_seg_t id_;
  void* memory_;
  size_t size_;
  bool sysv_;
};

Result<std::shared_ptr<Session>> OpenSession() {
  Result<std::unique_ptr<XConnection>> x = XConnection::Open();
  if (!x) return XFailure(x.error());
  auto session = std::make_shared<Session>();
  session->x = std::move(x).value();
  const XConnection& connection = *session->x;
  Result<const xcb_query_extension_reply_t*> shm = connection.Extension(&xcb_shm_id);
  if (!shm) return XFailure(shm.error());
  if (*shm != nullptr && (*shm)->present) {
    Result<XcbReply<xcb_shm_query_version_reply_t>> version =
        connection.Await<xcb_shm_query_version_reply_t>(xcb_shm_query_version(connection.get()));
    if (!version) return XFailure(version.error());
    if (*version) {
      session->shm = true;
      session->shm_fd = (*version)->major_version > 1 ||
                        ((*version)->major_version == 1 && (*version)->minor_version >= 2);
    }
  }
  return session;
}

// How the server lays out pixels of `depth` and `visual`; false for
// colour-mapped visuals, whose pixels are not colours.
bool LayoutOf(const xcb_setup_t* setup, uint8_t depth, xcb_visualid_t visual, PixelLayout* layout,
              uint32_t* scanline_pad) {
  bool found_format = false;
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem > 0; xcb_format_next(&f)) {
    if (f.data->depth != depth) continue;
    layout->bits_per_pixel = f.data->bits_per_pixel;
    *scanline_pad = f.data->scanline_pad;
    found_format = true;
  }
  if (!found_format) return false;
  layout->big_endian = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
  for (auto s = xcb_setup_roots_iterator(setup); s.rem > 0; xcb_screen_next(&s)) {
    for (auto d = xcb_screen_allowed_depths_iterator(s.data); d.rem > 0; xcb_depth_next(&d)) {
      for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v)) {
        if (v.data->visual_id != visual) continue;
        if (v.data->_class != XCB_VISUAL_CLASS_TRUE_COLOR &&
            v.data->_class != XCB_VISUAL_CLASS_DIRECT_COLOR) {
          return false;
        }
        layout->red_mask = v.data->red_mask;
        layout->green_mask = v.data->green_mask;
        layout->blue_mask = v.data->blue_mask;
        return true;
      }
    }
  }
  return false;
}

// `r` clipped to the root window.
XRect ClipToRoot(const XConnection& x, XRect r) {
  const int64_t right = std::min<int64_t>(int64_t{r.x} + r.width, x.screen().width_in_pixels);
  const int64_t bottom = std::min<int64_t>(int64_t{r.y} + r.height, x.screen().height_in_pixels);
  r.x = std::max(r.x, 0);
  r.y = std::max(r.y, 0);
  r.width = right > r.x ? static_cast<uint32_t>(right - r.x) : 0;
  r.height = bottom > r.y ? static_cast<uint32_t>(bottom - r.y) : 0;
  return r;
}

// `area`'s points as root-window pixels, `main` being the main display,
// saturated to what X coordinates can hold (the grab clips to the root).
XRect RootRect(const CaptureArea& area, const XRect& main) {
  constexpr int64_t kLow = -(int64_t{1} << 31), kHigh = (int64_t{1} << 31) - 1;
  const int64_t left = std::clamp(area.x + main.x, kLow, kHigh);
  const int64_t top = std::clamp(area.y + main.y, kLow, kHigh);
  const int64_t right = std::clamp(area.x + area.width + main.x, left, kHigh);
  const int64_t bottom = std::clamp(area.y + area.height + main.y, top, kHigh);
  return {static_cast<int32_t>(left), static_cast<int32_t>(top),
          static_cast<uint32_t>(right - left), static_cast<uint32_t>(bottom - top)};
}

// What a scaled capture may hold at its peak besides the grabbed pixels:
// one 32-bit copy, the encoded image at its worst (a JPEG's worst is below
// 4 bytes a pixel plus headers) and its Base64 text.
size_t ScaledCaptureBytes(size_t image_bytes, uint32_t width, uint32_t height) {
  const size_t pixels = size_t{width} * height;
  const size_t encoded = std::max(CaptureBytes(0, width, height), pixels * 4 + 65536);
  return image_bytes + pixels * 4 + encoded + (encoded + 2) / 3 * 4;
}

size_t StrideOf(uint32_t width, uint32_t bits_per_pixel, uint32_t scanline_pad) {
  const size_t bits = size_t{width} * bits_per_pixel;
  const size_t pad = std::max<uint32_t>(scanline_pad, 8);
  return (bits + pad - 1) / pad * pad / 8;
}

// Pixels read from the server, in a leased segment or a GetImage reply,
// with the connection they came over.
struct Grabbed {
  std::shared_ptr<Session> session;
  std::unique_ptr<Segment> segment;
  XcbReply<xcb_get_image_reply_t> reply;
  PixelImage image;
  XRect rect;  // root-window pixels
  XRect main;  // the main display then, the origin of global points
};

using BudgetBytes = size_t (*)(size_t image_bytes, uint32_t width, uint32_t height);

Result<std::string> EncodeScreenshot(const PixelImage& image) {
  Result<std::string> png = EncodePng(image);
  if (!png) return Error(kFailed + png.error());
  return png;
}

// The process-wide warm state. Never destroyed: a capture or the idle
// release may still run while the process exits.
class ScreenGrabber {
 public:
  // Reads `area` (the main display when null) after
  // reserving what `bytes` says from the budget. The result goes back
  // through Release.
  Result<Grabbed> Grab(const CaptureArea* area, BudgetBytes bytes, MemoryBudget& budget,
                       MemoryBudget::Grant& grant) {
    bool reused = false;
    Result<Grabbed> grabbed = GrabOnce(area, bytes, budget, grant, &reused);
    // A server that restarted since the last call shows up only now, as a
    // broken warm connection: one retry on a fresh connection hides that.
    // A server that stopped answering would only cost another deadline.
    if (!grabbed && reused && grabbed.error() != kFailed + std::string(kXServerSilent) &&
        LastSessionBroken()) {
      grabbed = GrabOnce(area, bytes, budget, grant, &reused);
    }
    return grabbed;
  }

  void Release(Grabbed& grabbed) {
    if (grabbed.segment) ReturnSegment(std::move(grabbed.segment));
    grabbed.reply.reset();
    if (grabbed.session) Finish(grabbed.session);
    grabbed.session.reset();
  }

 private:
  Result<Grabbed> GrabOnce(const CaptureArea* area, BudgetBytes bytes,
                           MemoryBudget& budget, MemoryBudget::Grant& grant, bool* reused) {
    Result<std::shared_ptr<Session>> session = TakeSession(reused);
    if (!session) return Error(std::move(session).error());
    ++busy_;
    Grabbed grabbed;
    grabbed.session = *session;
    Result<void> read = GrabOn(area, bytes, budget, grant, grabbed);
    if (!read) {
      Release(grabbed);
      return Error(std::move(read).error());
    }
    return grabbed;
  }

  Result<void> GrabOn(const CaptureArea* area, BudgetBytes bytes, MemoryBudget& budget,
                      MemoryBudget::Grant& grant, Grabbed& grabbed) {
    const std::shared_ptr<Session>& session = grabbed.session;
    const XConnection& x = *session->x;
    xcb_connection_t* c = x.get();
    // Nobody reads this connection's events, but every client gets some
    // (MappingNotify when the keymap changes): drop them so they never pile up.
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(c)) free(event);
    grabbed.main = x.MainDisplay();
    const XRect rect = ClipToRoot(x, area == nullptr || area->main_display
                                         ? grabbed.main
                                         : RootRect(*area, grabbed.main));
    if (x.broken()) return XFailure(kXServerSilent);
    if (rect.width == 0 || rect.height == 0) return Error(kNoImage);
    const xcb_setup_t* setup = xcb_get_setup(c);
    PixelLayout layout;
    uint32_t scanline_pad = 32;
    uint8_t depth = x.screen().root_depth;
    if (!LayoutOf(setup, depth, x.screen().root_visual, &layout, &scanline_pad)) {
      return Error("screencapture failed - the screen's pixel format is not a colour format");
    }
    const size_t stride = StrideOf(rect.width, layout.bits_per_pixel, scanline_pad);
    const size_t size = stride * rect.height;
    const auto x0 = static_cast<int16_t>(rect.x);
    const auto y0 = static_cast<int16_t>(rect.y);
    const auto w = static_cast<uint16_t>(rect.width);
    const auto h = static_cast<uint16_t>(rect.height);
    grant = MemoryBudget::Grant();  // a retry gives back what the first try held
    grant = budget.Reserve(bytes(size, rect.width, rect.height));
    grabbed.rect = rect;

    if (session->shm) {
      Result<std::unique_ptr<Segment>> leased = LeaseSegment(session, size);
      if (!leased) return XFailure(leased.error());
      if (std::unique_ptr<Segment> segment = std::move(leased).value()) {
        Result<XcbReply<xcb_shm_get_image_reply_t>> reply =
            x.Await<xcb_shm_get_image_reply_t>(xcb_shm_get_image(
                c, x.root(), x0, y0, w, h, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment->id(), 0));
        const bool good = reply && *reply && (*reply)->depth == depth && (*reply)->size >= size;
        grabbed.image = {segment->data(), rect.width, rect.height, stride, layout};
        grabbed.segment = std::move(segment);
        if (!reply) return XFailure(reply.error());
        if (!good) return Error(kNoImage);
        return {};
      }
    }
    Result<XcbReply<xcb_get_image_reply_t>> answer = x.Await<xcb_get_image_reply_t>(
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, x.root(), x0, y0, w, h, ~0u));
    if (!answer) return XFailure(answer.error());
    XcbReply<xcb_get_image_reply_t>& reply = *answer;
    if (!reply || reply->depth != depth ||
        static_cast<size_t>(xcb_get_image_data_length(reply.get())) < size) {
      return Error(kNoImage);
    }
    grabbed.image = {xcb_get_image_data(reply.get()), rect.width, rect.height, stride, layout};
    grabbed.reply = std::move(reply);
    return {};
  }

  Result<std::shared_ptr<Session>> TakeSession(bool* reused) {
    {
      std::lock_guard lock(mutex_);
      if (session_ && session_->x->broken()) DropLocked();
      if (session_) {
        *reused = true;
        return session_;
      }
    }
    *reused = false;
    Result<std::shared_ptr<Session>> fresh = OpenSession();
    if (!fresh) return fresh;
    std::lock_guard lock(mutex_);
    if (!session_) session_ = *fresh;  // else another capture connected first: share its
    return session_;
  }

  bool LastSessionBroken() {
    std::lock_guard lock(mutex_);
    return !session_ || session_->x->broken();
  }

  Result<std::unique_ptr<Segment>> LeaseSegment(const std::shared_ptr<Session>& session,
                                                 size_t size) {
    {
      std::lock_guard lock(mutex_);
      if (idle_ && idle_->session() == session && idle_->size() >= size) return std::move(idle_);
    }
    Result<std::unique_ptr<Segment>> segment = Segment::Create(session, size);
    // A server that will not share memory with us (a remote one) gets
    // plain GetImage requests from now on.
    if (segment && !*segment) session->shm = false;
    return segment;
  }

  void ReturnSegment(std::unique_ptr<Segment> segment) {
    std::unique_lock lock(mutex_);
    if (!idle_ && segment->session() == session_ && !session_->x->broken()) {
      idle_ = std::move(segment);
      return;
    }
    lock.unlock();  // detaching talks to the server: not under the lock
  }

  void Finish(const std::shared_ptr<Session>& session) {
    std::lock_guard lock(mutex_);
    --busy_;
    last_use_ = std::chrono::steady_clock::now();
    if (session->x->broken() && session == session_) DropLocked();
    if (!releaser_running_ && session_) {
      try {
        std::thread([this] { ReleaseWhenIdle(); }).detach();
        releaser_running_ = true;
      } catch (const std::system_error&) {
        // Without a releaser the warm state stays until the next call.
      }
    }
  }

  // Runs while warm state exists; gives it back after kIdleRelease without
  // captures, then ends.
  void ReleaseWhenIdle() {
    std::unique_lock lock(mutex_);
    for (;;) {
      const auto due = last_use_ + kIdleRelease;
      if (busy_ == 0 && std::chrono::steady_clock::now() >= due) break;
      wake_.wait_until(lock, busy_ == 0 ? due : std::chrono::steady_clock::now() + kIdleRelease);
    }
    std::unique_ptr<Segment> idle = std::move(idle_);
    std::shared_ptr<Session> session = std::move(session_);
    releaser_running_ = false;
    lock.unlock();
    idle.reset();
    session.reset();
    // The encoder's large buffers went back to malloc; hand them to the
    // system too, so an idle daemon is small again.
    malloc_trim(0);
  }

  void DropLocked() {
    idle_.reset();
    session_.reset();
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::shared_ptr<Session> session_;
  std::unique_ptr<Segment> idle_;
  std::atomic<int> busy_{0};
  std::chrono::steady_clock::time_point last_use_;
  bool releaser_running_ = false;
};

ScreenGrabber& Grabber() {
  static ScreenGrabber* grabber = new ScreenGrabber;
  return *grabber;
}

// The pointer's image (XFixes) and where its top-left corner is on the
// root window; nothing when the server has no XFixes or shows no cursor.
struct CursorImage {
  XcbReply<xcb_xfixes_get_cursor_image_reply_t> reply;
  int32_t x = 0;
  int32_t y = 0;
};

Result<CursorImage> ReadCursor(const XConnection& x) {
  Result<const xcb_query_extension_reply_t*> xfixes = x.Extension(&xcb_xfixes_id);
  if (!xfixes) return XFailure(xfixes.error());
  if (*xfixes == nullptr || !(*xfixes)->present) return CursorImage();
  // The server answers XFixes requests only after the version handshake.
  Result<XcbReply<xcb_xfixes_query_version_reply_t>> version =
      x.Await<xcb_xfixes_query_version_reply_t>(xcb_xfixes_query_version(x.get(), 4, 0));
  if (!version) return XFailure(version.error());
  if (!*version) return CursorImage();
  Result<XcbReply<xcb_xfixes_get_cursor_image_reply_t>> image =
      x.Await<xcb_xfixes_get_cursor_image_reply_t>(xcb_xfixes_get_cursor_image(x.get()));
  if (!image) return XFailure(image.error());
  CursorImage cursor;
  cursor.reply = std::move(image).value();
  if (cursor.reply) {
    cursor.x = int32_t{cursor.reply->x} - cursor.reply->xhot;
    cursor.y = int32_t{cursor.reply->y} - cursor.reply->yhot;
  }
  return cursor;
}

// A grab held for encoding, given back when destroyed.
class XScreenImage : public ScreenImage {
 public:
  explicit XScreenImage(Grabbed grabbed) : grabbed_(std::move(grabbed)), source_(grabbed_.image) {}

  // Draws the pointer into a copy of the grab, which is then the source.
  Result<void> DrawPointer() {
    Result<CursorImage> cursor = ReadCursor(*grabbed_.session->x);
    if (!cursor) return Error(std::move(cursor).error());
    if (!cursor->reply) return {};
    Result<XrgbImage> copy = ScaleToXrgb(grabbed_.image, width(), height());
    if (!copy) return Error(kFailed + copy.error());
    with_pointer_ = std::move(copy).value();
    const xcb_xfixes_get_cursor_image_reply_t& image = *cursor->reply;
    if (static_cast<size_t>(xcb_xfixes_get_cursor_image_cursor_image_length(&image)) >=
        size_t{image.width} * image.height) {
      DrawCursor(with_pointer_, xcb_xfixes_get_cursor_image_cursor_image(&image), image.width,
                 image.height, cursor->x - grabbed_.rect.x, cursor->y - grabbed_.rect.y);
    }
    source_ = with_pointer_.View();
    return {};
  }
  ~XScreenImage() override { Grabber().Release(grabbed_); }
  XScreenImage(const XScreenImage&) = delete;
  XScreenImage& operator=(const XScreenImage&) = delete;

  uint32_t width() const override { return grabbed_.rect.width; }
  uint32_t height() const override { return grabbed_.rect.height; }
  int64_t origin_x() const override { return int64_t{grabbed_.rect.x} - grabbed_.main.x; }
  int64_t origin_y() const override { return int64_t{grabbed_.rect.y} - grabbed_.main.y; }
  double scale() const override { return 1; }

  Result<std::string> Encode(const ImageEncoding& encoding) override {
    const PixelImage& image = source_;
    const bool full = encoding.width == image.width && encoding.height == image.height;
    if (full && encoding.format == ImageFormat::kPng) return EncodeScreenshot(image);
    if (full && IsNativeXrgb(image.layout)) return Jpeg(image, encoding.quality);
    // One scaled copy is kept: the next try at another size replaces it.
    scaled_ = XrgbImage();
    Result<XrgbImage> scaled = ScaleToXrgb(image, encoding.width, encoding.height);
    if (!scaled) return Error(kFailed + scaled.error());
    scaled_ = std::move(scaled).value();
    if (encoding.format == ImageFormat::kPng) return EncodeScreenshot(scaled_.View());
    return Jpeg(scaled_.View(), encoding.quality);
  }

 private:
  static Result<std::string> Jpeg(const PixelImage& image, int quality) {
    Result<std::string> jpeg = EncodeJpeg(image, quality);
    if (!jpeg) return Error(kFailed + jpeg.error());
    return jpeg;
  }

  Grabbed grabbed_;
  PixelImage source_;
  XrgbImage with_pointer_;
  XrgbImage scaled_;
};

}  // namespace

// Served through the desktop chooser (platform/desktop_backend.h).
namespace x11 {

Result<std::string> CaptureMainDisplayPng(MemoryBudget& budget, MemoryBudget::Grant& grant) {
  // Large buffers of a capture get their own mappings (the daemon fixes
  // malloc's mmap threshold at start-up), so they leave with the capture.
  Result<Grabbed> grabbed = Grabber().Grab(nullptr, CaptureBytes, budget, grant);
  if (!grabbed) return Error(std::move(grabbed).error());
  Result<std::string> png = EncodeScreenshot(grabbed->image);
  Grabber().Release(*grabbed);
  return png;
}

Result<std::unique_ptr<ScreenImage>> GrabScreenArea(const CaptureArea& area, MemoryBudget& budget,
                                                    MemoryBudget::Grant& grant) {
  Result<Grabbed> grabbed = Grabber().Grab(&area, ScaledCaptureBytes, budget, grant);
  if (!grabbed) return Error(std::move(grabbed).error());
  auto image = std::make_unique<XScreenImage>(std::move(grabbed).value());
  if (area.cursor) {
    if (Result<void> drawn = image->DrawPointer(); !drawn) return Error(std::move(drawn).error());
  }
  return std::unique_ptr<ScreenImage>(std::move(image));
}

}  // namespace x11
}  // namespace tarvix
