#pragma once
// "IP Camera Select": the address of a network camera, a connection test that
// fetches one picture, and the question whether the address is a motion-JPEG
// push stream. Works on the camera options' working copy; OK stores url and
// pushStream there, Cancel leaves it alone.
#include <QDialog>
#include <functional>
#include <memory>

#include "platform/message.h"
#include "platform/message_thread.h"
#include "recorder/camera/camera_record.h"
#include "recorder/camera/source_rules.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {
class QtWindowTarget;
}
namespace widgets {
class CPictureBox;
}
namespace Ui {
class CamSelIPDlg;
}

namespace recorder::ui {

// Starts a worker that fetches one picture of the record and posts it to `target`
// (media::ShowFrame, or media::ShowFrameRecord from a local device); null when none
// could be started. A local device's worker first opens the device's properties
// window owned by `propertiesOwner` when that is not 0. The main window passes
// CameraController::StartSnapshotWorker, so shutdown waits for these workers.
using SnapshotStarter = std::function<platform::ThreadHandlePtr(
    std::unique_ptr<camera::CameraRecord> copy, platform::WindowHandle target, platform::WindowHandle propertiesOwner)>;

class CCamSelIP : public QDialog {
  Q_OBJECT

 public:
  // `record` must outlive the dialog. The test picture goes on to `reportWindow`
  // (the options' preview). Constructing starts nothing, so the dialog can be
  // rendered with grab() as it opens.
  CCamSelIP(camera::CameraRecord& record, platform::WindowHandle reportWindow, SnapshotStarter startSnapshot,
            QWidget* parent = nullptr);
  ~CCamSelIP() override;

  // Where the test worker reports.
  platform::WindowHandle Handle() const;

 public slots:
  void Connect();  // "&Connect"
  void Ok();       // "&OK"

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::string TypedUrl() const;
  bool CheckUrl(const std::string& url);
  void OnMessage(platform::Message& msg);
  void TestEnded(const char* status);

  std::string failedText_;  // the failed test's status line with its reason
  std::unique_ptr<Ui::CamSelIPDlg> ui_;
  camera::CameraRecord& record_;
  platform::WindowHandle reportWindow_;
  SnapshotStarter startSnapshot_;
  camera::UrlCheck urlCheck_;
  platform::QtWindowTarget* target_ = nullptr;
};

}  // namespace recorder::ui
