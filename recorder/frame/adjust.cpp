#include "recorder/frame/adjust.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

namespace recorder::frame {

using media::FrameImage;

namespace {

// The word moves below put pixels into integers in memory order.
static_assert(std::endian::native == std::endian::little, "pixel word moves assume little-endian");

bool Adjustable(const FrameImage& image) { return SupportedDepth(image.bitsPerPixel) && image.Valid(); }

template <class T>
inline T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
inline void Store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

template <size_t B>
using PixelWord = std::conditional_t<B == 1, uint8_t, std::conditional_t<B == 2, uint16_t, uint32_t>>;

// Writes n pixels to dst in order, pixel k read from src + k * step bytes, and nothing
// outside those n pixels. With wideReads a 24-bit pixel is read as four bytes, so the
// byte after every source pixel must lie inside the buffer.
template <size_t B, bool wideReads>
void GatherRun(uint8_t* dst, const uint8_t* src, ptrdiff_t step, size_t n) {
  ptrdiff_t off = 0;  // stays an offset, so no pointer is formed outside the buffer
  size_t k = 0;
  if constexpr (B == 3) {
    if (n == 0) return;
    // One four-byte store per pixel instead of a two- and a one-byte store; its spare
    // byte lands on the next pixel, which is written right after.
    for (; k + 1 < n; ++k, off += step) {
      const uint32_t v = wideReads ? Load<uint32_t>(src + off)
                                   : uint32_t(Load<uint16_t>(src + off)) | uint32_t(src[off + 2]) << 16;
      Store<uint32_t>(dst + 3 * k, v);
    }
    std::memcpy(dst + 3 * k, src + off, 3);
  } else {
    using T = PixelWord<B>;
    constexpr size_t perWord = 8 / B;
    // Several small pixels go out in one eight-byte store.
    for (; k + perWord <= n; k += perWord) {
      uint64_t word = 0;
      for (size_t g = 0; g < perWord; ++g, off += step) word |= uint64_t(Load<T>(src + off)) << (8 * B * g);
      Store<uint64_t>(dst + B * k, word);
    }
    for (; k < n; ++k, off += step) Store<T>(dst + B * k, Load<T>(src + off));
  }
}

// GatherRun with wide reads wherever the run's highest source pixel leaves a byte
// before end.
template <size_t B>
void Gather(uint8_t* dst, const uint8_t* src, ptrdiff_t step, size_t n, const uint8_t* end) {
  if constexpr (B == 3) {
    const uint8_t* top = step > 0 && n > 0 ? src + step * ptrdiff_t(n - 1) : src;
    if (end - top < 4) return GatherRun<B, false>(dst, src, step, n);
  }
  GatherRun<B, true>(dst, src, step, n);
}

// Four 24-bit pixels, twelve bytes, held as a low word of bytes 0-7 and a high word of
// bytes 8-11.
struct Quad3 {
  uint64_t lo;
  uint32_t hi;

  static Quad3 Load(const uint8_t* p) { return {frame::Load<uint64_t>(p), frame::Load<uint32_t>(p + 8)}; }
  void Store(uint8_t* p) const {
    frame::Store<uint64_t>(p, lo);
    frame::Store<uint32_t>(p + 8, hi);
  }
  // The same pixels in the opposite order.
  Quad3 Reversed() const {
    constexpr uint64_t kPixel = 0xFFFFFF;
    const uint64_t p0 = lo & kPixel, p1 = (lo >> 24) & kPixel, p2 = (lo >> 48) | uint64_t(hi & 0xFF) << 16,
                   p3 = hi >> 8;
    return {p3 | p2 << 24 | p1 << 48, uint32_t(p1 >> 16 | p0 << 8)};
  }
};

// Swaps the pixels at the two ends of each row, moving inwards; the middle pixel of an
// odd row stays.
template <size_t B>
void FlipRows(uint8_t* data, int32_t width, int32_t height) {
  const size_t w = size_t(width), stride = w * B;
  for (int32_t row = 0; row < height; ++row) {
    uint8_t* left = data + size_t(row) * stride;
    uint8_t* right = left + stride - B;
    if constexpr (B == 3) {
      // Four pixels from each end per step, in whole words: far fewer moves than three
      // bytes at a time. The last few pairs in the middle swap bytewise.
      for (; right - left >= 7 * 3; left += 4 * 3, right -= 4 * 3) {
        uint8_t* rightBlock = right - 3 * 3;
        const Quad3 l = Quad3::Load(left), r = Quad3::Load(rightBlock);
        r.Reversed().Store(left);
        l.Reversed().Store(rightBlock);
      }
      for (; right > left; left += 3, right -= 3) std::swap_ranges(left, left + 3, right);
    } else {
      // Whole-pixel swaps of one integer type, which the compiler turns into vector code.
      using T = PixelWord<B>;
      for (; right > left; left += B, right -= B) {
        const T l = Load<T>(left);
        Store<T>(left, Load<T>(right));
        Store<T>(right, l);
      }
    }
  }
}

// One pass that writes every result pixel (r, c) from source pixel index
// base + r * rowStep + c * colStep; the result is dw pixels wide and dh rows high.
template <size_t B>
void RemapInto(const uint8_t* src, const uint8_t* srcEnd, uint8_t* dst, size_t dw, size_t dh, int64_t base,
               int64_t rowStep, int64_t colStep) {
  const auto from = [&](size_t r, size_t c) {
    return src + (base + int64_t(r) * rowStep + int64_t(c) * colStep) * int64_t(B);
  };
  if (colStep == 1) {
    // Rows stay whole (an upside-down copy): one memcpy per row.
    for (size_t r = 0; r < dh; ++r) std::memcpy(dst + r * dw * B, from(r, 0), dw * B);
    return;
  }
  const ptrdiff_t step = ptrdiff_t(colStep) * ptrdiff_t(B);
  if (colStep == -1) {
    // Rows read backwards are contiguous on both sides already.
    for (size_t r = 0; r < dh; ++r) Gather<B>(dst + r * dw * B, from(r, 0), step, dw, srcEnd);
    return;
  }
  // A quarter turn reads down columns; tiles keep the source rows of a tile in cache
  // while the tile's result rows are written. A tile row of 64 to 128 bytes is whole
  // cache lines, the quickest size for every depth on 1920 x 1080.
  constexpr size_t kTile = B <= 2 ? 64 : 32;
  for (size_t r0 = 0; r0 < dh; r0 += kTile) {
    const size_t r1 = std::min(dh, r0 + kTile);
    for (size_t c0 = 0; c0 < dw; c0 += kTile) {
      const size_t n = std::min(dw, c0 + kTile) - c0;
      for (size_t r = r0; r < r1; ++r) Gather<B>(dst + (r * dw + c0) * B, from(r, c0), step, n, srcEnd);
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
  const uint8_t* end = src + size;
  switch (image.bitsPerPixel) {
    case 8: RemapInto<1>(src, end, spare.data(), dw, dh, base, rowStep, colStep); break;
    case 16: RemapInto<2>(src, end, spare.data(), dw, dh, base, rowStep, colStep); break;
    case 24: RemapInto<3>(src, end, spare.data(), dw, dh, base, rowStep, colStep); break;
    case 32: RemapInto<4>(src, end, spare.data(), dw, dh, base, rowStep, colStep); break;
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
  if (degrees == 0 && !(flipHorizontal && flipVertical)) {
    // A single flip is quickest in place; both flips together are a half turn, done as
    // one pass below rather than two.
    if (flipHorizontal) FlipHorizontal(image);
    if (flipVertical) FlipVertical(image);
    return;
  }
  Reorient(image, flipHorizontal, flipVertical, degrees);
}

}  // namespace recorder::frame

namespace recorder::frame {

namespace {

// 0 none, 1 a quarter turn clockwise, 2 half a turn, 3 a quarter turn anticlockwise.
int Turns(int choice) {
  switch (choice) {
    case 1: case 90: return 1;
    case 2: case 180: return 2;
    case 3: case 270: return 3;
    default: return 0;
  }
}

// One plane of w x h samples (rows top to bottom, `stride` apart) flipped and turned
// into `out`, packed; returns the new row length. Flips and turn are one affine map
// from (row, column) to the output index, walked in tiles so that a quarter turn's
// scattered writes stay in cache.
int32_t OrientPlane(const std::vector<uint8_t>& in, int32_t stride, int32_t w, int32_t h, bool flipH, bool flipV,
                    int turns, std::vector<uint8_t>& out) {
  const int64_t ow = (turns % 2) ? h : w;
  out.resize(size_t(w) * size_t(h));
  // Flipped coordinates: ty = a0 + t * a1, tx = b0 + j * b1.
  const int64_t a0 = flipV ? h - 1 : 0, a1 = flipV ? -1 : 1;
  const int64_t b0 = flipH ? w - 1 : 0, b1 = flipH ? -1 : 1;
  int64_t c0 = 0, dt = 0, dj = 0;  // output index = c0 + t * dt + j * dj
  switch (turns) {
    case 1: c0 = b0 * ow + (h - 1) - a0, dt = -a1, dj = b1 * ow; break;           // (tx, h-1-ty)
    case 2: c0 = (h - 1 - a0) * ow + (w - 1 - b0), dt = -a1 * ow, dj = -b1; break;  // (h-1-ty, w-1-tx)
    case 3: c0 = (w - 1 - b0) * ow + a0, dt = a1, dj = -b1 * ow; break;           // (w-1-tx, ty)
    default: c0 = a0 * ow + b0, dt = a1 * ow, dj = b1; break;                    // (ty, tx)
  }
  constexpr int32_t kTile = 64;
  uint8_t* dst = out.data();
  for (int32_t t0 = 0; t0 < h; t0 += kTile) {
    const int32_t t1 = std::min(h, t0 + kTile);
    for (int32_t j0 = 0; j0 < w; j0 += kTile) {
      const int32_t j1 = std::min(w, j0 + kTile);
      for (int32_t t = t0; t < t1; ++t) {
        const uint8_t* src = in.data() + size_t(t) * size_t(stride);
        int64_t d = c0 + int64_t(t) * dt + int64_t(j0) * dj;
        for (int32_t j = j0; j < j1; ++j, d += dj) dst[d] = src[j];
      }
    }
  }
  return int32_t(ow);
}

// 4:2:2 chroma to 4:2:0: each pair of rows averaged (a lone last row kept).
void HalveChromaRows(media::YuvImage& image) {
  const int32_t cw = image.ChromaWidth();
  const int32_t ch = image.height, nh = (image.height + 1) / 2;
  for (int p = 1; p < 3; ++p) {
    std::vector<uint8_t> out(size_t(cw) * size_t(nh));
    for (int32_t r = 0; r < nh; ++r) {
      const uint8_t* a = image.plane[p].data() + size_t(2 * r) * size_t(image.stride[p]);
      const uint8_t* b = 2 * r + 1 < ch ? a + image.stride[p] : a;
      for (int32_t x = 0; x < cw; ++x) out[size_t(r) * cw + x] = uint8_t((a[x] + b[x] + 1) / 2);
    }
    image.plane[p].swap(out);
    image.stride[p] = cw;
  }
  image.sampling = media::ChromaSampling::k420;
}

}  // namespace

void ToChroma420(media::YuvImage& image) {
  if (!image.Valid() || image.sampling == media::ChromaSampling::k420) return;
  if (image.sampling == media::ChromaSampling::k444) {
    const int32_t w = image.width, h = image.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
    for (int p = 1; p < 3; ++p) {
      std::vector<uint8_t> out(size_t(cw) * size_t(ch));
      for (int32_t r = 0; r < ch; ++r) {
        const uint8_t* a = image.plane[p].data() + size_t(2 * r) * size_t(image.stride[p]);
        const uint8_t* b = 2 * r + 1 < h ? a + image.stride[p] : a;
        for (int32_t x = 0; x < cw; ++x) {
          const int32_t x1 = 2 * x + 1 < w ? 2 * x + 1 : 2 * x;
          out[size_t(r) * cw + x] = uint8_t((a[2 * x] + a[x1] + b[2 * x] + b[x1] + 2) / 4);
        }
      }
      image.plane[p].swap(out);
      image.stride[p] = cw;
    }
    image.sampling = media::ChromaSampling::k420;
    return;
  }
  HalveChromaRows(image);
}

void ApplyOrientation(media::YuvImage& image, bool flipHorizontal, bool flipVertical, int rotationChoice) {
  const int turns = Turns(rotationChoice);
  if ((!flipHorizontal && !flipVertical && turns == 0) || !image.Valid()) return;
  if (turns % 2 && image.sampling == media::ChromaSampling::k422) HalveChromaRows(image);
  thread_local std::vector<uint8_t> scratch;
  const int32_t cw = image.ChromaWidth(), ch = image.ChromaHeight();
  for (int p = 0; p < 3; ++p) {
    const int32_t w = p == 0 ? image.width : cw, h = p == 0 ? image.height : ch;
    image.stride[p] = OrientPlane(image.plane[p], image.stride[p], w, h, flipHorizontal, flipVertical, turns, scratch);
    image.plane[p].swap(scratch);
  }
  if (turns % 2) std::swap(image.width, image.height);
}

}  // namespace recorder::frame
