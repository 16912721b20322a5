#include "widgets/about_box.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

namespace widgets {

QIcon DrawIcon(const std::function<void(QPainter& p, double u)>& draw) {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    draw(p, size / 16.0);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QDialog* CreateAboutBox(QWidget* parent, const QString& title, const QIcon& icon, const QString& text) {
  auto* box = new QDialog(parent);
  box->setWindowTitle(title);
  auto* iconLabel = new QLabel(box);
  iconLabel->setPixmap(icon.pixmap(32, 32));
  iconLabel->setAlignment(Qt::AlignTop);
  auto* textLabel = new QLabel(text, box);
  auto* row = new QHBoxLayout;
  row->addWidget(iconLabel);
  row->addSpacing(12);
  row->addWidget(textLabel, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, box);
  QObject::connect(buttons, &QDialogButtonBox::accepted, box, &QDialog::accept);
  auto* layout = new QVBoxLayout(box);
  layout->addLayout(row);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  return box;
}

}  // namespace widgets
