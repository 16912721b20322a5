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

}  // namespace media
