#include "media/jpeg_codec.h"

#include "platform/bytes.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>

namespace media {

namespace {

// Larger pictures than this are refused before any allocation: no camera in use
// comes near it, and a forged header must not make us allocate gigabytes.
constexpr uint64_t kMaxPixelBytes = uint64_t(256) << 20;

// One compressor and one decompressor per thread. Creating a handle costs more
// than decoding a small picture, and a handle must never be shared between
// threads, so each thread keeps its own for its lifetime.
struct Handles {
  tjhandle decoder = nullptr;
  tjhandle encoder = nullptr;
  // Output buffer of the worst-case size for the largest picture seen so far,
  // reused across calls so the library never has to grow it mid-picture.
  unsigned char* jpegBuf = nullptr;
  unsigned long jpegCapacity = 0;
  // Scratch rows for the one depth the library cannot read directly (RGB555).
  std::vector<uint8_t> scratch;

  ~Handles() {
    if (jpegBuf) tjFree(jpegBuf);
    if (decoder) tjDestroy(decoder);
    if (encoder) tjDestroy(encoder);
  }
  tjhandle Decoder() {
    if (!decoder) decoder = tjInitDecompress();
    return decoder;
  }
  // A decoder whose header read failed stays in the middle of that header and
  // refuses every picture after it; the next picture gets a fresh one.
  void DropDecoder() {
    if (decoder) tjDestroy(decoder);
    decoder = nullptr;
  }
  tjhandle Encoder() {
    if (!encoder) encoder = tjInitCompress();
    return encoder;
  }
};

Handles& ThreadHandles() {
  thread_local Handles handles;
  return handles;
}

// True when the picture ends with its end-of-image marker (trailing NULs or line
// breaks that some cameras append are ignored).
bool EndsWithEoi(const uint8_t* jpeg, size_t length) {
  while (length > 0 && (jpeg[length - 1] == 0x00 || jpeg[length - 1] == '\r' || jpeg[length - 1] == '\n'))
    --length;
  return length >= 2 && jpeg[length - 2] == 0xFF && jpeg[length - 1] == 0xD9;
}

// RGB555 little-endian words (red in bits 10-14, green 5-9, blue 0-4) to BGR bytes,
// widening each 5-bit channel to 8 bits by repeating its top bits.
void Rgb555ToBgr(const uint8_t* src, size_t pixelCount, uint8_t* dst) {
  for (size_t i = 0; i < pixelCount; ++i) {
    const unsigned v = platform::LoadLE16(src + 2 * i);
    const unsigned r = (v >> 10) & 0x1F, g = (v >> 5) & 0x1F, b = v & 0x1F;
    dst[3 * i + 0] = uint8_t((b << 3) | (b >> 2));
    dst[3 * i + 1] = uint8_t((g << 3) | (g >> 2));
    dst[3 * i + 2] = uint8_t((r << 3) | (r >> 2));
  }
}

}  // namespace

// Pictures that decode with a warning (for example stray bytes before a marker,
// which some cameras emit) are accepted when they end with their end-of-image
// marker; a picture cut short decodes with a warning too, but half of it would be
// grey filler, so one without its end marker is refused.
bool DecodeJpeg(const uint8_t* jpeg, size_t length, FrameImage& out) {
  int width = 0, height = 0, subsamp = 0, colorspace = 0;
  tjhandle h = (jpeg && length >= 4) ? ThreadHandles().Decoder() : nullptr;
  if (!h ||
      tjDecompressHeader3(h, jpeg, static_cast<unsigned long>(length), &width, &height, &subsamp,
                          &colorspace) != 0 ||
      width <= 0 || height <= 0 || uint64_t(width) * 3u * uint64_t(height) > kMaxPixelBytes) {
    if (h) ThreadHandles().DropDecoder();
    out = FrameImage{};
    return false;
  }
  // The caller's buffer is reused when it already has the size: a worker decoding
  // a stream of same-sized pictures then never allocates or clears memory.
  out.width = width;
  out.height = height;
  out.bitsPerPixel = 24;
  out.pixels.resize(size_t(width) * 3 * size_t(height));
  // Decoding straight into the frame layout: BGR, bottom row first, packed rows.
  const int rc = tjDecompress2(h, jpeg, static_cast<unsigned long>(length), out.pixels.data(), width,
                               width * 3, height, TJPF_BGR, TJFLAG_BOTTOMUP | TJFLAG_LIMITSCANS);
  if (rc != 0 && !(tjGetErrorCode(h) == TJERR_WARNING && EndsWithEoi(jpeg, length))) {
    ThreadHandles().DropDecoder();
    out = FrameImage{};
    return false;
  }
  return true;
}

namespace {

// Reads the header; false (decoder dropped) when it does not parse or the picture
// is larger than we ever decode.
bool ReadHeader(const uint8_t* jpeg, size_t length, int& width, int& height, int& subsamp, tjhandle& h) {
  int colorspace = 0;
  h = (jpeg && length >= 4) ? ThreadHandles().Decoder() : nullptr;
  if (!h ||
      tjDecompressHeader3(h, jpeg, static_cast<unsigned long>(length), &width, &height, &subsamp, &colorspace) !=
          0 ||
      width <= 0 || height <= 0 || uint64_t(width) * 3u * uint64_t(height) > kMaxPixelBytes) {
    if (h) ThreadHandles().DropDecoder();
    return false;
  }
  return true;
}

// A decode that failed outright, or warned about a picture cut short.
bool DecodeFailed(tjhandle h, int rc, const uint8_t* jpeg, size_t length) {
  if (rc == 0 || (tjGetErrorCode(h) == TJERR_WARNING && EndsWithEoi(jpeg, length))) return false;
  ThreadHandles().DropDecoder();
  return true;
}

bool SamplingOf(int subsamp, ChromaSampling& sampling) {
  switch (subsamp) {
    case TJSAMP_444: sampling = ChromaSampling::k444; return true;
    case TJSAMP_422: sampling = ChromaSampling::k422; return true;
    case TJSAMP_420: sampling = ChromaSampling::k420; return true;
    default: return false;
  }
}

int TjSampling(ChromaSampling sampling) {
  switch (sampling) {
    case ChromaSampling::k444: return TJSAMP_444;
    case ChromaSampling::k422: return TJSAMP_422;
    case ChromaSampling::k420: break;
  }
  return TJSAMP_420;
}

// Makes the output buffer big enough for a worst-case picture of `need` bytes.
bool ReserveJpegBuffer(Handles& th, unsigned long need) {
  if (need == static_cast<unsigned long>(-1) || need > 0x7FFFFFFFul) return false;
  if (th.jpegCapacity >= need) return true;
  if (th.jpegBuf) tjFree(th.jpegBuf);
  th.jpegCapacity = 0;
  th.jpegBuf = tjAlloc(static_cast<int>(need));
  if (!th.jpegBuf) return false;
  th.jpegCapacity = need;
  return true;
}

}  // namespace

bool DecodeJpegLuma(const uint8_t* jpeg, size_t length, YuvImage& out) {
  int width = 0, height = 0, subsamp = 0;
  tjhandle h = nullptr;
  if (!ReadHeader(jpeg, length, width, height, subsamp, h)) {
    out = YuvImage{};
    return false;
  }
  out.width = width;
  out.height = height;
  SamplingOf(subsamp, out.sampling);
  out.stride[0] = width;
  out.stride[1] = out.stride[2] = 0;
  out.plane[0].resize(size_t(width) * size_t(height));
  out.plane[1].clear();
  out.plane[2].clear();
  // Grey output from a YCbCr picture: the library skips the chroma components'
  // inverse DCT and upsampling and copies Y through without colour conversion.
  const int rc = tjDecompress2(h, jpeg, static_cast<unsigned long>(length), out.plane[0].data(), width, width,
                               height, TJPF_GRAY, TJFLAG_LIMITSCANS);
  if (DecodeFailed(h, rc, jpeg, length)) {
    out = YuvImage{};
    return false;
  }
  return true;
}

bool DecodeJpegYuv(const uint8_t* jpeg, size_t length, YuvImage& out) {
  int width = 0, height = 0, subsamp = 0;
  tjhandle h = nullptr;
  if (!ReadHeader(jpeg, length, width, height, subsamp, h) || !SamplingOf(subsamp, out.sampling)) {
    out = YuvImage{};
    return false;
  }
  out.width = width;
  out.height = height;
  // The library writes whole sample groups: planes of odd-sized pictures get a
  // padding column and row, which the strides and sizes take in.
  for (int p = 0; p < 3; ++p) {
    out.stride[p] = tjPlaneWidth(p, width, subsamp);
    const int rows = tjPlaneHeight(p, height, subsamp);
    if (out.stride[p] <= 0 || rows <= 0) {
      out = YuvImage{};
      return false;
    }
    out.plane[p].resize(size_t(out.stride[p]) * size_t(rows));
  }
  unsigned char* planes[3] = {out.plane[0].data(), out.plane[1].data(), out.plane[2].data()};
  int strides[3] = {out.stride[0], out.stride[1], out.stride[2]};
  const int rc = tjDecompressToYUVPlanes(h, jpeg, static_cast<unsigned long>(length), planes, width, strides,
                                         height, TJFLAG_LIMITSCANS);
  if (DecodeFailed(h, rc, jpeg, length)) {
    out = YuvImage{};
    return false;
  }
  return true;
}

namespace {

// Planes as the library reads them: every plane holds whole sample groups
// (tjPlaneWidth x tjPlaneHeight samples, which exceed a picture of odd size).
// Planes that do not (packed planes of an odd-sized picture) are copied into
// `scratch` with their last column and row repeated. Null when the planes are invalid.
const YuvImage* PlanesForLibrary(const YuvImage& yuv, YuvImage& scratch) {
  if (!yuv.Valid()) return nullptr;
  const int subsamp = TjSampling(yuv.sampling);
  bool whole = true;
  int widths[3], heights[3];
  for (int p = 0; p < 3; ++p) {
    widths[p] = tjPlaneWidth(p, yuv.width, subsamp);
    heights[p] = tjPlaneHeight(p, yuv.height, subsamp);
    if (widths[p] <= 0 || heights[p] <= 0) return nullptr;
    whole = whole && yuv.stride[p] >= widths[p] &&
            yuv.plane[p].size() >= size_t(yuv.stride[p]) * size_t(heights[p] - 1) + size_t(widths[p]);
  }
  if (whole) return &yuv;
  scratch.width = yuv.width;
  scratch.height = yuv.height;
  scratch.sampling = yuv.sampling;
  for (int p = 0; p < 3; ++p) {
    const int w = p == 0 ? yuv.width : yuv.ChromaWidth(), h = p == 0 ? yuv.height : yuv.ChromaHeight();
    scratch.stride[p] = widths[p];
    scratch.plane[p].resize(size_t(widths[p]) * size_t(heights[p]));
    for (int y = 0; y < heights[p]; ++y) {
      const uint8_t* src = yuv.plane[p].data() + size_t(std::min(y, h - 1)) * size_t(yuv.stride[p]);
      uint8_t* dst = scratch.plane[p].data() + size_t(y) * size_t(widths[p]);
      std::memcpy(dst, src, size_t(std::min(w, widths[p])));
      for (int x = w; x < widths[p]; ++x) dst[x] = src[w - 1];
    }
  }
  return &scratch;
}

}  // namespace

bool YuvToFrameImage(const YuvImage& input, FrameImage& out) {
  thread_local YuvImage padded;
  const YuvImage* planesIn = PlanesForLibrary(input, padded);
  if (!planesIn) {
    out = FrameImage{};
    return false;
  }
  const YuvImage& yuv = *planesIn;
  tjhandle h = ThreadHandles().Decoder();
  if (!h || uint64_t(yuv.width) * 3u * uint64_t(yuv.height) > kMaxPixelBytes) {
    out = FrameImage{};
    return false;
  }
  out.width = yuv.width;
  out.height = yuv.height;
  out.bitsPerPixel = 24;
  out.pixels.resize(size_t(yuv.width) * 3 * size_t(yuv.height));
  const unsigned char* planes[3] = {yuv.plane[0].data(), yuv.plane[1].data(), yuv.plane[2].data()};
  int strides[3] = {yuv.stride[0], yuv.stride[1], yuv.stride[2]};
  if (tjDecodeYUVPlanes(h, planes, strides, TjSampling(yuv.sampling), out.pixels.data(), yuv.width, yuv.width * 3,
                        yuv.height, TJPF_BGR, TJFLAG_BOTTOMUP) != 0) {
    out = FrameImage{};
    return false;
  }
  return true;
}

bool EncodeJpegYuv(const YuvImage& input, int quality, std::vector<uint8_t>& out) {
  thread_local YuvImage padded;
  if (!input.Valid() || uint64_t(input.width) * 3u * uint64_t(input.height) > kMaxPixelBytes) return false;
  const YuvImage* planesIn = PlanesForLibrary(input, padded);
  if (!planesIn) return false;
  const YuvImage& image = *planesIn;
  Handles& th = ThreadHandles();
  tjhandle h = th.Encoder();
  const int subsamp = TjSampling(image.sampling);
  if (!h || !ReserveJpegBuffer(th, tjBufSize(image.width, image.height, subsamp))) return false;
  const unsigned char* planes[3] = {image.plane[0].data(), image.plane[1].data(), image.plane[2].data()};
  int strides[3] = {image.stride[0], image.stride[1], image.stride[2]};
  unsigned long jpegSize = th.jpegCapacity;
  if (tjCompressFromYUVPlanes(h, planes, image.width, strides, image.height, subsamp, &th.jpegBuf, &jpegSize,
                              std::clamp(quality, 1, 100), TJFLAG_NOREALLOC) != 0)
    return false;
  out.assign(th.jpegBuf, th.jpegBuf + jpegSize);
  return true;
}

bool EncodeJpeg(const FrameImage& image, int quality, std::vector<uint8_t>& out) {
  if (!image.Valid()) return false;
  const int bpp = image.bitsPerPixel;
  if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  if (uint64_t(image.Size()) > kMaxPixelBytes) return false;
  Handles& th = ThreadHandles();
  tjhandle h = th.Encoder();
  if (!h) return false;

  const int w = image.width, ht = image.height;
  const uint8_t* src = image.pixels.data();
  int pitch = w * (bpp / 8);
  int pixelFormat = TJPF_BGR;
  int subsamp = TJSAMP_420;
  switch (bpp) {
    case 8:
      pixelFormat = TJPF_GRAY;
      subsamp = TJSAMP_GRAY;
      break;
    case 16:
      th.scratch.resize(size_t(w) * 3 * size_t(ht));
      Rgb555ToBgr(src, size_t(w) * size_t(ht), th.scratch.data());
      src = th.scratch.data();
      pitch = w * 3;
      break;
    case 32:
      pixelFormat = TJPF_BGRX;
      break;
    default:
      break;
  }
  if (!ReserveJpegBuffer(th, tjBufSize(w, ht, subsamp))) return false;
  // 0 asks for the lowest setting, which is 1 in this library.
  const int q = std::clamp(quality, 1, 100);
  unsigned long jpegSize = th.jpegCapacity;
  if (tjCompress2(h, src, w, pitch, ht, pixelFormat, &th.jpegBuf, &jpegSize, subsamp, q,
                  TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC) != 0)
    return false;
  out.assign(th.jpegBuf, th.jpegBuf + jpegSize);
  return true;
}

}  // namespace media
