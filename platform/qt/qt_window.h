#pragma once
// The Qt side of window handles: a helper owned by a widget that registers a
// window handle for it. Posts to the handle, from any thread, arrive as events
// on the GUI thread and are handed to the widget's message handler.
#include <QObject>
#include <functional>

#include "platform/message.h"
#include "platform/window_registry.h"

class QWidget;
class QEvent;

namespace platform {

class QtWindowTarget : public QObject, public WindowTarget {
 public:
  using Handler = std::function<void(Message&)>;

  // Registers a handle for the widget and becomes its child, so it dies with the
  // widget. Visibility follows the widget's show and hide events.
  QtWindowTarget(QWidget* widget, Handler handler);
  // Unregisters first, so that no post reaches a half-destroyed widget.
  ~QtWindowTarget() override;

  WindowHandle Handle() const { return handle_; }
  // Unregisters early (e.g. at the start of the owning widget's destructor);
  // later posts fail and messages still in flight are dropped. Safe to call more than once.
  void Unregister();

  // Called on the posting thread under the registry lock: queues an event only.
  bool Deliver(Message&& msg) override;

 protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  QWidget* widget_;
  Handler handler_;
  WindowHandle handle_ = 0;
};

}  // namespace platform
