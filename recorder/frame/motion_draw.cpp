// Grid editing by pointer and the three overlays drawn over a picture.
#include <QColor>
#include <QPainter>
#include <QPen>
#include <QPoint>
#include <QRect>
#include <algorithm>

#include "recorder/frame/motion_detector.h"

namespace recorder::frame {

namespace {

constexpr double kCellShare = 0.05;  // one of 20 cells across each way

// Coordinates are truncated toward zero as they reach the painter, so every
// picture size gives the same pixels each time.
int T(double v) { return static_cast<int>(v); }

// Non-antialiased, clipped to nothing beyond what the caller set; restored by the
// caller's save/restore pair.
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

void MotionDetector::ToggleBlockAt(const QPoint& point, const QRect& clientRect) {
  const int w = clientRect.width();
  const int h = clientRect.height();
  if (w <= 0 || h <= 0) return;
  const int px = point.x() - clientRect.left();
  const int py = point.y() - clientRect.top();
  // A point off the picture belongs to no cell.
  if (px < 0 || py < 0 || px >= w || py >= h) return;
  const double cellW = w * kCellShare;
  const double cellH = h * kCellShare;
  // Rounding of the cell size must not carry the last pixel into a 21st cell.
  const int column = std::min(kGridSize - 1, T(px / cellW));
  const int screenRow = std::min(kGridSize - 1, T(py / cellH));
  uint8_t& b = grid_[column * kGridSize + (kGridSize - 1 - screenRow)];
  b = b == 0 ? 1 : 0;
}

void MotionDetector::DrawGridLines(QPainter& painter, const QRect& clientRect) const {
  painter.save();
  Prepare(painter);
  painter.setPen(QPen(QColor(128, 128, 128), 1, Qt::SolidLine));
  const int ox = clientRect.left();
  const int oy = clientRect.top();
  const int w = clientRect.width();
  const int h = clientRect.height();
  const double cellW = w * kCellShare;
  const double cellH = h * kCellShare;
  for (int k = 0; k <= kGridSize; ++k) {
    const int y = T(k * cellH);
    painter.drawLine(ox, oy + y, ox + w, oy + y);
  }
  for (int k = 0; k <= kGridSize; ++k) {
    const int x = T(k * cellW);
    painter.drawLine(ox + x, oy, ox + x, oy + h);
  }
  painter.restore();
}

void MotionDetector::DrawIgnoreBlocks(QPainter& painter, const QRect& clientRect) const {
  painter.save();
  Prepare(painter);
  painter.setPen(QPen(QColor(255, 0, 0), 2, Qt::SolidLine));
  const int ox = clientRect.left();
  const int oy = clientRect.top();
  const double cellW = clientRect.width() * kCellShare;
  const double cellH = clientRect.height() * kCellShare;
  for (int s = 0; s < kGridSize; ++s) {
    for (int c = 0; c < kGridSize; ++c) {
      if (grid_[c * kGridSize + (kGridSize - 1 - s)] == 0) continue;
      const double x0 = c * cellW, y0 = s * cellH;
      const double x1 = x0 + cellW, y1 = y0 + cellH;
      painter.drawLine(ox + T(x0), oy + T(y0), ox + T(x1), oy + T(y1));
      painter.drawLine(ox + T(x1), oy + T(y0), ox + T(x0), oy + T(y1));
    }
  }
  painter.restore();
}

void MotionDetector::DrawMotionRectangle(QPainter& painter, const QRect& clientRect) const {
  if (firstColumn_ == -1) return;
  const double cellW = clientRect.width() * kCellShare;
  const double cellH = clientRect.height() * kCellShare;
  const int left = std::min(firstColumn_, lastColumn_);
  const int right = std::max(firstColumn_, lastColumn_);
  const int top = std::min(kGridSize - 1 - firstRow_, kGridSize - 1 - lastRow_);
  const int bottom = std::max(kGridSize - 1 - firstRow_, kGridSize - 1 - lastRow_);
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

}  // namespace recorder::frame
