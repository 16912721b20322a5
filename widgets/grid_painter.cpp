#include "widgets/grid_painter.h"

#include <QColor>
#include <QPainter>
#include <QPen>
#include <QRect>
#include <algorithm>

namespace widgets {

namespace {

constexpr int kCells = media::kMotionGridSize;
constexpr double kCellShare = 0.05;  // one of 20 cells across each way

int T(double v) { return static_cast<int>(v); }

// Non-antialiased, no fill; the caller's save/restore pair puts things back.
void Prepare(QPainter& painter) {
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setBrush(Qt::NoBrush);
}

// A one-pixel frame covering columns x..x+w-1 and rows y..y+h-1.
void FrameRect(QPainter& painter, int x, int y, int w, int h, const QColor& color) {
  if (w <= 0 || h <= 0) return;
  painter.fillRect(x, y, w, 1, color);
  painter.fillRect(x, y + h - 1, w, 1, color);
  painter.fillRect(x, y, 1, h, color);
  painter.fillRect(x + w - 1, y, 1, h, color);
}

}  // namespace

void DrawGridLines(QPainter& painter, const QRect& clientRect) {
  painter.save();
  Prepare(painter);
  painter.setPen(QPen(QColor(128, 128, 128), 1, Qt::SolidLine));
  const int ox = clientRect.left();
  const int oy = clientRect.top();
  const int w = clientRect.width();
  const int h = clientRect.height();
  const double cellW = w * kCellShare;
  const double cellH = h * kCellShare;
  for (int k = 0; k <= kCells; ++k) {
    const int y = T(k * cellH);
    painter.drawLine(ox, oy + y, ox + w, oy + y);
  }
  for (int k = 0; k <= kCells; ++k) {
    const int x = T(k * cellW);
    painter.drawLine(ox + x, oy, ox + x, oy + h);
  }
  painter.restore();
}

void DrawIgnoreBlocks(QPainter& painter, const QRect& clientRect, const media::MotionGrid& grid) {
  painter.save();
  Prepare(painter);
  painter.setPen(QPen(QColor(255, 0, 0), 2, Qt::SolidLine));
  const int ox = clientRect.left();
  const int oy = clientRect.top();
  const double cellW = clientRect.width() * kCellShare;
  const double cellH = clientRect.height() * kCellShare;
  const uint8_t* bytes = grid.Grid();
  for (int s = 0; s < kCells; ++s) {
    for (int c = 0; c < kCells; ++c) {
      if (bytes[c * kCells + (kCells - 1 - s)] == 0) continue;
      const double x0 = c * cellW, y0 = s * cellH;
      const double x1 = x0 + cellW, y1 = y0 + cellH;
      painter.drawLine(ox + T(x0), oy + T(y0), ox + T(x1), oy + T(y1));
      painter.drawLine(ox + T(x1), oy + T(y0), ox + T(x0), oy + T(y1));
    }
  }
  painter.restore();
}

void DrawMotionRectangle(QPainter& painter, const QRect& clientRect, const media::MotionGrid& grid) {
  const auto [firstColumn, firstRow] = grid.GetFirstBlock();
  const auto [lastColumn, lastRow] = grid.GetLastBlock();
  if (firstColumn == -1) return;
  const double cellW = clientRect.width() * kCellShare;
  const double cellH = clientRect.height() * kCellShare;
  const int left = std::min(firstColumn, lastColumn);
  const int right = std::max(firstColumn, lastColumn);
  const int top = std::min(kCells - 1 - firstRow, kCells - 1 - lastRow);
  const int bottom = std::max(kCells - 1 - firstRow, kCells - 1 - lastRow);
  const double x = left * cellW;
  const double y = top * cellH;
  const double w = right * cellW + cellW - x;
  const double h = bottom * cellH + cellH - y;
  const QColor red(255, 0, 0);
  const int ox = clientRect.left();
  const int oy = clientRect.top();
  painter.save();
  Prepare(painter);
  FrameRect(painter, ox + T(x), oy + T(y), T(w), T(h), red);
  FrameRect(painter, ox + T(x + 1), oy + T(y + 1), T(w - 2), T(h - 2), red);
  painter.restore();
}

}  // namespace widgets
