#pragma once
// The 20 x 20 motion grid with its ignore flags, and the first and last blocks of
// a measurement. Shared by the recorder's motion detector, which measures, and by
// picture windows, which only edit the grid and frame the blocks of the picture
// on show.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace media {

constexpr int kMotionGridSize = 20;
constexpr size_t kMotionGridBytes = 400;

class MotionGrid {
 public:
  using Block = std::pair<int32_t, int32_t>;  // (column, row from the bottom)

  Block GetFirstBlock() const { return {firstColumn_, firstRow_}; }
  Block GetLastBlock() const { return {lastColumn_, lastRow_}; }
  void ResetBlocks();
  void SetBlocks(Block first, Block last);

  // The byte of column c (left to right) and row r (from the bottom) is at
  // c * 20 + r; non-zero ignores the block.
  void ClearGrid();
  void FillGrid();
  // Copies 400 bytes in; ignored when grid is null or shorter than 400 bytes.
  void SetGrid(const uint8_t* grid, size_t length = kMotionGridBytes);
  std::vector<uint8_t> CopyGrid() const;
  const uint8_t* Grid() const { return grid_; }

  // Inverts the grid byte under the point (x, y) of a picture shown in the
  // rectangle at (left, top) of width x height. A point off the picture, or an
  // empty rectangle, changes nothing.
  void ToggleBlockAt(int x, int y, int left, int top, int width, int height);

 protected:
  int32_t firstColumn_ = -1, firstRow_ = -1, lastColumn_ = -1, lastRow_ = -1;
  uint8_t grid_[kMotionGridBytes] = {};
};

}  // namespace media
