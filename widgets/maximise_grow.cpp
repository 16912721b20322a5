#include "widgets/maximise_grow.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <utility>

namespace widgets {

void GrowInsteadOfMaximise(QWidget* window, QEvent* event, std::function<void()> grow) {
  if (event->type() != QEvent::WindowStateChange || !(window->windowState() & Qt::WindowMaximized)) return;
  QTimer::singleShot(0, window, [window, grow = std::move(grow)] {
    if (!(window->windowState() & Qt::WindowMaximized)) return;
    const QRect normal = window->normalGeometry();
    window->setWindowState(window->windowState() & ~Qt::WindowMaximized);
    if (normal.isValid()) window->setGeometry(normal);
    grow();
  });
}

}  // namespace widgets
