#pragma once
// A camera's live view: a modeless window owned by the main window that shows the
// camera's latest frame in a picture box and the motion level in a bar below it.
// Closing it only hides it; it lives as long as its camera row.
//
// The main window creates one per camera (hidden), titles it with
// TitleForSavePath(savePath), hands it the camera's grid (SetGrid) and itself as
// grid target (SetGridTarget), and gives the controller Handle() as the row's
// live view. Workers post ShowFrame / ShowFrameRecord and MotionLevel to
// Handle() while the window is visible; "Save Custom Detection Grid" posts
// GridChanged to the grid target with lParam = Handle().
#include <QDialog>
#include <QSize>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/message.h"

namespace platform {
class QtWindowTarget;
}
namespace widgets {
class CPictureBox;
class CProgressEx;
}  // namespace widgets

namespace recorder::ui {

// An OK or Cancel command (wParam kCommandOk or kCommandCancel) posted to a live
// view: it hides and clears its picture. Shutdown and tests post it.
struct VideoDlgCommand : platform::WindowMessage<0x0111> {};
constexpr intptr_t kCommandOk = 1;
constexpr intptr_t kCommandCancel = 2;

class CVideoDlg : public QDialog {
 public:
  // The picture's menu command that puts the window back to its base size,
  // centred on the desktop (what a double-click on the caption does elsewhere).
  static constexpr int kRestoreSizeCommand = 0xF032;
  static constexpr int kMinimumSide = 150;

  // Hidden; grown by 320 x 240 from its base size. It opens centred over its
  // owner when the owner is shown (else on the screen), inside the screen.
  explicit CVideoDlg(QWidget* owner);
  ~CVideoDlg() override;

  platform::WindowHandle Handle() const;
  widgets::CPictureBox* Picture() const;
  widgets::CProgressEx* MotionBar() const;

  // The window title for a camera: the text after the last '/' of its save path
  // (trailing '/' removed first), then " - " and the last two folder names of the
  // path: "video.mjpg - front-door/%A".
  static QString TitleForSavePath(const std::string& savePath);
  void SetGrid(const std::vector<uint8_t>& grid);
  void SetGridTarget(platform::WindowHandle target);

  // Shows the window when hidden, restores it when minimised, and raises it.
  void ShowView();
  // Hides the window, then clears the picture by a posted empty frame record, so
  // that frames already on their way cannot bring a picture back.
  void Cancel();
  // Back to the base size, centred on the desktop.
  void RestoreBaseRect();
  // The client size the window had before it first grew.
  QSize BaseSize() const;

  // The motion bar for a level (-1: detection is off) and the triggered flag.
  void ShowMotionLevel(int level, bool triggered);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void HandleMessage(platform::Message& msg);

  platform::QtWindowTarget* target_ = nullptr;
  widgets::CPictureBox* picture_ = nullptr;
  widgets::CProgressEx* bar_ = nullptr;
  QSize baseSize_;
};

}  // namespace recorder::ui
