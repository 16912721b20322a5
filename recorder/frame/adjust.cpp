#include "recorder/frame/adjust.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace recorder::frame {

using media::FrameImage;
using media::FrameRecord;

namespace {

bool Adjustable(const FrameImage& image) { return SupportedDepth(image.bitsPerPixel) && image.Valid(); }

template <size_t B>
inline void CopyPixel(uint8_t* dst, const uint8_t* src) {
  std::memcpy(dst, src, B);
}

template <size_t B>
void FlipRows(uint8_t* data, int32_t width, int32_t height) {
  const size_t stride = size_t(width) * B;
  for (int32_t row = 0; row < height; ++row) {
    uint8_t* left = data + size_t(row) * stride;
    uint8_t* right = left + stride - B;
    // j < (width + 1) / 2: the middle pixel of an odd row swaps with itself.
    for (int32_t j = 0; j < (width + 1) / 2; ++j, left += B, right -= B) {
      uint8_t scratch[B];
      CopyPixel<B>(scratch, left);
      CopyPixel<B>(left, right);
      CopyPixel<B>(right, scratch);
    }
  }
}

// One pass that writes every result pixel (r, c) from source pixel index
// base + r * rowStep + c * colStep; the result is dw pixels wide and dh rows high.
// Tiles keep the strided side of the copy within a few cache lines.
template <size_t B>
void RemapInto(const uint8_t* src, uint8_t* dst, size_t dw, size_t dh, int64_t base, int64_t rowStep,
               int64_t colStep) {
  if (colStep == 1) {
    // Rows stay whole (an upside-down copy): one memcpy per row.
    for (size_t r = 0; r < dh; ++r) std::memcpy(dst + r * dw * B, src + size_t(base + int64_t(r) * rowStep) * B, dw * B);
    return;
  }
  constexpr size_t kTile = 32;
  for (size_t r0 = 0; r0 < dh; r0 += kTile) {
    const size_t r1 = std::min(dh, r0 + kTile);
    for (size_t c0 = 0; c0 < dw; c0 += kTile) {
      const size_t c1 = std::min(dw, c0 + kTile);
      for (size_t r = r0; r < r1; ++r) {
        uint8_t* d = dst + (r * dw + c0) * B;
        // Byte offsets stay signed until added, so no pointer ever leaves the buffer.
        int64_t offset = (base + int64_t(r) * rowStep + int64_t(c0) * colStep) * int64_t(B);
        const int64_t step = colStep * int64_t(B);
        for (size_t c = c0; c < c1; ++c, d += B, offset += step) CopyPixel<B>(d, src + offset);
      }
    }
  }
}

int TurnDegrees(int choice) {
  if (choice == 1 || choice == 90) return 90;
  if (choice == 2 || choice == 180) return 180;
  if (choice == 3 || choice == 270) return 270;
  return 0;
}

// Flips followed by a turn, done as one remap into a fresh buffer.
void Reorient(FrameImage& image, bool flipH, bool flipV, int degrees) {
  const int64_t w = image.width, h = image.height;
  // Source pixel index for result (r, c): undo the turn, then the flips.
  auto sourceIndex = [&](int64_t r, int64_t c) {
    int64_t i = r, j = c;  // position before the turn
    if (degrees == 90) i = c, j = w - 1 - r;
    else if (degrees == 180) i = h - 1 - r, j = w - 1 - c;
    else if (degrees == 270) i = h - 1 - c, j = r;
    if (flipV) i = h - 1 - i;
    if (flipH) j = w - 1 - j;
    return i * w + j;
  };
  const int64_t base = sourceIndex(0, 0);
  const int64_t rowStep = sourceIndex(1, 0) - base;
  const int64_t colStep = sourceIndex(0, 1) - base;
  const bool quarter = degrees == 90 || degrees == 270;
  const size_t dw = size_t(quarter ? h : w), dh = size_t(quarter ? w : h);

  // The result goes into a per-thread spare buffer that takes the old pixels in
  // exchange, so a worker turning every frame does not fault in fresh pages each time.
  thread_local std::vector<uint8_t> spare;
  const size_t size = image.Size();
  try {
    if (spare.size() != size) spare.resize(size);
  } catch (const std::bad_alloc&) {
    return;  // frame stays as it was
  }
  const uint8_t* src = image.pixels.data();
  switch (image.bitsPerPixel) {
    case 8: RemapInto<1>(src, spare.data(), dw, dh, base, rowStep, colStep); break;
    case 16: RemapInto<2>(src, spare.data(), dw, dh, base, rowStep, colStep); break;
    case 24: RemapInto<3>(src, spare.data(), dw, dh, base, rowStep, colStep); break;
    case 32: RemapInto<4>(src, spare.data(), dw, dh, base, rowStep, colStep); break;
    default: return;
  }
  if (image.pixels.size() == size) {
    image.pixels.swap(spare);
  } else {
    // A longer buffer keeps its tail; only the picture bytes are replaced.
    std::memcpy(image.pixels.data(), spare.data(), size);
  }
  if (quarter) std::swap(image.width, image.height);
}

}  // namespace

bool SupportedDepth(int32_t bitsPerPixel) {
  return bitsPerPixel == 8 || bitsPerPixel == 16 || bitsPerPixel == 24 || bitsPerPixel == 32;
}

void FlipHorizontal(FrameImage& image) {
  if (!Adjustable(image)) return;
  uint8_t* data = image.pixels.data();
  switch (image.bitsPerPixel) {
    case 8: FlipRows<1>(data, image.width, image.height); break;
    case 16: FlipRows<2>(data, image.width, image.height); break;
    case 24: FlipRows<3>(data, image.width, image.height); break;
    case 32: FlipRows<4>(data, image.width, image.height); break;
    default: break;
  }
}

void FlipVertical(FrameImage& image) {
  if (!Adjustable(image)) return;
  const size_t stride = size_t(image.width) * size_t(image.bitsPerPixel / 8);
  std::vector<uint8_t> scratch;
  try {
    scratch.resize(stride);
  } catch (const std::bad_alloc&) {
    return;  // frame stays as it was
  }
  uint8_t* data = image.pixels.data();
  const int32_t h = image.height;
  // Rows i and h-1-i for i < (h+1)/2; the middle row of an odd height stays.
  for (int32_t i = 0; i < h / 2; ++i) {
    uint8_t* a = data + size_t(i) * stride;
    uint8_t* b = data + size_t(h - 1 - i) * stride;
    std::memcpy(scratch.data(), a, stride);
    std::memcpy(a, b, stride);
    std::memcpy(b, scratch.data(), stride);
  }
}

void Rotate(FrameImage& image, int choice) {
  const int degrees = TurnDegrees(choice);
  if (degrees == 0 || !Adjustable(image)) return;
  Reorient(image, false, false, degrees);
}

void ApplyOrientation(FrameImage& image, bool flipHorizontal, bool flipVertical, int rotationChoice) {
  const int degrees = TurnDegrees(rotationChoice);
  if (!Adjustable(image)) return;
  if (degrees == 0) {
    // Without a turn the in-place flips need no second buffer and are quicker.
    if (flipHorizontal) FlipHorizontal(image);
    if (flipVertical) FlipVertical(image);
    return;
  }
  Reorient(image, flipHorizontal, flipVertical, degrees);
}

}  // namespace recorder::frame
