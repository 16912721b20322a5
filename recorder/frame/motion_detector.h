#pragma once
// Motion detection on a 20 x 20 grid of blocks, with ignore blocks.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class QPainter;
class QPoint;
class QRect;

namespace frame {

constexpr int kGridSize = 20;
constexpr size_t kGridBytes = 400;

class MotionDetector {
 public:
  using Block = std::pair<int32_t, int32_t>;  // (column, row from the bottom)

  // Motion level 0..255 of a 24-bit bottom-up frame against the previous one, and
  // the first and last blocks above triggerLevel in visiting order. Never reads
  // beyond bufferLength bytes of pixels.
  int Measure(const uint8_t* pixels, size_t bufferLength, int32_t width, int32_t height, int32_t triggerLevel);

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
  std::vector<uint8_t> previous_;
  size_t previousLength_ = 0;
  int32_t firstColumn_ = -1, firstRow_ = -1, lastColumn_ = -1, lastRow_ = -1;
  uint8_t grid_[kGridBytes] = {};
};

}  // namespace frame
