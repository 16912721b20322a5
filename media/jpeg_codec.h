#pragma once
// JPEG decoding into frame images and encoding from them (libjpeg-turbo).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/frame_image.h"

namespace media {

// Decodes one JPEG picture into a 24-bit, bottom-up, blue-green-red frame image.
// Greyscale pictures are expanded to 24 bits. On failure `out` is left empty.
bool DecodeJpeg(const uint8_t* jpeg, size_t length, FrameImage& out);

// Encodes an 8 (grey), 16 (RGB555), 24 (BGR) or 32-bit (BGRX) bottom-up frame image
// as a baseline JPEG with a quantisation table, at quality 0..100 (0 stands for the
// library's lowest setting). `out` receives the JPEG bytes.
bool EncodeJpeg(const FrameImage& image, int quality, std::vector<uint8_t>& out);

// Decodes only the luma of a JPEG (no chroma IDCT, no colour conversion) into
// out.plane[0], top row first, packed rows; the chroma planes are left empty. The
// whole picture is still entropy-decoded, so a broken picture fails here just as
// it would in DecodeJpeg. On failure `out` is left empty.
bool DecodeJpegLuma(const uint8_t* jpeg, size_t length, YuvImage& out);

// Decodes a JPEG into Y, Cb and Cr planes (packed rows, top row first). Pictures
// sampled other than 4:4:4, 4:2:2 or 4:2:0 (greyscale among them) fail: callers
// take the RGB path for those.
bool DecodeJpegYuv(const uint8_t* jpeg, size_t length, YuvImage& out);

// Y, Cb and Cr planes turned into a 24-bit bottom-up frame image for a window,
// as the JPEG decoder would have made it. False (out empty) for invalid planes.
bool YuvToFrameImage(const YuvImage& yuv, FrameImage& out);

// Encodes Y, Cb and Cr planes as a baseline JPEG with a quantisation table at
// quality 0..100, keeping their chroma sampling.
bool EncodeJpegYuv(const YuvImage& image, int quality, std::vector<uint8_t>& out);

}  // namespace media
