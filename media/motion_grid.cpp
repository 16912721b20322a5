#include "media/motion_grid.h"

#include <algorithm>
#include <cstring>

namespace media {

void MotionGrid::ResetBlocks() { firstColumn_ = firstRow_ = lastColumn_ = lastRow_ = -1; }

void MotionGrid::SetBlocks(Block first, Block last) {
  firstColumn_ = first.first;
  firstRow_ = first.second;
  lastColumn_ = last.first;
  lastRow_ = last.second;
}

void MotionGrid::ClearGrid() { std::memset(grid_, 0, sizeof grid_); }

void MotionGrid::FillGrid() { std::memset(grid_, 1, sizeof grid_); }

void MotionGrid::SetGrid(const uint8_t* grid, size_t length) {
  if (grid == nullptr || length < kMotionGridBytes) return;
  std::memcpy(grid_, grid, kMotionGridBytes);
}

std::vector<uint8_t> MotionGrid::CopyGrid() const { return std::vector<uint8_t>(grid_, grid_ + kMotionGridBytes); }

void MotionGrid::ToggleBlockAt(int x, int y, int left, int top, int width, int height) {
  if (width <= 0 || height <= 0) return;
  const int64_t px = int64_t(x) - left;
  const int64_t py = int64_t(y) - top;
  if (px < 0 || py < 0 || px >= width || py >= height) return;
  const double cellW = width * 0.05;
  const double cellH = height * 0.05;
  // Rounding of the cell size must not carry the last pixel into a 21st cell.
  const int column = std::min(kMotionGridSize - 1, static_cast<int>(double(px) / cellW));
  const int screenRow = std::min(kMotionGridSize - 1, static_cast<int>(double(py) / cellH));
  uint8_t& b = grid_[column * kMotionGridSize + (kMotionGridSize - 1 - screenRow)];
  b = b == 0 ? 1 : 0;
}

}  // namespace media
