#include "recorder/net/stream_cutter.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace recorder::net {

namespace {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kSos = 0xDA;

// First i in [from, fill - 1) with buf[i] == FF and buf[i + 1] == second. When there
// is none, where the next search resumes: fill - 1, as the last byte may be an FF.
size_t FindPair(const uint8_t* buf, size_t fill, size_t from, uint8_t second, bool* found) {
  *found = false;
  const size_t stop = fill > 0 ? fill - 1 : 0;
  size_t i = from;
  while (i < stop) {
    const void* ff = std::memchr(buf + i, kMarker, stop - i);
    if (!ff) return stop;
    i = size_t(static_cast<const uint8_t*>(ff) - buf);
    if (buf[i + 1] == second) {
      *found = true;
      return i;
    }
    ++i;
  }
  return i;
}

}  // namespace

// The buffer is left uninitialised: only the filled part is ever read.
StreamCutter::StreamCutter() : buffer_(new uint8_t[kInitialSize]), capacity_(kInitialSize) {}

void StreamCutter::Clear() {
  fill_ = 0;
  scan_ = Scan::Start;
  pos_ = 0;
  start_ = 0;
}

bool StreamCutter::Reserve(size_t bytes) {
  if (bytes <= capacity_) return true;
  // Doubling keeps the copies linear in the picture size.
  const size_t size = std::min(std::max(capacity_ * 2, bytes), kBufferLimit);
  std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[size]);
  if (!grown) return false;
  std::memcpy(grown.get(), buffer_.get(), fill_);
  buffer_ = std::move(grown);
  capacity_ = size;
  return true;
}

bool StreamCutter::Advance(size_t* end) {
  const uint8_t* buf = buffer_.get();
  bool found = false;
  if (scan_ == Scan::Start) {
    pos_ = FindPair(buf, fill_, pos_, kSoi, &found);
    if (!found) return false;
    start_ = pos_;
    pos_ += 2;
    scan_ = Scan::Segments;
  }
  while (scan_ == Scan::Segments) {
    if (pos_ + 2 > fill_) return false;
    const uint8_t marker = buf[pos_ + 1];
    if (buf[pos_] != kMarker || marker == 0x00 || marker == kSoi) {
      // Not a marker where one must stand: cut at the first FF D9 after FF D8.
      scan_ = Scan::End;
      pos_ = start_;
    } else if (marker == kMarker) {
      ++pos_;  // fill byte before a marker
    } else if (marker == kEoi) {
      *end = pos_ + 2;
      return true;
    } else if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      pos_ += 2;  // markers without a length
    } else {
      if (pos_ + 4 > fill_) return false;
      const size_t length = size_t(buf[pos_ + 2]) << 8 | buf[pos_ + 3];
      if (length < 2) {
        scan_ = Scan::End;
        pos_ = start_;
      } else {
        // A length past the bytes held so far just waits for them.
        pos_ += 2 + length;
        // In the scan data FF is always stuffed, so FF D9 there is the image's end.
        if (marker == kSos) scan_ = Scan::End;
      }
    }
  }
  pos_ = FindPair(buf, fill_, pos_, kEoi, &found);
  if (!found) return false;
  *end = pos_ + 2;
  return true;
}

StreamCutter::Outcome StreamCutter::OnReadable(const ReceiveFn& receive, std::vector<uint8_t>& image) {
  if (fill_ + kReceiveSize >= kBufferLimit || !Reserve(fill_ + kReceiveSize)) {
    Clear();
    // The room was taken for nothing: give it back until a picture needs it again.
    if (capacity_ > kInitialSize) {
      std::unique_ptr<uint8_t[]> small(new (std::nothrow) uint8_t[kInitialSize]);
      if (small) buffer_ = std::move(small), capacity_ = kInitialSize;
    }
    return imageSeen_ ? Outcome::BufferFullRestart : Outcome::BufferFullExit;
  }
  ssize_t n = receive ? receive(buffer_.get() + fill_, kReceiveSize) : -1;
  // A receiver that claims more than it was given room for is treated as a failed receive.
  if (n <= 0 || static_cast<size_t>(n) > kReceiveSize) {
    Clear();
    return Outcome::Closed;
  }
  fill_ += static_cast<size_t>(n);

  size_t stop = 0;
  if (!Advance(&stop)) return Outcome::NeedMore;
  return TakeImage(stop, image);
}

StreamCutter::Outcome StreamCutter::CutHeld(std::vector<uint8_t>& image) {
  size_t stop = 0;
  if (fill_ == 0 || !Advance(&stop)) return Outcome::NeedMore;
  return TakeImage(stop, image);
}

StreamCutter::Outcome StreamCutter::TakeImage(size_t stop, std::vector<uint8_t>& image) {
  const uint8_t* buf = buffer_.get();
  image.assign(buf + start_, buf + stop);
  imageSeen_ = true;
  // Everything before the picture (headers, boundaries, a broken image) goes with it;
  // the rest has not been scanned yet.
  const size_t rest = fill_ - stop;
  if (rest > 0) std::memmove(buffer_.get(), buf + stop, rest);
  Clear();
  fill_ = rest;
  return Outcome::Image;
}

}  // namespace recorder::net
