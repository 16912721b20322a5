#pragma once
// "Camera Options": one camera's settings on five pages (Saving, Image Modify,
// Overlay, Motion, Device) with a live preview on the right in which the motion
// grid is edited. The dialog edits a working copy of the caller's record; a
// one-second timer reads the controls into it and lets the preview follow.
// "Save" checks the save path, creates its folder and hands back a new record.
//
// The main window runs it like this:
//   CCamOptionsDlg dialog(record, editMode, row.workerId, startSnapshot, this);
//   if (dialog.exec() == QDialog::Accepted) use(dialog.TakeRecord());
// In add mode the source dialog opens first; cancelling it cancels the options.
#include <QDialog>
#include <QTimer>
#include <memory>

#include "platform/message.h"
#include "recorder/camera/camera_record.h"
#include "recorder/ui/cam_sel_ip_dlg.h"

class QTabWidget;

namespace platform {
class QtWindowTarget;
}
namespace widgets {
class CPictureBox;
}
namespace Ui {
class CamOptionsDlg;
class CamOptionsSavingPage;
class CamOptionsImagePage;
class CamOptionsOverlayPage;
class CamOptionsMotionPage;
class CamOptionsDevicePage;
}  // namespace Ui

namespace recorder::ui {

class CCamOptionsDlg : public QDialog {
  Q_OBJECT

 public:
  enum Page { kPageSaving = 0, kPageImageModify, kPageOverlay, kPageMotion, kPageDevice, kPageCount };

  // `record` is copied at once into the working copy; the caller keeps its own.
  // `workerId` is the camera's running worker (0 when stopped): a running local
  // worker is asked for preview frames and device settings instead of opening the
  // device a second time. Constructing fills the controls and starts nothing, so
  // the dialog can be rendered with grab() as it opens.
  CCamOptionsDlg(const camera::CameraRecord& record, bool editMode, platform::ThreadId workerId,
                 SnapshotStarter startSnapshot, QWidget* parent = nullptr);
  ~CCamOptionsDlg() override;

  // Opens (Open below) and runs modally; Rejected at once when Open fails.
  int exec() override;
  // The opening steps that start work: the preview in edit mode, the source
  // selection in add mode (false when the user cancels it), and the timer.
  bool Open();

  // The record "Save" made; null before a successful Save (and after taking it).
  std::unique_ptr<camera::CameraRecord> TakeRecord();
  const camera::CameraRecord& WorkingCopy() const { return *working_; }
  widgets::CPictureBox* Preview() const;
  // The dialog's window handle: the owner of a device's properties window.
  platform::WindowHandle Handle() const;
  void ShowPage(Page page);

 public slots:
  // The timer's work: controls into the working copy, then the preview follows.
  void Tick();
  // "&Save".
  void Save();
  // "&Select Device": the source dialog the Device page's radio names. False when cancelled.
  bool SelectSource();

 protected:
  void showEvent(QShowEvent* event) override;

  // Where the Motion page's sound name points: the file it plays, or that no
  // such file exists (the name is then tried as a desktop sound).
  static QString SoundFileWhere(const QString& name);

 private:
  void ShowSoundFileWhere();
  void BrowseSoundFile();
  void Fill();
  void ReadControls();
  void RefreshPreview();
  void StartPreview();
  void ShowDeviceSettingsButton();
  void ShowJpgCountControls();
  // The store-as-sent check box is usable only while nothing changes the picture.
  void ShowStoreAsSent();
  void SwitchExtension(const char* extension);
  void ChooseBackColor();
  void ChooseTextFont();
  void DeviceSettings();

  std::unique_ptr<Ui::CamOptionsDlg> ui_;
  std::unique_ptr<Ui::CamOptionsSavingPage> saving_;
  std::unique_ptr<Ui::CamOptionsImagePage> image_;
  std::unique_ptr<Ui::CamOptionsOverlayPage> overlay_;
  std::unique_ptr<Ui::CamOptionsMotionPage> motion_;
  std::unique_ptr<Ui::CamOptionsDevicePage> device_;
  std::unique_ptr<camera::CameraRecord> working_;
  std::unique_ptr<camera::CameraRecord> result_;
  bool editMode_;
  platform::ThreadId workerId_;
  SnapshotStarter startSnapshot_;
  QTimer timer_;
  platform::QtWindowTarget* target_ = nullptr;
};

}  // namespace recorder::ui
