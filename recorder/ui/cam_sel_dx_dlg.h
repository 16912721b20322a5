#pragma once
// "Local Camera Select": a local capture device, one of its formats and an
// input pin, with the device's live picture. Works on the camera options'
// working copy; OK stores deviceIndex, the format and pinIndex there and sends
// the device's current frame on to the options' preview.
#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "media/frame_image.h"
#include "platform/message.h"
#include "recorder/camera/camera_record.h"

namespace recorder::capture {
class CaptureService;
}

namespace Ui {
class CamSelDXDlg;
}

namespace recorder::ui {

// What the dialog needs of the capture service. This base lists no device, and
// the dialog then says so; the capture service plugs in by deriving from it.
// Devices are named by their place in the Devices() list.
class CaptureCatalogue {
 public:
  virtual ~CaptureCatalogue() = default;
  // Friendly names in enumeration order.
  virtual std::vector<std::string> Devices() { return {}; }
  // The device index stored for a listed device: its position in the enumeration,
  // which differs from its place in the list when a device before it has no readable name.
  virtual int DeviceIndex(int listed) { return listed; }
  // The device's formats as "<width>x<height> <bits> bit", and the one to preselect.
  virtual std::vector<std::string> Formats(int device) { return {}; }
  virtual std::string PreferredFormat(int device) { return {}; }
  // Opens the device with the format and shows its live picture in previewWindow
  // (frames posted as media::ShowFrameRecord). False when it could not be opened.
  virtual bool Open(int device, const std::string& format, platform::WindowHandle previewWindow) { return false; }
  // The open device's inputs, and routing to one of them.
  virtual std::vector<std::string> Pins() { return {}; }
  virtual void RoutePin(int pin) {}
  // The open device's current frame; null when none can be had.
  virtual std::unique_ptr<media::FrameRecord> GrabFrame() { return nullptr; }
  // Closes the open device, if any.
  virtual void Release() {}
};

// The capture devices of the capture service, previewed several times a second.
std::unique_ptr<CaptureCatalogue> CaptureCatalogueOver(std::shared_ptr<capture::CaptureService> service);
// The same over capture::DefaultCaptureService().
std::unique_ptr<CaptureCatalogue> DefaultCaptureCatalogue();

class CCamSelDX : public QDialog {
  Q_OBJECT

 public:
  // `record` must outlive the dialog. The dialog lists the devices and opens the
  // first at once; a null catalogue means DefaultCaptureCatalogue().
  CCamSelDX(camera::CameraRecord& record, platform::WindowHandle reportWindow,
            std::unique_ptr<CaptureCatalogue> catalogue = nullptr, QWidget* parent = nullptr);
  ~CCamSelDX() override;

 public slots:
  void Ok();  // "&OK"

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FillFormats();
  void OpenSelected();
  void DeviceChanged();
  void FormatChanged();
  void PinChanged();

  std::unique_ptr<Ui::CamSelDXDlg> ui_;
  camera::CameraRecord& record_;
  platform::WindowHandle reportWindow_;
  std::unique_ptr<CaptureCatalogue> catalogue_;
  bool filling_ = false;  // selection signals while the lists are refilled are not the user's
};

}  // namespace recorder::ui
