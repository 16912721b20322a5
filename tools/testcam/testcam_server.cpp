#include "tools/testcam/testcam_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/ascii.h"

namespace testcam {
namespace {

constexpr size_t kMaxRequest = 16384;
constexpr int kRingSize = 16;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Decodes base64; false on any character outside the alphabet.
bool Base64Decode(const std::string& text, std::string* out) {
  out->clear();
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    int v = Base64Value(c);
    if (v < 0) return false;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return true;
}

// The credentials of an "Authorization: Basic" header, read as an HTTP server
// reads it: the value is the rest of that one line.
bool BasicCredentials(const std::string& request, std::string* credentials) {
  size_t pos = 0;
  while (pos < request.size()) {
    size_t end = request.find("\r\n", pos);
    if (end == std::string::npos) end = request.size();
    const std::string line = request.substr(pos, end - pos);
    pos = end + 2;
    if (!platform::ascii::StartsWithNoCase(line, "authorization:")) continue;
    std::string value = line.substr(14);
    size_t first = value.find_first_not_of(' ');
    value = first == std::string::npos ? "" : value.substr(first);
    if (!platform::ascii::StartsWithNoCase(value, "basic")) return false;
    std::string token = value.substr(5);
    first = token.find_first_not_of(' ');
    token = first == std::string::npos ? "" : token.substr(first);
    return Base64Decode(token, credentials);
  }
  return false;
}

std::string RequestPath(const std::string& request) {
  size_t sp1 = request.find(' ');
  if (sp1 == std::string::npos) return {};
  size_t sp2 = request.find_first_of(" \r\n", sp1 + 1);
  std::string target = request.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1);
  size_t q = target.find('?');
  if (q != std::string::npos) target.resize(q);
  return target;
}

std::string HtmlPage(const std::string& title) {
  return "<html><head><title>" + title + "</title></head><body><h1>" + title + "</h1></body></html>\r\n";
}

std::string StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    default: return "Error";
  }
}

std::string HtmlResponse(int status, const std::string& extraHeaders) {
  std::string body = HtmlPage(std::to_string(status) + " " + StatusText(status));
  return "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) + "\r\n" + extraHeaders +
         "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

void FillRect(std::vector<uint8_t>& bgr, int w, int h, int x0, int y0, int rw, int rh, uint8_t b, uint8_t g,
              uint8_t r) {
  for (int y = std::max(0, y0); y < std::min(h, y0 + rh); ++y) {
    for (int x = std::max(0, x0); x < std::min(w, x0 + rw); ++x) {
      size_t i = (static_cast<size_t>(y) * w + x) * 3;
      bgr[i] = b;
      bgr[i + 1] = g;
      bgr[i + 2] = r;
    }
  }
}

// Smooth background (or noise), the counter as a row of black and white squares
// and, with motion, a bright block that jumps far between consecutive frames.
std::vector<uint8_t> DrawFrame(int w, int h, int index, bool motion, bool noise, uint8_t tint) {
  std::vector<uint8_t> bgr(static_cast<size_t>(w) * h * 3);
  uint32_t seed = 0x9E3779B9u * static_cast<uint32_t>(index + 1);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      size_t i = (static_cast<size_t>(y) * w + x) * 3;
      if (noise) {
        seed = seed * 1664525u + 1013904223u;
        bgr[i] = static_cast<uint8_t>(seed >> 24);
        bgr[i + 1] = static_cast<uint8_t>(seed >> 16);
        bgr[i + 2] = static_cast<uint8_t>(seed >> 8);
        continue;
      }
      bgr[i] = static_cast<uint8_t>(x * 200 / w + 20);
      bgr[i + 1] = static_cast<uint8_t>(y * 200 / h + 20);
      bgr[i + 2] = tint;
    }
  }
  int cell = std::max(2, w / 40);
  for (int bit = 0; bit < 8; ++bit) {
    uint8_t v = (index >> bit) & 1 ? 255 : 0;
    FillRect(bgr, w, h, 2 + bit * cell, 2, cell - 1, cell - 1, v, v, v);
  }
  if (motion) {
    int bw = std::max(1, w / 5), bh = std::max(1, h / 4);
    int slot = (index * 5) % kRingSize;
    int x = (w - bw) * slot / (kRingSize - 1);
    int y = (index % 2) ? h / 8 : h - h / 8 - bh;
    FillRect(bgr, w, h, x, y, bw, bh, 255, 255, 255);
  }
  return bgr;
}

bool Encode(tjhandle tj, const std::vector<uint8_t>& bgr, int w, int h, int quality, std::vector<uint8_t>* out) {
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  if (tjCompress2(tj, bgr.data(), w, 0, h, TJPF_BGR, &buf, &size, TJSAMP_420, quality, 0) != 0) {
    tjFree(buf);
    return false;
  }
  out->assign(buf, buf + size);
  tjFree(buf);
  return true;
}

void PutSegment(std::vector<uint8_t>& out, uint8_t marker, const uint8_t* payload, size_t size) {
  size_t len = size + 2;
  out.push_back(0xFF);
  out.push_back(marker);
  out.push_back(static_cast<uint8_t>(len >> 8));
  out.push_back(static_cast<uint8_t>(len & 0xFF));
  out.insert(out.end(), payload, payload + size);
}

}  // namespace

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::Normal: return "normal";
    case Mode::Refuse: return "refuse";
    case Mode::CloseMidFrame: return "close-mid-frame";
    case Mode::Stall: return "stall";
    case Mode::HtmlError: return "html-error";
    case Mode::Garbage: return "garbage";
    case Mode::Oversized: return "oversized";
    case Mode::Thumbnail: return "thumbnail";
    case Mode::Undecodable: return "undecodable";
  }
  return "normal";
}

bool ParseMode(const std::string& name, Mode* mode) {
  for (Mode m : {Mode::Normal, Mode::Refuse, Mode::CloseMidFrame, Mode::Stall, Mode::HtmlError, Mode::Garbage,
                 Mode::Oversized, Mode::Thumbnail, Mode::Undecodable}) {
    if (name == ModeName(m)) {
      *mode = m;
      return true;
    }
  }
  return false;
}

Server::Server(Options options) : options_(std::move(options)) {
  options_.width = std::clamp(options_.width, 8, 8192);
  options_.height = std::clamp(options_.height, 8, 8192);
  options_.fps = std::clamp(options_.fps, 0.1, 1000.0);
  options_.quality = std::clamp(options_.quality, 1, 100);
  options_.frameLimit = std::max(0, options_.frameLimit);
  mode_.store(options_.mode);
  stallAfter_.store(std::max(0, options_.stallAfter));
  htmlStatus_.store(options_.htmlStatus);
}

Server::~Server() { Stop(); }

std::string Server::Url(const std::string& path) const {
  return std::string(options_.ipv6 ? "http://[::1]:" : "http://127.0.0.1:") + std::to_string(port_) + "/" + path;
}

bool Server::Start(std::string* error) {
  if (running_.load()) return true;
  tjhandle tj = tjInitCompress();
  if (!tj) {
    if (error) *error = "cannot start the JPEG encoder";
    return false;
  }
  bool ok = true;
  frames_.clear();
  // A static scene is one picture served again and again.
  int count = options_.motion ? kRingSize : 1;
  for (int i = 0; i < count && ok; ++i) {
    std::vector<uint8_t> jpeg;
    ok = Encode(tj, DrawFrame(options_.width, options_.height, i, options_.motion, options_.noise, 90),
                options_.width, options_.height, options_.quality, &jpeg);
    frames_.push_back(std::move(jpeg));
  }
  if (ok)
    ok = Encode(tj, DrawFrame(kThumbWidth, kThumbHeight, 0, false, false, 200), kThumbWidth, kThumbHeight, 75,
                &thumbnail_);
  tjDestroy(tj);
  if (!ok) {
    if (error) *error = "cannot encode the test pictures";
    return false;
  }

  stopFd_ = eventfd(0, EFD_CLOEXEC);
  controlFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0 || controlFd_ < 0) {
    if (error) *error = std::string("eventfd: ") + std::strerror(errno);
    Stop();
    return false;
  }
  port_ = options_.port;
  if (!OpenListener(error)) {
    Stop();
    return false;
  }
  if (mode_.load() == Mode::Refuse) {
    close(listenFd_);
    listenFd_ = -1;
  }
  running_.store(true);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

bool Server::OpenListener(std::string* error) {
  const int family = options_.ipv6 ? AF_INET6 : AF_INET;
  int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    if (error) *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage storage{};
  socklen_t len;
  if (options_.ipv6) {
    auto* addr = reinterpret_cast<sockaddr_in6*>(&storage);
    addr->sin6_family = AF_INET6;
    addr->sin6_addr = in6addr_loopback;
    addr->sin6_port = htons(port_);
    len = sizeof *addr;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  } else {
    auto* addr = reinterpret_cast<sockaddr_in*>(&storage);
    addr->sin_family = AF_INET;
    addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr->sin_port = htons(port_);
    len = sizeof *addr;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&storage), len) != 0 || listen(fd, 128) != 0) {
    if (error)
      *error = std::string("cannot listen on ") + (options_.ipv6 ? "[::1]:" : "127.0.0.1:") + std::to_string(port_) +
               ": " + std::strerror(errno);
    close(fd);
    return false;
  }
  getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &len);
  port_ = ntohs(options_.ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                              : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  listenFd_ = fd;
  return true;
}

void Server::Stop() {
  if (running_.exchange(false)) {
    uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) < 0) { /* the eventfd cannot be full here */ }
    if (acceptThread_.joinable()) acceptThread_.join();
    {
      // Wakes connections blocked in send to a reader that stopped reading.
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto& c : live_) shutdown(c->fd, SHUT_RDWR);
    }
    ReapFinished(true);
  }
  if (listenFd_ >= 0) close(listenFd_);
  if (stopFd_ >= 0) close(stopFd_);
  if (controlFd_ >= 0) close(controlFd_);
  listenFd_ = stopFd_ = controlFd_ = -1;
  changed_.notify_all();
}

void Server::SetMode(Mode mode) {
  std::unique_lock<std::mutex> lock(mutex_);
  mode_.store(mode);
  if (!running_.load()) return;
  uint64_t generation = ++modeGeneration_;
  uint64_t one = 1;
  if (write(controlFd_, &one, sizeof one) < 0) return;
  changed_.wait_for(lock, std::chrono::seconds(5),
                    [&] { return appliedGeneration_ >= generation || !running_.load(); });
}

void Server::DropConnections() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& c : live_) shutdown(c->fd, SHUT_RDWR);
}

std::vector<std::string> Server::RequestLog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t Server::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

bool Server::WaitForConnections(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return connections_ >= count; });
}

bool Server::WaitForRequests(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return requests_.size() >= count; });
}

void Server::ReapFinished(bool all) {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = live_.begin(); it != live_.end();) {
      if (all || (*it)->done.load()) {
        finished.push_back(std::move(*it));
        it = live_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) {
    if (c->thread.joinable()) c->thread.join();
    // Only closed after the join, so no thread ever uses a recycled descriptor.
    close(c->fd);
  }
}

void Server::AcceptLoop() {
  for (;;) {
    pollfd fds[3] = {{stopFd_, POLLIN, 0}, {controlFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
    int n = poll(fds, listenFd_ >= 0 ? 3 : 2, 250);
    if (n < 0 && errno != EINTR) break;
    if (fds[0].revents) break;
    ReapFinished(false);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bool refuse = mode_.load() == Mode::Refuse;
      if (refuse && listenFd_ >= 0) {
        close(listenFd_);
        listenFd_ = -1;
      } else if (!refuse && listenFd_ < 0) {
        OpenListener(nullptr);  // retried on every wake while the port is taken
      }
      if (fds[1].revents) {
        uint64_t v;
        if (read(controlFd_, &v, sizeof v) < 0) { /* nothing pending */ }
        appliedGeneration_ = modeGeneration_;
        changed_.notify_all();
      }
    }
    if (listenFd_ >= 0 && (fds[2].revents & POLLIN) && n > 0) {
      for (;;) {
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) break;
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        Connection* raw = c.get();
        {
          std::lock_guard<std::mutex> lock(mutex_);
          ++connections_;
          live_.push_back(std::move(c));
          raw->thread = std::thread([this, raw] { Serve(raw); });
        }
        changed_.notify_all();
      }
    }
  }
}

bool Server::SendAll(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Sleeps until the deadline (<0: for ever); false when the server stops or the peer closes.
bool Server::WaitUntil(int fd, int64_t deadlineNs) {
  char scratch[1024];
  for (;;) {
    int timeoutMs = -1;
    if (deadlineNs >= 0) {
      int64_t left = deadlineNs - NowNs();
      if (left <= 0) return true;
      timeoutMs = static_cast<int>(std::min<int64_t>((left + 999999) / 1000000, 60000));
    }
    pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd, POLLIN, 0}};
    int n = poll(fds, 2, timeoutMs);
    if (n < 0 && errno != EINTR) return false;
    if (fds[0].revents) return false;
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t r = recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
      if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) return false;
      // Anything the client sends meanwhile is ignored.
    }
  }
}

void Server::HoldOpen(int fd) { WaitUntil(fd, -1); }

std::vector<uint8_t> Server::Picture(Mode mode, uint64_t index) const {
  const std::vector<uint8_t>& base = frames_[index % frames_.size()];
  if (mode == Mode::Undecodable) {
    uint32_t seed = static_cast<uint32_t>(index * 2654435761u + 1);
    std::vector<uint8_t> out = {0xFF, 0xD8};
    const std::vector<uint8_t> noise = GarbageChunk(base.size(), seed);  // holds no FF, so no marker
    out.insert(out.end(), noise.begin(), noise.end());
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
  }
  if (mode != Mode::Oversized && mode != Mode::Thumbnail) return base;
  std::vector<uint8_t> out = {0xFF, 0xD8};
  if (mode == Mode::Thumbnail) {
    std::vector<uint8_t> payload = {'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), thumbnail_.begin(), thumbnail_.end());
    PutSegment(out, 0xE1, payload.data(), payload.size());
  } else {
    // Comment segments of plain text push the picture past what a camera buffer takes.
    std::vector<uint8_t> pad(60000, 'x');
    for (size_t done = 0; done < kOversizedPadding; done += pad.size()) PutSegment(out, 0xFE, pad.data(), pad.size());
  }
  out.insert(out.end(), base.begin() + 2, base.end());
  return out;
}

std::vector<uint8_t> Server::GarbageChunk(size_t size, uint32_t& seed) const {
  std::vector<uint8_t> out(size);
  for (auto& b : out) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    b = static_cast<uint8_t>(seed);
    if (b == 0xFF) b = 0xFE;  // without FF no start-of-image can ever appear
  }
  return out;
}

void Server::Serve(Connection* c) {
  int fd = c->fd;
  std::string request;
  char buf[2048];
  bool complete = false;
  while (!complete && request.size() < kMaxRequest) {
    pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[0].revents) break;
    if (!fds[1].revents) continue;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    request.append(buf, static_cast<size_t>(n));
    size_t end = request.find("\r\n\r\n");
    if (end != std::string::npos) {
      request.resize(end + 4);  // extra bytes after the blank line are not part of the request
      complete = true;
    }
  }
  if (complete) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    changed_.notify_all();
    std::string path = RequestPath(request);
    std::string credentials;
    Mode mode = mode_.load();
    if (!options_.auth.empty() && (!BasicCredentials(request, &credentials) || credentials != options_.auth)) {
      if (SendText(fd, HtmlResponse(401, "WWW-Authenticate: Basic realm=\"testcam\"\r\n"))) HoldOpen(fd);
    } else if (path != "/image.jpg" && path != "/video.mjpg" && path != "/video") {
      SendText(fd, HtmlResponse(404, "Connection: close\r\n"));
    } else if (mode == Mode::HtmlError) {
      if (SendText(fd, HtmlResponse(htmlStatus_.load(), ""))) HoldOpen(fd);
    } else if (path == "/image.jpg") {
      ServeSnapshot(fd);
    } else {
      ServePush(fd);
    }
  } else if (request.size() >= kMaxRequest) {
    SendText(fd, HtmlResponse(431, "Connection: close\r\n"));
  }
  shutdown(fd, SHUT_RDWR);
  c->done.store(true);
}

void Server::ServeSnapshot(int fd) {
  Mode mode = mode_.load();
  uint64_t index = framesServed_.load();
  std::vector<uint8_t> body;
  uint32_t seed = static_cast<uint32_t>(index * 2654435761u + 1);
  if (mode == Mode::Garbage) {
    body = GarbageChunk(frames_[0].size(), seed);
  } else {
    body = Picture(mode, index);
  }
  std::string head = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  if (!SendText(fd, head)) return;
  if (mode == Mode::Stall) {
    HoldOpen(fd);
    return;
  }
  if (mode == Mode::CloseMidFrame) {
    SendAll(fd, body.data(), body.size() / 2);
    return;
  }
  if (!SendAll(fd, body.data(), body.size())) return;
  if (mode != Mode::Garbage) framesServed_.fetch_add(1);
  // Half-close and let the client finish reading before the descriptor goes away.
  shutdown(fd, SHUT_WR);
  WaitUntil(fd, NowNs() + 2'000'000'000LL);
}

void Server::ServePush(int fd) {
  if (!SendText(fd, "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=frame\r\n"
                    "Cache-Control: no-cache\r\nConnection: close\r\n\r\n"))
    return;
  const int64_t period = static_cast<int64_t>(1e9 / options_.fps);
  int64_t next = NowNs();
  uint32_t seed = static_cast<uint32_t>(NowNs()) | 1u;
  for (uint64_t k = 0;; ++k) {
    Mode mode = mode_.load();
    if ((mode == Mode::Stall && k >= static_cast<uint64_t>(stallAfter_.load())) ||
        (options_.frameLimit > 0 && k >= static_cast<uint64_t>(options_.frameLimit))) {
      HoldOpen(fd);
      return;
    }
    std::vector<uint8_t> body = mode == Mode::Garbage ? GarbageChunk(frames_[0].size(), seed) : Picture(mode, k);
    std::string head = "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    if (!SendText(fd, head)) return;
    if (mode == Mode::CloseMidFrame) {
      SendAll(fd, body.data(), body.size() / 2);
      return;
    }
    if (!SendAll(fd, body.data(), body.size()) || !SendText(fd, "\r\n")) return;
    if (mode == Mode::Garbage) {
      // A camera gone wrong keeps no frame rate: the client's buffer fills at once.
      continue;
    }
    framesServed_.fetch_add(1);
    next += period;
    // A client that fell behind gets the next frame at once, not a burst of catch-up frames.
    int64_t now = NowNs();
    if (next < now - period) next = now;
    if (!WaitUntil(fd, next)) return;
  }
}

}  // namespace testcam
