#pragma once
// The edit progress dialog "Creating Output Video...": the copy's percentage in
// a progress bar and a Cancel button. It is created once, hidden, with the
// player window and shown only while a copy runs. Closing it (close box, Escape)
// only hides it or does nothing; the copy goes on.
#include <QDialog>
#include <functional>

#include "platform/message.h"

class QPushButton;

namespace platform {
class QtWindowTarget;
}
namespace widgets {
class CProgressEx;
}

namespace player::ui {

class CCopyDlg : public QDialog {
 public:
  // cancel: what the Cancel button does (the player posts VT_CANCEL_EDIT).
  CCopyDlg(QWidget* owner, std::function<void()> cancel);
  ~CCopyDlg() override;

  widgets::CProgressEx* Progress() const { return bar_; }
  // The progress bar's handle, which takes the thread's to_control::SetPosition.
  platform::WindowHandle ProgressHandle() const;
  QPushButton* CancelButton() const { return cancel_; }

  // The dialog's own OK and Cancel commands hide it and do not end it.
  void accept() override;
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  widgets::CProgressEx* bar_ = nullptr;
  QPushButton* cancel_ = nullptr;
  platform::QtWindowTarget* barTarget_ = nullptr;
};

}  // namespace player::ui
