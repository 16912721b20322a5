#pragma once
// In-place mirror and rotation of a frame image (8, 16, 24 and 32 bits per pixel).
#include <cstddef>  // frame_image.h uses size_t

#include "media/frame_image.h"

namespace recorder::frame {

// Mirrors left to right. Frames of other depths or with a short buffer stay unchanged.
void FlipHorizontal(media::FrameImage& image);
// Mirrors top to bottom.
void FlipVertical(media::FrameImage& image);
// choice 1 or 90: a quarter turn clockwise; 2 or 180: half a turn; 3 or 270: a quarter
// turn anticlockwise; anything else leaves the frame unchanged. Quarter turns exchange
// width and height.
void Rotate(media::FrameImage& image, int choice);

// The same result as FlipHorizontal, FlipVertical and Rotate in that order (each only
// when asked for), in a single pass over the pixels.
void ApplyOrientation(media::FrameImage& image, bool flipHorizontal, bool flipVertical, int rotationChoice);

// ApplyOrientation on Y, Cb and Cr planes, each plane turned on its own grid. A
// quarter turn of 4:2:2 planes first halves the chroma rows (4:2:0), since the turned
// picture would need chroma halved in height, a sampling the planes do not carry.
void ApplyOrientation(media::YuvImage& image, bool flipHorizontal, bool flipVertical, int rotationChoice);

// Planes of any sampling brought to 4:2:0 (chroma averaged over each 2 x 2 or
// 2 x 1 group), the sampling every re-encoded picture is saved in.
void ToChroma420(media::YuvImage& image);

// True for the depths the pixel operations accept.
bool SupportedDepth(int32_t bitsPerPixel);

}  // namespace recorder::frame
