// Motion grid: editing commands, blocks, and the mapping of screen cells to grid bytes.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "media/motion_grid.h"

namespace {

using media::MotionGrid;
using Block = MotionGrid::Block;

TEST(MotionGrid, EditingCommands) {
  MotionGrid d;
  EXPECT_EQ(d.CopyGrid(), std::vector<uint8_t>(400, 0));
  d.FillGrid();
  EXPECT_EQ(d.CopyGrid(), std::vector<uint8_t>(400, 1));
  std::vector<uint8_t> g(400);
  for (size_t i = 0; i < g.size(); ++i) g[i] = uint8_t(i * 7);
  d.SetGrid(g.data());
  EXPECT_EQ(d.CopyGrid(), g);
  d.SetGrid(nullptr);
  d.SetGrid(std::vector<uint8_t>(399, 0).data(), 399);
  EXPECT_EQ(d.CopyGrid(), g) << "no grid or a short grid leaves it alone";
  d.ClearGrid();
  EXPECT_EQ(d.CopyGrid(), std::vector<uint8_t>(400, 0));

  d.SetBlocks({1, 2}, {3, 4});
  EXPECT_EQ(d.GetFirstBlock(), Block(1, 2));
  EXPECT_EQ(d.GetLastBlock(), Block(3, 4));
  d.ResetBlocks();
  EXPECT_EQ(d.GetFirstBlock(), Block(-1, -1));
  EXPECT_EQ(d.GetLastBlock(), Block(-1, -1));
}

TEST(MotionGrid, ToggleMapsScreenCellsToGridBytes) {
  MotionGrid d;
  // Picture at (10, 20), 400 x 300: cells 20 x 15.
  auto toggle = [&d](int x, int y) { d.ToggleBlockAt(x, y, 10, 20, 400, 300); };
  toggle(10, 319);  // bottom-left pixel
  EXPECT_EQ(d.Grid()[0], 1);
  toggle(29, 305);  // same cell
  EXPECT_EQ(d.Grid()[0], 0);
  toggle(10, 20);  // top-left
  EXPECT_EQ(d.Grid()[19], 1);
  toggle(409, 20);  // top-right
  EXPECT_EQ(d.Grid()[399], 1);
  toggle(10 + 70, 20 + 50);  // column 3, screen row 3
  EXPECT_EQ(d.Grid()[3 * 20 + 16], 1);

  std::vector<uint8_t> g(400, 0);
  g[19] = 7;
  d.SetGrid(g.data());
  toggle(10, 20);
  EXPECT_EQ(d.Grid()[19], 0) << "any non-zero byte becomes 0";

  // Off the picture: nothing changes, nothing outside the grid is written.
  d.ClearGrid();
  for (auto [x, y] : {std::pair{9, 20}, {410, 20}, {10, 19}, {10, 320}, {-5000, 99999}}) toggle(x, y);
  d.ToggleBlockAt(0, 0, 0, 0, 0, 0);
  EXPECT_EQ(d.CopyGrid(), std::vector<uint8_t>(400, 0));

  // Cells of fractional width: 30 wide gives 1.5 per cell.
  d.ToggleBlockAt(2, 0, 0, 0, 30, 30);  // 2 / 1.5 -> column 1
  d.ToggleBlockAt(3, 0, 0, 0, 30, 30);  // 3 / 1.5 -> column 2
  EXPECT_EQ(d.Grid()[1 * 20 + 19], 1);
  EXPECT_EQ(d.Grid()[2 * 20 + 19], 1);
  d.ToggleBlockAt(29, 29, 0, 0, 30, 30);
  EXPECT_EQ(d.Grid()[19 * 20 + 0], 1);
}

}  // namespace
