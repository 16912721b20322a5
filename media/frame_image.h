#pragma once
// Uncompressed frame image and the frame record a camera worker hands to a live view.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace media {

// Rows are packed without padding, bottom row of the picture first; a 24-bit
// pixel is blue, green, red. Depths 8, 16 (RGB555), 24 and 32 occur.
struct FrameImage {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitsPerPixel = 0;
  std::vector<uint8_t> pixels;

  // width x (bitsPerPixel / 8) x height, or 0 for a negative or overflowing size.
  static size_t SizeFor(int32_t width, int32_t height, int32_t bitsPerPixel) {
    if (width <= 0 || height <= 0 || bitsPerPixel <= 0) return 0;
    const uint64_t s = uint64_t(width) * uint64_t(bitsPerPixel / 8) * uint64_t(height);
    return s > (uint64_t(1) << 31) ? 0 : size_t(s);
  }
  size_t Size() const { return SizeFor(width, height, bitsPerPixel); }
  // True when the buffer holds at least the pixels the header promises.
  bool Valid() const { return Size() > 0 && pixels.size() >= Size(); }
};

struct FrameRecord {
  int32_t triggered = 0;
  int32_t firstBlockColumn = -1;
  int32_t firstBlockRow = -1;
  int32_t lastBlockColumn = -1;
  int32_t lastBlockRow = -1;
  int32_t imageSize = 0;  // width x (bitsPerPixel/8) x height of image
  FrameImage image;
};

}  // namespace media
