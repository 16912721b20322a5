#pragma once
// Motion detection on a 20 x 20 grid of blocks, with ignore blocks.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class QPainter;
class QPoint;
class QRect;

namespace recorder::frame {

constexpr int kGridSize = 20;
constexpr size_t kGridBytes = 400;

class MotionDetector {
 public:
  using Block = std::pair<int32_t, int32_t>;  // (column, row from the bottom)

  // Motion level 0..255 of a 24-bit bottom-up frame against the previous one, and
  // the first and last blocks above triggerLevel in visiting order. Never reads
  // beyond bufferLength bytes of pixels.
  int Measure(const uint8_t* pixels, size_t bufferLength, int32_t width, int32_t height, int32_t triggerLevel);

  // Whole-number luminance of a blue, green, red pixel: the double-precision
  // 0.299 R + 0.587 G + 0.114 B truncated toward zero.
  static int Luminance(uint8_t blue, uint8_t green, uint8_t red);

  Block GetFirstBlock() const { return {firstColumn_, firstRow_}; }
  Block GetLastBlock() const { return {lastColumn_, lastRow_}; }
  void ResetBlocks();
  void SetBlocks(Block first, Block last);

  void ClearGrid();
  void FillGrid();
  // Copies 400 bytes in; ignored when grid is null or shorter than 400 bytes.
  void SetGrid(const uint8_t* grid, size_t length = kGridBytes);
  std::vector<uint8_t> CopyGrid() const;
  const uint8_t* Grid() const { return grid_; }
  // Inverts the grid byte under a point of a picture shown in clientRect.
  void ToggleBlockAt(const QPoint& point, const QRect& clientRect);

  void DrawGridLines(QPainter& painter, const QRect& clientRect) const;
  void DrawIgnoreBlocks(QPainter& painter, const QRect& clientRect) const;
  void DrawMotionRectangle(QPainter& painter, const QRect& clientRect) const;

 private:
  // The previous frame is kept as the luminance of every sample position (all
  // 400 blocks, ignored or not), not as a byte copy: the samples are all that a
  // measurement ever reads, and this spares a full-frame copy per frame.
  std::vector<uint8_t> previous_;
  std::vector<uint8_t> current_;  // scratch, swapped with previous_ after a measurement
  size_t previousLength_ = 0;     // width x height x 3 of the previous frame
  size_t previousAvailable_ = 0;  // bytes of it that were really there
  int32_t previousWidth_ = 0, previousHeight_ = 0;
  bool havePrevious_ = false;
  int32_t firstColumn_ = -1, firstRow_ = -1, lastColumn_ = -1, lastRow_ = -1;
  uint8_t grid_[kGridBytes] = {};
};

}  // namespace recorder::frame
