#include "player/ui/about_box.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#ifndef VELMO_VERSION
#define VELMO_VERSION "0"
#endif

namespace player::ui {

namespace {

// A strip of film with a play triangle, for desktops whose theme has no player icon.
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
    p.drawRoundedRect(QRectF(1 * u, 2 * u, 14 * u, 12 * u), 1.5 * u, 1.5 * u);
    p.setBrush(QColor(235, 235, 235));
    for (int i = 0; i < 4; ++i) {
      p.drawRect(QRectF((2.2 + i * 3.2) * u, 2.8 * u, 1.6 * u, 1.2 * u));
      p.drawRect(QRectF((2.2 + i * 3.2) * u, 12 * u, 1.6 * u, 1.2 * u));
    }
    p.setBrush(QColor(250, 200, 60));
    p.drawPolygon(QPolygonF({QPointF(6 * u, 5.2 * u), QPointF(11 * u, 8 * u), QPointF(6 * u, 10.8 * u)}));
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QIcon PlayerIcon() {
  static const QIcon icon = QIcon::fromTheme("multimedia-video-player", DrawnIcon());
  return icon;
}

QString AboutVersionText() { return QStringLiteral("Velmo Version " VELMO_VERSION); }

QDialog* CreateAboutBox(QWidget* parent) {
  auto* box = new QDialog(parent);
  box->setWindowTitle("About Velmo");
  auto* icon = new QLabel(box);
  icon->setPixmap(PlayerIcon().pixmap(32, 32));
  icon->setAlignment(Qt::AlignTop);
  auto* text = new QLabel(AboutVersionText() + "\nPlayer and editor of MJPG recordings", box);
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addSpacing(12);
  row->addWidget(text, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, box);
  QObject::connect(buttons, &QDialogButtonBox::accepted, box, &QDialog::accept);
  auto* layout = new QVBoxLayout(box);
  layout->addLayout(row);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  return box;
}

}  // namespace player::ui
