#pragma once
// The "Program Log View" window: the event log's entries, newest first, in a
// sortable two-column list. The log thread feeds it through its window handle
// (every new entry, and LOG_SHOW); closing only hides it, and "Clear Log Events"
// in the list's context menu empties the list and the log thread's copy, never
// Logfile.txt.
#include <QWidget>

#include "platform/message.h"
#include "recorder/camera/messages.h"

class QMenu;

namespace platform {
class QtWindowTarget;
}
namespace widgets {
class CListCtrlEx;
}

namespace recorder::ui {

class CLogView : public QWidget {
 public:
  // A top-level window owned by owner (may be null), centred over it, hidden.
  explicit CLogView(QWidget* owner = nullptr);
  ~CLogView() override;

  // The handle to give the log thread (CameraController::StartLogThread).
  platform::WindowHandle Handle() const;
  // The log thread that "Clear Log Events" tells; the view asks it for the
  // entries it holds so far, which then replace the list.
  void SetLogThread(platform::ThreadId logThread);
  platform::ThreadId LogThread() const;

  widgets::CListCtrlEx* List() const;
  // What "Clear Log Events" does.
  void ClearLogEvents();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnMessage(platform::Message& msg);
  void AddEntry(const camera::LogEntry& entry);
  void SetEntries(const camera::LogEntries& entries);

  widgets::CListCtrlEx* list_;
  QMenu* menu_;
  platform::QtWindowTarget* target_;
  platform::ThreadId logThread_ = 0;
  bool copyRequested_ = false;
};

}  // namespace recorder::ui
