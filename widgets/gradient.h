#pragma once
// The gradient fill that the list and progress controls draw with: a rectangle
// filled with one-pixel lines, rows when vertical and columns when horizontal.
#include <QColor>
#include <QRgb>
#include <vector>

class QPainter;
class QRect;

namespace widgets {

// The colours of the count lines from start to end. Mirrored, the colour
// reaches end in the middle and returns towards start. Steps are whole numbers
// truncated toward zero per channel, so a plain gradient stops one step short
// of end. Equal colours give count lines of that colour; count <= 0 gives none.
std::vector<QRgb> GradientLines(const QColor& start, const QColor& end, int count, bool mirrored);

// Fills rect line by line with GradientLines (count = its height when vertical,
// its width when horizontal), within the painter's clip.
void GradientFill(QPainter& painter, const QRect& rect, const QColor& start, const QColor& end, bool vertical,
                  bool mirrored);

}  // namespace widgets
