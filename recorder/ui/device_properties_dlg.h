#pragma once
// "Video Capture Properties": the modal window with a capture device's settings
// (sliders, check boxes, menus). It is opened on the window thread at the request
// of the worker that holds the device, and sends every change to that worker at
// once, so the device takes it while the window is open. Cancel puts back the
// values it opened with; both buttons tell the worker that the window closed.
#include <QDialog>
#include <map>
#include <memory>

#include "platform/message.h"
#include "recorder/capture/capture_messages.h"

namespace platform {
class QtWindowTarget;
}

namespace recorder::ui {

class CDevicePropertiesDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CDevicePropertiesDlg(capture::DevicePropertiesRequest request, QWidget* parent = nullptr);
  ~CDevicePropertiesDlg() override;

  platform::WindowHandle Handle() const;
  // The control's editor: a QSlider, QCheckBox or QComboBox; null for an unknown id.
  QWidget* Editor(uint32_t id) const;
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Changed(uint32_t id, int32_t value);
  void ShowValue(uint32_t id, int32_t value);
  void RestoreDefaults();
  void ReportClosed();

  capture::DevicePropertiesRequest request_;
  std::map<uint32_t, int32_t> values_;
  std::map<uint32_t, QWidget*> editors_;
  platform::QtWindowTarget* target_ = nullptr;
  bool closedReported_ = false;
};

// Opens the properties window modally when `msg` is the worker's request to
// `owner`; false for any other message.
bool RunDeviceProperties(QWidget* owner, platform::Message& msg);
// The properties window that is open now, if any.
QDialog* OpenDevicePropertiesWindow();

}  // namespace recorder::ui
