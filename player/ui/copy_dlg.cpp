#include "player/ui/copy_dlg.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "player/editing.h"
#include "player/ui/control_targets.h"
#include "widgets/dialog_units.h"
#include "widgets/progress_ex.h"

namespace player::ui {

CCopyDlg::CCopyDlg(QWidget* owner, std::function<void()> cancel) : QDialog(owner) {
  // A caption with a close box only: no resizing, minimising or maximising.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setModal(false);
  setWindowTitle(kCopyDialogTitle);

  bar_ = new widgets::CProgressEx(this);
  bar_->SetRange(0, 100);
  bar_->SetPos(0);
  barTarget_ = AttachTarget(bar_);
  cancel_ = new QPushButton("&Cancel", this);
  cancel_->setAutoDefault(false);
  connect(cancel_, &QPushButton::clicked, this, [cancel = std::move(cancel)] {
    if (cancel) cancel();
  });

  // 210 x 42 units: the bar at (7, 7) of 196 x 12, Cancel centred below it at
  // (79, 21) of 50 x 14.
  const widgets::DialogUnits du(font());
  bar_->setFixedHeight(du.Y(12));
  bar_->setMinimumWidth(du.X(196));
  cancel_->setMinimumSize(du.X(50), du.Y(14));
  auto* buttonRow = new QHBoxLayout;
  buttonRow->addStretch(1);
  buttonRow->addWidget(cancel_);
  buttonRow->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
  layout->setSpacing(du.Y(2));
  layout->addWidget(bar_);
  layout->addLayout(buttonRow);
  setFixedSize(layout->sizeHint().expandedTo(du.Size(210, 42)));
}

CCopyDlg::~CCopyDlg() { barTarget_->Unregister(); }

platform::WindowHandle CCopyDlg::ProgressHandle() const { return barTarget_->Handle(); }

void CCopyDlg::accept() { hide(); }
void CCopyDlg::reject() { hide(); }

void CCopyDlg::keyPressEvent(QKeyEvent* event) {
  // Escape would close the dialog; here it does nothing.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace player::ui
