#pragma once
// Motion detection on a 20 x 20 grid of blocks, with ignore blocks.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/motion_grid.h"

namespace recorder::frame {

constexpr int kGridSize = media::kMotionGridSize;
constexpr size_t kGridBytes = media::kMotionGridBytes;

// The grid, its editing commands and the block fields come from MotionGrid;
// Measure fills the blocks and skips the ignored ones.
class MotionDetector : public media::MotionGrid {
 public:
  // Motion level 0..255 of a 24-bit bottom-up frame against the previous one, and
  // the first and last blocks above triggerLevel in visiting order. Never reads
  // beyond bufferLength bytes of pixels.
  int Measure(const uint8_t* pixels, size_t bufferLength, int32_t width, int32_t height, int32_t triggerLevel);

  // The same measurement on a luma plane whose rows run top to bottom, `stride`
  // bytes apart (a JPEG's or a video decoder's Y plane): the sample positions,
  // counted from the bottom of the picture, and the previous frame are shared with
  // Measure, so a camera may switch between the two from frame to frame. The
  // plane must hold stride x height bytes.
  int MeasureLuma(const uint8_t* plane, int32_t stride, int32_t width, int32_t height, int32_t triggerLevel);

  // Whole-number luminance of a blue, green, red pixel: the double-precision
  // 0.299 R + 0.587 G + 0.114 B truncated toward zero.
  static int Luminance(uint8_t blue, uint8_t green, uint8_t red);

 private:
  // Forgets a previous frame of another size; false when the frame has no sample
  // positions (then nothing is compared and the size alone is kept).
  bool StartMeasure(uint64_t length, int32_t width, int32_t height, bool usable);
  // Judges the blocks of sampled row r from their sums, in visiting order.
  void JudgeRow(int r, const uint64_t* sums, const uint32_t* counts, int triggerLevel, int& level);
  void FinishMeasure(uint64_t length, uint64_t available, int32_t width, int32_t height);

  // The previous frame is kept as the luminance of every sample position (all
  // 400 blocks, ignored or not), not as a byte copy: the samples are all that a
  // measurement ever reads, and this spares a full-frame copy per frame.
  std::vector<uint8_t> previous_;
  std::vector<uint8_t> current_;  // scratch, swapped with previous_ after a measurement
  size_t previousLength_ = 0;     // width x height x 3 of the previous frame
  size_t previousAvailable_ = 0;  // bytes of it that were really there
  int32_t previousWidth_ = 0, previousHeight_ = 0;
  bool havePrevious_ = false;
};

}  // namespace recorder::frame
