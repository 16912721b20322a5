#include "recorder/ui/program_icon.h"

#include <QPainter>

#include "widgets/about_box.h"

namespace recorder::ui {

QIcon ProgramIcon() {
  // A small camera body with a red recording dot, so the program is recognisable
  // on desktops whose theme has no camera icon.
  static const QIcon icon = QIcon::fromTheme("camera-video", widgets::DrawIcon([](QPainter& p, double u) {
    p.setBrush(QColor(40, 60, 110));
    p.drawRoundedRect(QRectF(1 * u, 4 * u, 10 * u, 8 * u), 1.5 * u, 1.5 * u);
    p.drawPolygon(QPolygonF({QPointF(11 * u, 7 * u), QPointF(15 * u, 4.5 * u), QPointF(15 * u, 11.5 * u),
                             QPointF(11 * u, 9 * u)}));
    p.setBrush(QColor(220, 30, 30));
    p.drawEllipse(QPointF(4 * u, 6.5 * u), 1.3 * u, 1.3 * u);
  }));
  return icon;
}

}  // namespace recorder::ui
