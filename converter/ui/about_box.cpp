#include "converter/ui/about_box.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include "converter/command_line.h"

namespace converter::ui {

namespace {

// A strip of film with an arrow out of it, for desktops whose theme has no video icon.
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
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QIcon ConverterIcon() {
  static const QIcon icon = QIcon::fromTheme("video-x-generic", DrawnIcon());
  return icon;
}

QDialog* CreateAboutBox(QWidget* parent) {
  auto* box = new QDialog(parent);
  box->setWindowTitle("About Brandle");
  auto* icon = new QLabel(box);
  icon->setPixmap(ConverterIcon().pixmap(32, 32));
  icon->setAlignment(Qt::AlignTop);
  auto* text = new QLabel(QString::fromUtf8(kVersionText) + "\nConverter of MJPG recordings to AVI and WMV", box);
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

}  // namespace converter::ui
