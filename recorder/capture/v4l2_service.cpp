#include "recorder/capture/v4l2_service.h"

#include <dirent.h>
#include <fcntl.h>
#include <libv4l2.h>
#include <libv4lconvert.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/ascii.h"

namespace recorder::capture {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBufferCount = 4;
// A stream that starts needs a moment before its first sample.
constexpr auto kFirstSampleWait = std::chrono::milliseconds(2000);
// A grab that finds no sample newer than the one it gave last waits this long for
// one: at frame delay 0 the worker then records each sample once instead of the
// same picture over and over as fast as it can encode.
constexpr int kNewSampleWaitMs = 100;
// A sample older than this is not "the most recent" any more: the device stalled,
// and recording its last picture on and on would pass a frozen view off as live.
constexpr auto kStaleSample = std::chrono::seconds(5);
// Sizes offered for stepwise and continuous frame sizes.
constexpr int kCommonSizes[][2] = {{160, 120}, {320, 240}, {352, 288}, {640, 480},
                                   {800, 600}, {1280, 720}, {1920, 1080}};

int Xioctl(int fd, unsigned long request, void* arg) {
  int rc;
  do {
    rc = v4l2_ioctl(fd, request, arg);
  } while (rc < 0 && errno == EINTR);
  return rc;
}

// The node number of "videoN", or -1 for other names.
long NodeNumber(const char* name) {
  if (std::strncmp(name, "video", 5) != 0) return -1;
  const std::optional<uint64_t> n = platform::ascii::ParseUnsigned(name + 5, 10000000);
  return n ? long(*n) : -1;
}

// A fixed-size, possibly unterminated name field of a V4L2 structure.
template <size_t N>
std::string FieldText(const uint8_t (&field)[N]) {
  const char* text = reinterpret_cast<const char*>(field);
  return std::string(text, strnlen(text, N));
}

uint32_t CapsOf(const v4l2_capability& cap) {
  return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

bool Mentions(const std::string& lowered, std::initializer_list<const char*> words) {
  for (const char* w : words)
    if (lowered.find(w) != std::string::npos) return true;
  return false;
}

class V4l2Device : public CaptureDevice {
 public:
  V4l2Device(int fd, uint32_t caps) : fd_(fd), caps_(caps) { convert_ = v4lconvert_create(fd_); }

  ~V4l2Device() override {
    StopStreaming();
    if (convert_) v4lconvert_destroy(convert_);
    v4l2_close(fd_);
  }

  std::vector<MediaType> MediaTypes() override {
    std::vector<MediaType> types;
    for (uint32_t i = 0;; ++i) {
      v4l2_fmtdesc desc{};
      desc.index = i;
      desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      if (Xioctl(fd_, VIDIOC_ENUM_FMT, &desc) < 0) break;
      if (desc.flags & V4L2_FMT_FLAG_EMULATED) continue;  // libv4l2's conversions are not the device's
      const int32_t bits = V4l2Service::BitsOfPixelFormat(desc.pixelformat);
      if (bits == 0) continue;
      AddSizes(desc.pixelformat, bits, types);
    }
    return types;
  }

  int Start(const MediaType& type, const std::function<bool()>& stopRequested) override {
    StopStreaming();
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    fmt.fmt.pix.width = uint32_t(type.width);
    fmt.fmt.pix.height = uint32_t(type.height);
    fmt.fmt.pix.pixelformat = type.code;
    fmt.fmt.pix.field = V4L2_FIELD_ANY;
    if (Xioctl(fd_, VIDIOC_S_FMT, &fmt) < 0) return -errno;
    if (fmt.fmt.pix.width != uint32_t(type.width) || fmt.fmt.pix.height != uint32_t(type.height) ||
        fmt.fmt.pix.pixelformat != type.code)
      return -EINVAL;
    format_ = fmt;
    const int rc = StartStreaming();
    if (rc < 0) return rc;
    // Wait for the first sample, a short step at a time, so that a stop is not kept waiting.
    const auto deadline = Clock::now() + kFirstSampleWait;
    while (!haveSample_ && !failed_ && Clock::now() < deadline) {
      if (stopRequested && stopRequested()) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0) Drain();
    }
    return 0;
  }

  bool LatestSample(int32_t bits, media::FrameImage& image) override {
    if (!streaming_) return false;
    Drain();
    if (haveSample_ && !fresh_ && !failed_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, kNewSampleWaitMs) > 0) Drain();
    }
    if (failed_ || !haveSample_ || Clock::now() - sampleTime_ > kStaleSample) return false;
    if (fresh_) {
      fresh_ = false;
      converted_ = Convert();
    }
    if (!converted_) return false;
    FrameFromTopDownBgr(bgr_.data(), int32_t(format_.fmt.pix.width), int32_t(format_.fmt.pix.height), bits, image);
    return image.Valid();
  }

  std::vector<DeviceInput> Inputs() override {
    std::vector<DeviceInput> inputs;
    for (uint32_t i = 0;; ++i) {
      v4l2_input input{};
      input.index = i;
      if (Xioctl(fd_, VIDIOC_ENUMINPUT, &input) < 0) break;
      inputs.push_back(DeviceInput{V4l2Service::ConnectorOfInput(input.type, FieldText(input.name)), true});
    }
    return inputs;
  }

  bool SelectInput(int input) override {
    int index = input;
    int current = -1;
    if (Xioctl(fd_, VIDIOC_G_INPUT, &current) == 0 && current == input) return true;
    if (Xioctl(fd_, VIDIOC_S_INPUT, &index) == 0) return true;
    if (errno != EBUSY || !streaming_) return false;
    // Some drivers switch inputs only while stopped.
    StopStreaming();
    index = input;
    const bool ok = Xioctl(fd_, VIDIOC_S_INPUT, &index) == 0;
    StartStreaming();
    return ok;
  }

  std::vector<DeviceControl> Controls() override {
    std::vector<DeviceControl> controls;
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (Xioctl(fd_, VIDIOC_QUERYCTRL, &query) == 0) {
      const uint32_t id = query.id;
      query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
      if (query.flags & V4L2_CTRL_FLAG_DISABLED) continue;
      DeviceControl c;
      switch (query.type) {
        case V4L2_CTRL_TYPE_INTEGER: c.kind = DeviceControl::Kind::Slider; break;
        case V4L2_CTRL_TYPE_BOOLEAN: c.kind = DeviceControl::Kind::CheckBox; break;
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU: c.kind = DeviceControl::Kind::Menu; break;
        default: continue;  // buttons, classes, strings and compound controls have no place here
      }
      c.id = id;
      c.name = FieldText(query.name);
      c.minimum = query.minimum;
      c.maximum = query.maximum;
      c.step = std::max(1, query.step);
      c.defaultValue = query.default_value;
      c.readOnly = (query.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED)) != 0;
      v4l2_control value{};
      value.id = id;
      c.value = Xioctl(fd_, VIDIOC_G_CTRL, &value) == 0 ? value.value : query.default_value;
      if (c.kind == DeviceControl::Kind::Menu) {
        for (int32_t i = query.minimum; i <= query.maximum && i - query.minimum < 256; ++i) {
          v4l2_querymenu item{};
          item.id = id;
          item.index = uint32_t(i);
          if (Xioctl(fd_, VIDIOC_QUERYMENU, &item) < 0) continue;
          if (query.type == V4L2_CTRL_TYPE_MENU)
            c.menuItems.emplace_back(i, FieldText(item.name));
          else
            c.menuItems.emplace_back(i, std::to_string(static_cast<long long>(item.value)));
        }
        if (c.menuItems.empty()) continue;
      }
      controls.push_back(std::move(c));
    }
    return controls;
  }

  bool SetControl(uint32_t id, int32_t value) override {
    v4l2_control control{};
    control.id = id;
    control.value = value;
    return Xioctl(fd_, VIDIOC_S_CTRL, &control) == 0;
  }

 private:
  struct Buffer {
    void* start = MAP_FAILED;
    size_t length = 0;
  };

  void AddSizes(uint32_t pixelFormat, int32_t bits, std::vector<MediaType>& types) {
    const auto add = [&](uint32_t w, uint32_t h) {
      types.push_back(MediaType{int32_t(w), int32_t(h), bits, pixelFormat});
    };
    for (uint32_t i = 0;; ++i) {
      v4l2_frmsizeenum size{};
      size.index = i;
      size.pixel_format = pixelFormat;
      if (Xioctl(fd_, VIDIOC_ENUM_FRAMESIZES, &size) < 0) {
        if (i == 0) AddTriedSizes(pixelFormat, bits, types);
        return;
      }
      if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        add(size.discrete.width, size.discrete.height);
        continue;
      }
      const v4l2_frmsize_stepwise& s = size.stepwise;
      const uint32_t stepW = std::max<uint32_t>(1, s.step_width), stepH = std::max<uint32_t>(1, s.step_height);
      for (const auto& c : kCommonSizes) {
        const uint32_t w = uint32_t(c[0]), h = uint32_t(c[1]);
        if (w < s.min_width || w > s.max_width || h < s.min_height || h > s.max_height) continue;
        if (size.type == V4L2_FRMSIZE_TYPE_STEPWISE && ((w - s.min_width) % stepW || (h - s.min_height) % stepH))
          continue;
        add(w, h);
      }
      return;  // stepwise and continuous sizes come as one entry
    }
  }

  // Drivers that do not enumerate sizes: the common sizes that the driver takes as they are.
  void AddTriedSizes(uint32_t pixelFormat, int32_t bits, std::vector<MediaType>& types) {
    for (const auto& c : kCommonSizes) {
      v4l2_format fmt{};
      fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      fmt.fmt.pix.width = uint32_t(c[0]);
      fmt.fmt.pix.height = uint32_t(c[1]);
      fmt.fmt.pix.pixelformat = pixelFormat;
      fmt.fmt.pix.field = V4L2_FIELD_ANY;
      if (Xioctl(fd_, VIDIOC_TRY_FMT, &fmt) == 0 && fmt.fmt.pix.width == uint32_t(c[0]) &&
          fmt.fmt.pix.height == uint32_t(c[1]) && fmt.fmt.pix.pixelformat == pixelFormat)
        types.push_back(MediaType{c[0], c[1], bits, pixelFormat});
    }
  }

  int StartStreaming() {
    haveSample_ = fresh_ = converted_ = failed_ = false;
    held_ = -1;
    if (caps_ & V4L2_CAP_STREAMING) {
      v4l2_requestbuffers request{};
      request.count = kBufferCount;
      request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      request.memory = V4L2_MEMORY_MMAP;
      if (Xioctl(fd_, VIDIOC_REQBUFS, &request) < 0) return -errno;
      if (request.count < 2) return -ENOMEM;
      buffers_.assign(request.count, Buffer{});
      for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        if (Xioctl(fd_, VIDIOC_QUERYBUF, &buf) < 0) return FailStart(-errno);
        buffers_[i].length = buf.length;
        buffers_[i].start = v4l2_mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buf.m.offset);
        if (buffers_[i].start == MAP_FAILED) return FailStart(-errno);
        if (Xioctl(fd_, VIDIOC_QBUF, &buf) < 0) return FailStart(-errno);
      }
      v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      if (Xioctl(fd_, VIDIOC_STREAMON, &type) < 0) return FailStart(-errno);
      mmap_ = true;
    } else if (caps_ & V4L2_CAP_READWRITE) {
      raw_.assign(std::max<size_t>(format_.fmt.pix.sizeimage, 1), 0);
      mmap_ = false;
    } else {
      return -EINVAL;
    }
    streaming_ = true;
    return 0;
  }

  int FailStart(int error) {
    streaming_ = true;  // let StopStreaming release what was made
    mmap_ = true;
    StopStreaming();
    return error;
  }

  void StopStreaming() {
    if (!streaming_) return;
    streaming_ = false;
    if (mmap_) {
      v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      Xioctl(fd_, VIDIOC_STREAMOFF, &type);
      for (Buffer& b : buffers_)
        if (b.start != MAP_FAILED) v4l2_munmap(b.start, b.length);
      buffers_.clear();
      v4l2_requestbuffers request{};
      request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      request.memory = V4L2_MEMORY_MMAP;
      Xioctl(fd_, VIDIOC_REQBUFS, &request);
    }
    held_ = -1;
  }

  // Takes every sample that is ready, keeping only the newest.
  void Drain() {
    if (!streaming_ || failed_) return;
    if (!mmap_) {
      for (;;) {
        const ssize_t n = v4l2_read(fd_, raw_.data(), raw_.size());
        if (n > 0) {
          rawBytes_ = size_t(n);
          Took();
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) failed_ = true;
        return;
      }
    }
    for (;;) {
      v4l2_buffer buf{};
      buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      buf.memory = V4L2_MEMORY_MMAP;
      if (Xioctl(fd_, VIDIOC_DQBUF, &buf) < 0) {
        if (errno != EAGAIN) failed_ = true;  // unplugged, or the driver gave up
        return;
      }
      if (buf.index >= buffers_.size()) continue;
      if (buf.flags & V4L2_BUF_FLAG_ERROR) {
        Requeue(int(buf.index));
        continue;
      }
      if (held_ >= 0) Requeue(held_);
      held_ = int(buf.index);
      rawBytes_ = std::min<size_t>(buf.bytesused, buffers_[buf.index].length);
      Took();
    }
  }

  void Took() {
    haveSample_ = fresh_ = true;
    sampleTime_ = Clock::now();
  }

  void Requeue(int index) {
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    buf.index = uint32_t(index);
    Xioctl(fd_, VIDIOC_QBUF, &buf);
  }

  // The held sample as a top-down blue-green-red picture in bgr_.
  bool Convert() {
    const uint8_t* src = nullptr;
    if (mmap_) {
      if (held_ < 0) return false;
      src = static_cast<const uint8_t*>(buffers_[size_t(held_)].start);
    } else {
      src = raw_.data();
    }
    const v4l2_pix_format& pix = format_.fmt.pix;
    const uint32_t w = pix.width, h = pix.height;
    bgr_.resize(size_t(w) * h * 3);
    const size_t packed = size_t(w) * size_t(V4l2Service::BitsOfPixelFormat(pix.pixelformat) / 8);
    const size_t stride = pix.bytesperline ? pix.bytesperline : packed;
    const auto direct = [&](int bytes, int b, int g, int r) {
      if (rawBytes_ < stride * (h - 1) + size_t(w) * size_t(bytes)) return false;
      for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* s = src + size_t(y) * stride;
        uint8_t* d = bgr_.data() + size_t(y) * w * 3;
        for (uint32_t x = 0; x < w; ++x, s += bytes, d += 3) d[0] = s[b], d[1] = s[g], d[2] = s[r];
      }
      return true;
    };
    switch (pix.pixelformat) {
      case V4L2_PIX_FMT_BGR24: return direct(3, 0, 1, 2);
      case V4L2_PIX_FMT_RGB24: return direct(3, 2, 1, 0);
      case V4L2_PIX_FMT_GREY: return direct(1, 0, 0, 0);
      case V4L2_PIX_FMT_BGR32:
      case V4L2_PIX_FMT_XBGR32:
      case V4L2_PIX_FMT_ABGR32: return direct(4, 0, 1, 2);
      case V4L2_PIX_FMT_RGB32:
      case V4L2_PIX_FMT_XRGB32:
      case V4L2_PIX_FMT_ARGB32: return direct(4, 3, 2, 1);
      default: break;
    }
    if (!convert_) return false;
    v4l2_format dst = format_;
    dst.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    dst.fmt.pix.bytesperline = w * 3;
    dst.fmt.pix.sizeimage = uint32_t(bgr_.size());
    const int n = v4lconvert_convert(convert_, &format_, &dst, const_cast<uint8_t*>(src), int(rawBytes_), bgr_.data(),
                                     int(bgr_.size()));
    return n >= int(bgr_.size());
  }

  int fd_;
  uint32_t caps_;
  v4lconvert_data* convert_ = nullptr;
  v4l2_format format_{};
  std::vector<Buffer> buffers_;
  std::vector<uint8_t> raw_;  // read() mode
  size_t rawBytes_ = 0;
  std::vector<uint8_t> bgr_;
  int held_ = -1;  // the dequeued buffer holding the newest sample
  bool streaming_ = false;
  bool mmap_ = true;
  bool haveSample_ = false;
  bool fresh_ = false;      // a sample arrived since the last conversion
  bool converted_ = false;  // bgr_ holds the newest sample
  bool failed_ = false;
  Clock::time_point sampleTime_{};
};

}  // namespace

V4l2Service::V4l2Service(std::string deviceFolder) : folder_(std::move(deviceFolder)) {}

int32_t V4l2Service::BitsOfPixelFormat(uint32_t f) {
  switch (f) {
    case V4L2_PIX_FMT_GREY:
    case V4L2_PIX_FMT_SBGGR8:
    case V4L2_PIX_FMT_SGBRG8:
    case V4L2_PIX_FMT_SGRBG8:
    case V4L2_PIX_FMT_SRGGB8: return 8;
    case V4L2_PIX_FMT_YUV420:
    case V4L2_PIX_FMT_YVU420:
    case V4L2_PIX_FMT_NV12:
    case V4L2_PIX_FMT_NV21: return 12;
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_YVYU:
    case V4L2_PIX_FMT_UYVY:
    case V4L2_PIX_FMT_VYUY:
    case V4L2_PIX_FMT_RGB565:
    case V4L2_PIX_FMT_RGB555: return 16;
    case V4L2_PIX_FMT_RGB24:
    case V4L2_PIX_FMT_BGR24:
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG: return 24;  // compressed formats count as 24, as capture drivers describe them
    case V4L2_PIX_FMT_RGB32:
    case V4L2_PIX_FMT_BGR32:
    case V4L2_PIX_FMT_XRGB32:
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ARGB32:
    case V4L2_PIX_FMT_ABGR32: return 32;
    default: return 0;
  }
}

int32_t V4l2Service::ConnectorOfInput(uint32_t inputType, const std::string& name) {
  if (inputType == V4L2_INPUT_TYPE_TUNER) return kConnectorVideoTuner;
  if (inputType != V4L2_INPUT_TYPE_CAMERA) return 0x7FFF;  // touch sensors and the like: no video input
  const std::string n = platform::ascii::ToLower(name);
  if (Mentions(n, {"s-video", "svideo", "s video", "y/c"})) return kConnectorSVideo;
  if (Mentions(n, {"composite", "cvbs"})) return kConnectorVideoComposite;
  if (Mentions(n, {"component", "ypbpr", "yuv"})) return kConnectorVideoYRYBY;
  if (Mentions(n, {"sdi"})) return kConnectorVideoSerialDigital;
  if (Mentions(n, {"rgb", "vga"})) return kConnectorVideoRGB;
  if (Mentions(n, {"hdmi", "dvi", "displayport", "aux"})) return kConnectorVideoAUX;
  return kConnectorVideoUSB;
}

std::vector<V4l2Service::Node> V4l2Service::Nodes() {
  std::vector<std::pair<long, std::string>> names;
  if (DIR* dir = ::opendir(folder_.c_str())) {
    while (const dirent* e = ::readdir(dir)) {
      const long n = NodeNumber(e->d_name);
      if (n >= 0) names.emplace_back(n, e->d_name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  std::vector<Node> nodes;
  for (const auto& [number, name] : names) {
    Node node;
    node.path = folder_ + "/" + name;
    const int fd = ::open(node.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      // Cannot be opened (no permission, busy in exclusive use): it keeps its position.
      node.entry.nameReadable = false;
      nodes.push_back(std::move(node));
      continue;
    }
    v4l2_capability cap{};
    int rc;
    do {
      rc = ::ioctl(fd, VIDIOC_QUERYCAP, &cap);
    } while (rc < 0 && errno == EINTR);
    ::close(fd);
    // Metadata and output nodes are no video input devices.
    if (rc < 0 || !(CapsOf(cap) & V4L2_CAP_VIDEO_CAPTURE)) continue;
    node.entry.name = FieldText(cap.card);
    nodes.push_back(std::move(node));
  }
  return nodes;
}

std::optional<std::vector<DeviceEntry>> V4l2Service::Devices() {
  std::vector<DeviceEntry> entries;
  for (Node& node : Nodes()) entries.push_back(std::move(node.entry));
  return entries;
}

std::unique_ptr<CaptureDevice> V4l2Service::OpenDevice(int position, int& error) {
  const std::vector<Node> nodes = Nodes();
  if (position < 0 || size_t(position) >= nodes.size()) {
    error = kNoSuchDevice;
    return nullptr;
  }
  const int fd = ::open(nodes[size_t(position)].path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno == ENOENT ? kNoSuchDevice : -errno;
    return nullptr;
  }
  v4l2_capability cap{};
  if (Xioctl(fd, VIDIOC_QUERYCAP, &cap) < 0 || !(CapsOf(cap) & V4L2_CAP_VIDEO_CAPTURE)) {
    ::close(fd);
    error = kNoSuchDevice;
    return nullptr;
  }
  // libv4l2 for the device's own formats (its conversions stay off: the format
  // chosen is the device's); libv4lconvert converts the samples.
  const int wrapped = v4l2_fd_open(fd, V4L2_DISABLE_CONVERSION);
  error = 0;
  return std::make_unique<V4l2Device>(wrapped >= 0 ? wrapped : fd, CapsOf(cap));
}

}  // namespace recorder::capture
