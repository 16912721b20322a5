#include "recorder/ui/about_box.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "recorder/ui/program_icon.h"

namespace recorder::ui {

QDialog* CreateAboutBox(QWidget* parent) {
  auto* box = new QDialog(parent);
  box->setWindowTitle("About Tollan");
  auto* icon = new QLabel(box);
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  auto* text = new QLabel(kAboutText, box);
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addSpacing(12);
  row->addWidget(text, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, box);
  QObject::connect(buttons, &QDialogButtonBox::accepted, box, &QDialog::accept);
  auto* layout = new QVBoxLayout(box);
  layout->addLayout(row);
  layout->addWidget(buttons);
  return box;
}

}  // namespace recorder::ui
