#include "recorder/ui/program_icon.h"

#include <QPainter>
#include <QPixmap>

namespace recorder::ui {

namespace {
// A small camera body with a red recording dot, so the program is recognisable
// on desktops whose theme has no camera icon.
QIcon DrawnIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double u = size / 16.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 60, 110));
    p.drawRoundedRect(QRectF(1 * u, 4 * u, 10 * u, 8 * u), 1.5 * u, 1.5 * u);
    p.drawPolygon(QPolygonF({QPointF(11 * u, 7 * u), QPointF(15 * u, 4.5 * u), QPointF(15 * u, 11.5 * u),
                             QPointF(11 * u, 9 * u)}));
    p.setBrush(QColor(220, 30, 30));
    p.drawEllipse(QPointF(4 * u, 6.5 * u), 1.3 * u, 1.3 * u);
    icon.addPixmap(pixmap);
  }
  return icon;
}
}  // namespace

QIcon ProgramIcon() {
  static const QIcon icon = QIcon::fromTheme("camera-video", DrawnIcon());
  return icon;
}

}  // namespace recorder::ui
