// Decoding fuzzed bytes as a JPEG: fails or gives a picture whose pixel buffer
// holds every row it claims.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/jpeg_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A heap copy of exactly the input's size, so a read past it is seen.
  const std::vector<uint8_t> jpeg(data, data + size);
  media::FrameImage image;
  if (!media::DecodeJpeg(jpeg.data(), jpeg.size(), image)) return 0;
  if (!image.Valid() || image.bitsPerPixel != 24) __builtin_trap();
  return 0;
}
