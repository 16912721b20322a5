#pragma once
// In-process test camera: serves generated JPEG snapshots and motion-JPEG push
// streams over HTTP on 127.0.0.1 (or ::1), with optional basic authentication and fault
// modes that imitate misbehaving cameras.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testcam {

enum class Mode {
  Normal,
  Refuse,         // listener closed: connections are refused
  CloseMidFrame,  // half a JPEG, then the connection is closed
  Stall,          // after stallAfter frames (snapshot: at once) nothing more is sent; stays open
  HtmlError,      // an HTML page with htmlStatus; stays open
  Garbage,        // random bytes that never hold FF D8, as fast as the client reads
  Oversized,      // JPEGs larger than a camera buffer takes (padded with comment segments)
  Thumbnail,      // JPEGs that embed a smaller JPEG in an APP1 segment
  Undecodable,    // FF D8, random bytes, FF D9: cut like a picture, but no decoder takes it
};

// Names as used on the command line ("normal", "close-mid-frame", ...).
const char* ModeName(Mode mode);
bool ParseMode(const std::string& name, Mode* mode);

struct Options {
  uint16_t port = 0;  // 0: any free port
  bool ipv6 = false;  // listen on ::1 instead of 127.0.0.1
  int width = 640;
  int height = 480;
  double fps = 10.0;
  bool motion = false;
  bool noise = false;  // random pixels: pictures that compress badly, as large as real ones
  int quality = 75;    // JPEG quality of the pictures, 1..100
  int frameLimit = 0;  // a push stream sends at most this many pictures, then stays open; 0: no limit
  std::string auth;  // "user:password"; empty = no authentication
  Mode mode = Mode::Normal;
  int stallAfter = 0;
  int htmlStatus = 500;
};

class Server {
 public:
  static constexpr int kThumbWidth = 160;
  static constexpr int kThumbHeight = 120;
  static constexpr size_t kOversizedPadding = (size_t(16) << 20) + 65536;

  explicit Server(Options options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Encodes the frames and starts listening; false with a reason on failure.
  bool Start(std::string* error = nullptr);
  // Closes the listener and every connection and joins all threads.
  void Stop();

  uint16_t Port() const { return port_; }
  std::string Url(const std::string& path) const;  // "http://127.0.0.1:<port>/<path>" ([::1] for IPv6)

  // Takes effect for new requests at once and for running push streams at their next
  // frame. Entering or leaving Refuse has taken effect when the call returns.
  void SetMode(Mode mode);
  Mode GetMode() const { return mode_.load(); }
  // Ends every open connection, as a camera that restarts does; new ones are served as usual.
  void DropConnections();
  void SetStallAfter(int frames) { stallAfter_.store(frames); }
  void SetHtmlStatus(int status) { htmlStatus_.store(status); }

  // Raw request texts (request line and headers) in arrival order.
  std::vector<std::string> RequestLog() const;
  size_t ConnectionCount() const;
  uint64_t FramesServed() const { return framesServed_.load(); }
  // Waits until at least `count` connections were accepted or `timeoutMs` passed.
  bool WaitForConnections(size_t count, int timeoutMs) const;
  // Waits until at least `count` requests were logged or `timeoutMs` passed.
  bool WaitForRequests(size_t count, int timeoutMs) const;

  // The pre-encoded pictures, for tests that compare what arrives.
  const std::vector<std::vector<uint8_t>>& Frames() const { return frames_; }
  const std::vector<uint8_t>& ThumbnailJpeg() const { return thumbnail_; }
  // The bytes served as picture number `index` (counted per connection) in `mode`.
  std::vector<uint8_t> Picture(Mode mode, uint64_t index) const;

 private:
  struct Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  bool OpenListener(std::string* error);
  void AcceptLoop();
  void Serve(Connection* c);
  void ServeSnapshot(int fd);
  void ServePush(int fd);
  void HoldOpen(int fd);
  bool SendAll(int fd, const void* data, size_t size);
  bool SendText(int fd, const std::string& text) { return SendAll(fd, text.data(), text.size()); }
  bool WaitUntil(int fd, int64_t deadlineNs);
  std::vector<uint8_t> GarbageChunk(size_t size, uint32_t& seed) const;
  void ReapFinished(bool all);

  Options options_;
  std::vector<std::vector<uint8_t>> frames_;
  std::vector<uint8_t> thumbnail_;

  uint16_t port_ = 0;
  int listenFd_ = -1;   // owned by the accept thread once it runs
  int stopFd_ = -1;     // eventfd written once at Stop; never drained
  int controlFd_ = -1;  // eventfd that wakes the accept thread for mode changes
  std::thread acceptThread_;
  std::atomic<bool> running_{false};
  std::atomic<Mode> mode_{Mode::Normal};
  std::atomic<int> stallAfter_{0};
  std::atomic<int> htmlStatus_{500};
  std::atomic<uint64_t> framesServed_{0};

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> requests_;
  size_t connections_ = 0;
  uint64_t modeGeneration_ = 0;     // bumped by SetMode
  uint64_t appliedGeneration_ = 0;  // last generation the accept thread applied
  std::list<std::unique_ptr<Connection>> live_;
};

}  // namespace testcam
