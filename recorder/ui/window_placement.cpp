#include "recorder/ui/window_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace recorder::ui {

namespace {

int Inside(int position, int length, int start, int space) {
  if (length >= space) return start;
  return std::clamp(position, start, start + space - length);
}

// Places its window when the first show event arrives (before the window is
// mapped), then removes itself.
class FirstShowPlacer : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      if (auto* window = qobject_cast<QWidget*>(watched)) PlaceOverOwner(window);
      deleteLater();
      watched->removeEventFilter(this);
    }
    return false;
  }
};

}  // namespace

QRect PlacedFrame(QSize frame, const QRect& owner, const QRect& available) {
  const QRect around = owner.isValid() ? owner : available;
  QRect placed(QPoint(0, 0), frame);
  placed.moveCenter(around.center());
  if (!available.isValid()) return placed;
  placed.moveTopLeft(QPoint(Inside(placed.left(), placed.width(), available.left(), available.width()),
                            Inside(placed.top(), placed.height(), available.top(), available.height())));
  return placed;
}

QWidget* ShownOwner(const QWidget* window) {
  for (QWidget* up = window->parentWidget(); up; up = up->parentWidget()) {
    QWidget* owner = up->window();
    if (owner->isVisible() && !owner->isMinimized()) return owner;
    up = owner;
  }
  return nullptr;
}

void PlaceOverOwner(QWidget* window) {
  QWidget* owner = ShownOwner(window);
  QScreen* screen = owner && owner->screen() ? owner->screen() : window->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QRect available = screen ? screen->availableGeometry() : QRect();
  // Before its first show a window's frame is not known yet; its size stands for it.
  const QSize frame = window->frameGeometry().size().expandedTo(window->size());
  window->move(PlacedFrame(frame, owner ? owner->frameGeometry() : QRect(), available).topLeft());
}

void PlaceOnFirstShow(QWidget* window) { window->installEventFilter(new FirstShowPlacer(window)); }

}  // namespace recorder::ui
