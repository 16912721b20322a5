#pragma once
// The three overlays drawn over a picture that fills clientRect: the motion
// grid's lines, crosses over its ignore blocks, and the red frame around the
// first and last blocks. Every coordinate is truncated toward zero as it reaches
// the painter, so a picture size always gives the same pixels.
#include "media/motion_grid.h"

class QPainter;
class QRect;

namespace widgets {

// 21 grey lines each way, one pixel wide.
void DrawGridLines(QPainter& painter, const QRect& clientRect);
// Both diagonals of every ignored cell, red, two pixels wide.
void DrawIgnoreBlocks(QPainter& painter, const QRect& clientRect, const media::MotionGrid& grid);
// Two nested one-pixel red frames around the cells from the first to the last
// block; nothing when the first column is -1. The blocks stay as stored.
void DrawMotionRectangle(QPainter& painter, const QRect& clientRect, const media::MotionGrid& grid);

}  // namespace widgets
