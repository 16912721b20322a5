#include "converter/ui/about_box.h"

#include <QPainter>

#include "converter/command_line.h"
#include "widgets/about_box.h"

namespace converter::ui {

QIcon ConverterIcon() {
  // A strip of film with an arrow out of it, for desktops whose theme has no video icon.
  static const QIcon icon = QIcon::fromTheme("video-x-generic", widgets::DrawIcon([](QPainter& p, double u) {
    p.setBrush(QColor(40, 60, 110));
    p.drawRoundedRect(QRectF(0.5 * u, 1 * u, 9 * u, 14 * u), 1.2 * u, 1.2 * u);
    p.setBrush(QColor(235, 235, 235));
    for (int i = 0; i < 4; ++i) {
      p.drawRect(QRectF(1.3 * u, (2 + i * 3.4) * u, 1.2 * u, 1.6 * u));
      p.drawRect(QRectF(7.5 * u, (2 + i * 3.4) * u, 1.2 * u, 1.6 * u));
    }
    p.setBrush(QColor(250, 200, 60));
    p.drawPolygon(QPolygonF({QPointF(8 * u, 5.5 * u), QPointF(11.5 * u, 5.5 * u), QPointF(11.5 * u, 3 * u),
                             QPointF(15.5 * u, 8 * u), QPointF(11.5 * u, 13 * u), QPointF(11.5 * u, 10.5 * u),
                             QPointF(8 * u, 10.5 * u)}));
  }));
  return icon;
}

QDialog* CreateAboutBox(QWidget* parent) {
  return widgets::CreateAboutBox(parent, "About Brandle", ConverterIcon(),
                                 QString::fromUtf8(kVersionText) + "\nConverter of MJPG recordings to AVI and WMV");
}

}  // namespace converter::ui
