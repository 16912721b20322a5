#include "recorder/ui/tray_icon.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace recorder::ui {

CTrayIcon::CTrayIcon() = default;

CTrayIcon::~CTrayIcon() { Remove(); }

bool CTrayIcon::Available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

bool CTrayIcon::Create(const QIcon& icon, const QString& tooltip, std::function<void()> onRestore,
                       std::function<void()> onExit) {
  onRestore_ = std::move(onRestore);
  onExit_ = std::move(onExit);
  menu_ = std::make_unique<QMenu>();
  QAction* restore = menu_->addAction("Restore");
  QFont bold = restore->font();
  bold.setBold(true);
  restore->setFont(bold);
  menu_->setDefaultAction(restore);
  QAction* exit = menu_->addAction("Exit");
  connect(restore, &QAction::triggered, this, [this] {
    if (onRestore_) onRestore_();
  });
  connect(exit, &QAction::triggered, this, [this] {
    if (onExit_) onExit_();
  });

  icon_ = std::make_unique<QSystemTrayIcon>(icon);
  icon_->setToolTip(tooltip.left(127));
  icon_->setContextMenu(menu_.get());
  connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick && onRestore_) onRestore_();
  });
  // Qt registers the icon again by itself when the desktop's tray comes back.
  icon_->show();
  return true;
}

void CTrayIcon::Remove() {
  if (icon_) icon_->hide();
  icon_.reset();
}

void CTrayIcon::MinimiseToTray(QWidget* window) {
  if (Available())
    window->hide();
  else
    window->showMinimized();
}

void CTrayIcon::RestoreFromTray(QWidget* window) {
  if (window->isMinimized())
    window->showNormal();
  else
    window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace recorder::ui
