#include "widgets/maximise_grow.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace widgets {

void GrowAboutCentre(QWidget* window, int dx, int dy) {
  window->setGeometry(window->geometry().adjusted(-dx / 2, -dy / 2, dx - dx / 2, dy - dy / 2));
}

void GrowInsteadOfMaximise(QWidget* window, QEvent* event, int dx, int dy) {
  if (event->type() != QEvent::WindowStateChange || !(window->windowState() & Qt::WindowMaximized)) return;
  QTimer::singleShot(0, window, [window, dx, dy] {
    if (!(window->windowState() & Qt::WindowMaximized)) return;
    const QRect normal = window->normalGeometry();
    window->setWindowState(window->windowState() & ~Qt::WindowMaximized);
    if (normal.isValid()) window->setGeometry(normal);
    GrowAboutCentre(window, dx, dy);
  });
}

}  // namespace widgets
