#include "widgets/gradient.h"

#include <QPainter>
#include <QRect>

namespace widgets {

std::vector<QRgb> GradientLines(const QColor& start, const QColor& end, int count, bool mirrored) {
  if (count <= 0) return {};
  if (start.rgb() == end.rgb()) return std::vector<QRgb>(size_t(count), start.rgb());
  // Mirrored lines run to d + 1 and back; a line past the first exists only for
  // count >= 2, so d is never 0 where it divides.
  const int d = mirrored ? count / 2 : count;
  const int s[3] = {start.red(), start.green(), start.blue()};
  const int delta[3] = {end.red() - s[0], end.green() - s[1], end.blue() - s[2]};
  std::vector<QRgb> lines(static_cast<size_t>(count));
  lines[0] = qRgb(s[0], s[1], s[2]);
  for (int k = 1; k < count; ++k) {
    const int steps = k <= d + 1 ? k - 1 : 2 * d + 2 - k;
    // int64: lines of very long bars times a channel difference stay exact.
    auto channel = [&](int i) { return s[i] + int(int64_t(steps) * delta[i] / d); };
    lines[size_t(k)] = qRgb(channel(0), channel(1), channel(2));
  }
  return lines;
}

void GradientFill(QPainter& painter, const QRect& rect, const QColor& start, const QColor& end, bool vertical,
                  bool mirrored) {
  if (start.rgb() == end.rgb()) {
    painter.fillRect(rect, start);
    return;
  }
  const std::vector<QRgb> lines = GradientLines(start, end, vertical ? rect.height() : rect.width(), mirrored);
  for (size_t k = 0; k < lines.size(); ++k) {
    const QColor c = QColor::fromRgb(lines[k]);
    if (vertical)
      painter.fillRect(rect.left(), rect.top() + int(k), rect.width(), 1, c);
    else
      painter.fillRect(rect.left() + int(k), rect.top(), 1, rect.height(), c);
  }
}

}  // namespace widgets
