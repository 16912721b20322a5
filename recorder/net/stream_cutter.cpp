#include "recorder/net/stream_cutter.h"

#include <cstring>

#include "platform/bytes.h"

namespace recorder::net {

namespace {
constexpr uint8_t kSoi[2] = {0xFF, 0xD8};
constexpr uint8_t kEoi[2] = {0xFF, 0xD9};
}  // namespace

// The buffer is left uninitialised: only the filled part is ever read.
StreamCutter::StreamCutter() : buffer_(new uint8_t[kBufferSize]) {}

StreamCutter::Outcome StreamCutter::OnReadable(const ReceiveFn& receive, std::vector<uint8_t>& image) {
  if (fill_ + kReceiveSize >= kBufferSize) {
    fill_ = 0;
    return imageSeen_ ? Outcome::BufferFullRestart : Outcome::BufferFullExit;
  }
  ssize_t n = receive ? receive(buffer_.get() + fill_, kReceiveSize) : -1;
  // A receiver that claims more than it was given room for is treated as a failed receive.
  if (n <= 0 || static_cast<size_t>(n) > kReceiveSize) {
    fill_ = 0;
    return Outcome::Closed;
  }
  fill_ += static_cast<size_t>(n);

  const uint8_t* buf = buffer_.get();
  long start = platform::FindBytes(buf, fill_, kSoi, 2);
  if (start < 0) return Outcome::NeedMore;
  long end = platform::FindBytes(buf, fill_, kEoi, 2, static_cast<size_t>(start));
  if (end < 0) return Outcome::NeedMore;

  size_t s = static_cast<size_t>(start);
  size_t stop = static_cast<size_t>(end) + 2;
  image.assign(buf + s, buf + stop);
  imageSeen_ = true;
  // Everything before the picture (headers, boundaries, a broken image) goes with it.
  if (stop == fill_) {
    fill_ = 0;
  } else {
    std::memmove(buffer_.get(), buf + stop, fill_ - stop);
    fill_ -= stop;
  }
  return Outcome::Image;
}

}  // namespace recorder::net
