#pragma once
// Cuts JPEG images out of the bytes a camera sends, without parsing HTTP at all.
// An image runs from FF D8 to its end marker FF D9; the marker segments between
// are walked by their lengths, so an end marker inside one (an embedded preview
// picture) does not end the cut.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <sys/types.h>

namespace recorder::net {

class StreamCutter {
 public:
  static constexpr size_t kReceiveSize = 4096;
  static constexpr size_t kInitialSize = 208896;  // most pictures fit without growing
  // The buffer grows as an image needs: a receive is attempted while fewer than
  // 16 MiB are held, so it never holds more than this.
  static constexpr size_t kBufferLimit = (size_t(16) << 20) + kReceiveSize;

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
  // Cuts a picture that is already whole among the held bytes, without receiving:
  // one receive can bring two pictures, and the second must not wait for more
  // data that a stalled camera never sends. Image or NeedMore.
  Outcome CutHeld(std::vector<uint8_t>& image);
  // The socket was closed: the buffer empties. imageSeen stays.
  void Reset() { Clear(); }
  size_t fill() const { return fill_; }
  bool imageSeen() const { return imageSeen_; }

 private:
  // What the scan of the held bytes is looking for; it resumes where it stopped.
  enum class Scan {
    Start,     // FF D8, pairs from pos_
    Segments,  // the marker segment at pos_, walked by its length up to the scan data
    End,       // FF D9, pairs from pos_
  };

  void Clear();
  bool Reserve(size_t bytes);
  // Advances the scan over the held bytes; true with `end` (one past FF D9) when an
  // image is complete.
  bool Advance(size_t* end);
  // Hands out the picture that ends at `end` and keeps the bytes after it.
  Outcome TakeImage(size_t end, std::vector<uint8_t>& image);

  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_ = 0;
  size_t fill_ = 0;
  bool imageSeen_ = false;
  Scan scan_ = Scan::Start;
  size_t pos_ = 0;
  size_t start_ = 0;  // offset of FF D8 once found
};

}  // namespace recorder::net
