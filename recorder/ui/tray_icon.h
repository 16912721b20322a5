#pragma once
// The recorder's icon in the notification area: tooltip "Tollan", a menu with
// "Restore" (the default, in bold) and "Exit", and a double-click that restores.
#include <QObject>
#include <QIcon>
#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace recorder::ui {

class CTrayIcon : public QObject {
 public:
  CTrayIcon();
  ~CTrayIcon() override;

  // Whether the desktop shows notification icons at all. Without one, hiding the
  // main window would leave no way back to it, so the window minimises instead.
  static bool Available();

  // Shows the icon; the callbacks run on the GUI thread.
  bool Create(const QIcon& icon, const QString& tooltip, std::function<void()> onRestore,
              std::function<void()> onExit);
  void Remove();

  // Hides the window to the tray, or minimises it where there is no tray.
  static void MinimiseToTray(QWidget* window);
  // Shows the window again (restoring it when minimised) and brings it forward.
  static void RestoreFromTray(QWidget* window);

  // The menu as built for the icon, for tests and screenshots.
  QMenu* Menu() const { return menu_.get(); }

 private:
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<QSystemTrayIcon> icon_;
  std::function<void()> onRestore_;
  std::function<void()> onExit_;
};

}  // namespace recorder::ui
