#include "platform/qt/qt_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace platform {

namespace {

QEvent::Type MessageEventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

// Carries one posted message to the GUI thread. If Qt drops the event (receiver
// destroyed first), the payload is destroyed with it.
class MessageEvent : public QEvent {
 public:
  explicit MessageEvent(Message&& msg) : QEvent(MessageEventType()), message(std::move(msg)) {}
  Message message;
};

}  // namespace

QtWindowTarget::QtWindowTarget(QWidget* widget, Handler handler)
    : QObject(widget), widget_(widget), handler_(std::move(handler)) {
  if (widget_) {
    SetVisible(widget_->isVisible());
    widget_->installEventFilter(this);
  }
  handle_ = RegisterWindow(this);
}

QtWindowTarget::~QtWindowTarget() { Unregister(); }

void QtWindowTarget::Unregister() {
  if (handle_ == 0) return;
  UnregisterWindow(handle_);
  handle_ = 0;
  SetVisible(false);
}

bool QtWindowTarget::Deliver(Message&& msg) {
  if (!QCoreApplication::instance()) return false;
  QCoreApplication::postEvent(this, new MessageEvent(std::move(msg)));
  return true;
}

bool QtWindowTarget::event(QEvent* e) {
  if (e->type() == MessageEventType()) {
    auto* me = static_cast<MessageEvent*>(e);
    // Messages still in flight when the window was unregistered are dropped, as
    // if the post had come too late.
    if (handle_ != 0 && handler_) handler_(me->message);
    return true;
  }
  return QObject::event(e);
}

bool QtWindowTarget::eventFilter(QObject* watched, QEvent* e) {
  if (watched == widget_ && handle_ != 0) {
    if (e->type() == QEvent::Show)
      SetVisible(true);
    else if (e->type() == QEvent::Hide)
      SetVisible(false);
  }
  return QObject::eventFilter(watched, e);
}

}  // namespace platform
