#pragma once
// Uncompressed frame image and the frame record a camera worker hands to a live view.
#include <cstddef>
#include <cstdint>
#include <memory>
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

// 8-bit Y, Cb and Cr planes of one picture, top row first, each row `stride`
// bytes apart. The chroma planes cover (width + 1) / 2 columns for 4:2:2 and
// 4:2:0 and (height + 1) / 2 rows for 4:2:0. A decoder hands these over as they
// are (a JPEG decoder, or a video decoder's YUV 4:2:0/4:2:2/4:4:4 frame copied
// row by row), so nothing is converted to RGB that no window shows.
enum class ChromaSampling { k444, k422, k420 };

struct YuvImage {
  int32_t width = 0;
  int32_t height = 0;
  ChromaSampling sampling = ChromaSampling::k420;
  std::vector<uint8_t> plane[3];  // Y, Cb, Cr
  int32_t stride[3] = {0, 0, 0};

  int32_t ChromaWidth() const { return sampling == ChromaSampling::k444 ? width : (width + 1) / 2; }
  int32_t ChromaHeight() const { return sampling == ChromaSampling::k420 ? (height + 1) / 2 : height; }
  // True when the Y plane holds the rows its size and stride promise.
  bool LumaValid() const {
    return width > 0 && height > 0 && stride[0] >= width && plane[0].size() >= size_t(stride[0]) * size_t(height);
  }
  // True when every plane holds the rows its size and stride promise.
  bool Valid() const {
    if (width <= 0 || height <= 0 || stride[0] < width) return false;
    if (plane[0].size() < size_t(stride[0]) * size_t(height)) return false;
    for (int p = 1; p < 3; ++p)
      if (stride[p] < ChromaWidth() || plane[p].size() < size_t(stride[p]) * size_t(ChromaHeight())) return false;
    return true;
  }
};

// A camera's JPEG bytes shared between the recording, a live view and anyone
// else who wants the picture as it is, without copying it.
using SharedJpeg = std::shared_ptr<const std::vector<uint8_t>>;

struct FrameRecord {
  int32_t triggered = 0;
  int32_t firstBlockColumn = -1;
  int32_t firstBlockRow = -1;
  int32_t lastBlockColumn = -1;
  int32_t lastBlockRow = -1;
  int32_t imageSize = 0;  // width x (bitsPerPixel/8) x height of image
  // The picture for a window: filled by the RGB path, and for pictures that are
  // not re-encoded only while a live view shows them (else width and height 0).
  FrameImage image;
  // The camera's own JPEG when the frame is stored as sent; after saving, the
  // bytes that went into the recording (as sent or as encoded). Null otherwise.
  SharedJpeg jpeg;
  // The planes motion is measured on, without any RGB: the Y plane alone for a
  // picture stored as sent (chroma planes left empty), all three for one that is
  // changed and encoded in YUV, or a YUV source's decoded picture. Width 0: none.
  YuvImage yuv;
};

}  // namespace media
