#pragma once
// Cuts JPEG images (FF D8 .. first FF D9) out of the bytes a camera sends,
// without parsing HTTP at all.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <sys/types.h>

namespace recorder::net {

class StreamCutter {
 public:
  static constexpr size_t kBufferSize = 208896;  // 0x33000
  static constexpr size_t kReceiveSize = 4096;

  enum class Outcome {
    NeedMore,           // nothing complete yet
    Image,              // `image` holds one picture; its bytes were dropped from the buffer
    BufferFullRestart,  // buffer full after an image was seen: close, reconnect in 1 s
    BufferFullExit,     // buffer full and never an image: the worker ends
    Closed,             // receive error or zero bytes: close, reconnect in 1 s
  };

  // Receives at most `max` bytes into `dst`; returns the count, 0 on close, <0 on error.
  using ReceiveFn = std::function<ssize_t(uint8_t* dst, size_t max)>;

  StreamCutter();
  // One data-ready notification: buffer check, one receive, cut at most one image.
  Outcome OnReadable(const ReceiveFn& receive, std::vector<uint8_t>& image);
  // The socket was closed: the buffer empties. imageSeen stays.
  void Reset() { fill_ = 0; }
  size_t fill() const { return fill_; }
  bool imageSeen() const { return imageSeen_; }

 private:
  std::unique_ptr<uint8_t[]> buffer_;
  size_t fill_ = 0;
  bool imageSeen_ = false;
};

}  // namespace recorder::net
