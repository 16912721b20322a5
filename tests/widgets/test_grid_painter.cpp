// The grid overlays: lines, ignore crosses and the motion rectangle, pixel by pixel.
#include <QImage>
#include <QPainter>
#include <QRect>

#include <utility>

#include <gtest/gtest.h>

#include "widgets/grid_painter.h"

namespace {

using media::MotionGrid;
using Block = MotionGrid::Block;
using namespace widgets;

QImage Canvas(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::black);
  return img;
}
bool IsRed(const QImage& img, int x, int y) { return img.pixel(x, y) == qRgb(255, 0, 0); }
bool IsBlack(const QImage& img, int x, int y) { return img.pixel(x, y) == qRgb(0, 0, 0); }
int CountRed(const QImage& img) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += IsRed(img, x, y);
  return n;
}

TEST(MotionDraw, RectangleFramesTheFirstAndLastBlocks) {
  MotionGrid d;
  d.SetBlocks({10, 2}, {3, 15});  // as a measurement stores them: row 2 was visited first

  QImage img = Canvas(400, 400);
  {
    QPainter p(&img);
    DrawMotionRectangle(p, QRect(0, 0, 400, 400), d);
    DrawMotionRectangle(p, QRect(0, 0, 400, 400), d);  // repaint draws the same
  }
  // Columns 3..10 -> x 60..219; screen rows 4..17 -> y 80..359.
  for (auto [x, y] : {std::pair{60, 80}, {219, 80}, {60, 359}, {219, 359}, {61, 81}, {218, 358}, {140, 80}, {60, 200}})
    EXPECT_TRUE(IsRed(img, x, y)) << x << "," << y;
  for (auto [x, y] : {std::pair{62, 82}, {217, 357}, {59, 80}, {220, 80}, {60, 79}, {60, 360}, {140, 200}})
    EXPECT_TRUE(IsBlack(img, x, y)) << x << "," << y;
  EXPECT_EQ(CountRed(img), (2 * (160 + 280) - 4) + (2 * (158 + 278) - 4)) << "two one-pixel frames, nothing else";
  EXPECT_EQ(d.GetFirstBlock(), Block(10, 2)) << "drawing leaves the blocks as stored";

  // Offset client rectangle moves the frame with it.
  QImage off = Canvas(420, 420);
  {
    QPainter p(&off);
    DrawMotionRectangle(p, QRect(10, 15, 400, 400), d);
  }
  EXPECT_TRUE(IsRed(off, 70, 95));
  EXPECT_TRUE(IsBlack(off, 60, 80));

  // No first block: nothing at all.
  d.ResetBlocks();
  QImage none = Canvas(400, 400);
  {
    QPainter p(&none);
    DrawMotionRectangle(p, QRect(0, 0, 400, 400), d);
  }
  EXPECT_EQ(CountRed(none), 0);
}

TEST(MotionDraw, GridLinesAndIgnoreCrosses) {
  MotionGrid d;
  QImage img = Canvas(410, 410);  // cells 20.5: lines at 0, 20, 41, 61, ...
  {
    QPainter p(&img);
    DrawGridLines(p, QRect(0, 0, 410, 410));
  }
  const QRgb grey = qRgb(128, 128, 128);
  EXPECT_EQ(img.pixel(5, 0), grey);
  EXPECT_EQ(img.pixel(5, 20), grey);
  EXPECT_EQ(img.pixel(5, 41), grey);
  EXPECT_EQ(img.pixel(5, 61), grey) << "61.5 is truncated, not rounded";
  EXPECT_EQ(img.pixel(5, 62), qRgb(0, 0, 0));
  EXPECT_EQ(img.pixel(61, 5), grey);
  EXPECT_EQ(img.pixel(10, 10), qRgb(0, 0, 0));
  EXPECT_EQ(img.pixel(5, 389), grey);  // k = 19: 389.5

  // Crosses only where the grid ignores, rows counted from the bottom.
  d.ToggleBlockAt(0, 0, 0, 0, 400, 400);  // byte 19: top-left cell
  EXPECT_EQ(d.Grid()[19], 1);
  QImage x = Canvas(400, 400);
  {
    QPainter p(&x);
    DrawIgnoreBlocks(p, QRect(0, 0, 400, 400), d);
  }
  EXPECT_TRUE(IsRed(x, 10, 10)) << "both diagonals meet in the middle";
  EXPECT_TRUE(IsRed(x, 5, 5));
  EXPECT_TRUE(IsRed(x, 15, 5));
  EXPECT_TRUE(IsBlack(x, 10, 3));
  EXPECT_TRUE(IsBlack(x, 10, 390)) << "bottom-left cell is byte 0, not ignored";
  EXPECT_TRUE(IsBlack(x, 30, 10));
  for (int y = 25; y < 400; ++y)
    for (int xx = 25; xx < 400; ++xx) ASSERT_TRUE(IsBlack(x, xx, y)) << xx << "," << y;
}

}  // namespace
