#include "player/ui/about_box.h"

#include <QPainter>

#include "widgets/about_box.h"

#ifndef VELMO_VERSION
#define VELMO_VERSION "0"
#endif

namespace player::ui {

QIcon PlayerIcon() {
  // A strip of film with a play triangle, for desktops whose theme has no player icon.
  static const QIcon icon = QIcon::fromTheme("multimedia-video-player", widgets::DrawIcon([](QPainter& p, double u) {
    p.setBrush(QColor(40, 60, 110));
    p.drawRoundedRect(QRectF(1 * u, 2 * u, 14 * u, 12 * u), 1.5 * u, 1.5 * u);
    p.setBrush(QColor(235, 235, 235));
    for (int i = 0; i < 4; ++i) {
      p.drawRect(QRectF((2.2 + i * 3.2) * u, 2.8 * u, 1.6 * u, 1.2 * u));
      p.drawRect(QRectF((2.2 + i * 3.2) * u, 12 * u, 1.6 * u, 1.2 * u));
    }
    p.setBrush(QColor(250, 200, 60));
    p.drawPolygon(QPolygonF({QPointF(6 * u, 5.2 * u), QPointF(11 * u, 8 * u), QPointF(6 * u, 10.8 * u)}));
  }));
  return icon;
}

QString AboutVersionText() { return QStringLiteral("Velmo Version " VELMO_VERSION); }

QDialog* CreateAboutBox(QWidget* parent) {
  return widgets::CreateAboutBox(parent, "About Velmo", PlayerIcon(),
                                 AboutVersionText() + "\nPlayer and editor of MJPG recordings");
}

}  // namespace player::ui
