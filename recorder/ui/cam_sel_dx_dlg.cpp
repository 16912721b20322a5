#include "recorder/ui/cam_sel_dx_dlg.h"

#include <QComboBox>
#include <QTimer>
#include <algorithm>

#include "media/frame_messages.h"
#include "platform/ascii.h"
#include "recorder/capture/capture_service.h"
#include "recorder/capture/dx_video.h"
#include "recorder/ui/open_dialogs.h"
#include "recorder/ui/window_placement.h"
#include <ui_cam_sel_dx_dlg.h>

namespace recorder::ui {

namespace {

constexpr const char* kNoDevices = " No local capture devices found on your system.";

// The format list is sorted alphabetically, without regard to case.
bool AlphabeticallyBefore(const std::string& a, const std::string& b) { return platform::ascii::LessNoCase(a, b); }

}  // namespace

// The capture service through CDXVideo, which keeps the selection rules; the
// open device's frames go to the preview several times a second.
class DeviceCatalogue : public CaptureCatalogue {
 public:
  explicit DeviceCatalogue(std::shared_ptr<capture::CaptureService> service) : video_(std::move(service)) {
    video_.Initialize();
    preview_.setInterval(kPreviewMs);
    QObject::connect(&preview_, &QTimer::timeout, &preview_, [this] { video_.PostPreview(); });
  }
  std::vector<std::string> Devices() override {
    capture::ComboList devices;
    video_.ListDevices(&devices);
    return devices.Items();
  }
  int DeviceIndex(int listed) override { return video_.DevicePosition(listed); }
  std::vector<std::string> Formats(int device) override { return ListFormats(device).Items(); }
  std::string PreferredFormat(int device) override { return ListFormats(device).SelectedText(); }
  bool Open(int device, const std::string& format, platform::WindowHandle previewWindow) override {
    preview_.stop();
    if (video_.OpenWithFormatText(video_.DevicePosition(device), previewWindow, format) != 0) return false;
    video_.PostPreview();
    preview_.start();
    return true;
  }
  std::vector<std::string> Pins() override {
    capture::ComboList pins;
    video_.ListPins(&pins);
    return pins.Items();
  }
  void RoutePin(int pin) override { video_.RoutePin(pin); }
  std::unique_ptr<media::FrameRecord> GrabFrame() override { return video_.GrabFrame(); }
  void Release() override {
    preview_.stop();
    video_.Close();
  }

 private:
  static constexpr int kPreviewMs = 200;
  capture::ComboList ListFormats(int device) {
    capture::ComboList formats(true);
    video_.ListFormats(video_.DevicePosition(device), &formats);
    return formats;
  }

  capture::CDXVideo video_;
  QTimer preview_;
};

std::unique_ptr<CaptureCatalogue> CaptureCatalogueOver(std::shared_ptr<capture::CaptureService> service) {
  return std::make_unique<DeviceCatalogue>(std::move(service));
}

std::unique_ptr<CaptureCatalogue> DefaultCaptureCatalogue() {
  return CaptureCatalogueOver(capture::DefaultCaptureService());
}

CCamSelDX::CCamSelDX(camera::CameraRecord& record, platform::WindowHandle reportWindow,
                     std::unique_ptr<CaptureCatalogue> catalogue, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CamSelDXDlg>()),
      record_(record),
      reportWindow_(reportWindow),
      catalogue_(catalogue ? std::move(catalogue) : DefaultCaptureCatalogue()) {
  ui_->setupUi(this);
  PlaceOnFirstShow(this);
  connect(ui_->okButton, &QPushButton::clicked, this, &CCamSelDX::Ok);
  connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui_->devices, &QComboBox::currentIndexChanged, this, [this] { DeviceChanged(); });
  connect(ui_->formats, &QComboBox::currentIndexChanged, this, [this] { FormatChanged(); });
  connect(ui_->pins, &QComboBox::currentIndexChanged, this, [this] { PinChanged(); });

  // The stored device, format and pin are not preselected: the first device
  // and its preferred format every time.
  filling_ = true;
  for (const std::string& name : catalogue_->Devices()) ui_->devices->addItem(QString::fromStdString(name));
  // Empty lists are disabled, as the device lists leave them.
  ui_->devices->setEnabled(ui_->devices->count() > 0);
  filling_ = false;
  FillFormats();
  ui_->pins->setEnabled(false);
  if (ui_->devices->count() > 0) OpenSelected();
  else ui_->status->setText(kNoDevices);
}

CCamSelDX::~CCamSelDX() {
  catalogue_->Release();
  OpenDialogs::Remove(this);
}

void CCamSelDX::showEvent(QShowEvent* event) {
  OpenDialogs::Add(this);
  QDialog::showEvent(event);
}

void CCamSelDX::FillFormats() {
  filling_ = true;
  ui_->formats->clear();
  const int device = ui_->devices->currentIndex();
  if (device >= 0) {
    std::vector<std::string> formats = catalogue_->Formats(device);
    std::stable_sort(formats.begin(), formats.end(), AlphabeticallyBefore);
    for (const std::string& f : formats) ui_->formats->addItem(QString::fromStdString(f));
    const int preferred = ui_->formats->findText(QString::fromStdString(catalogue_->PreferredFormat(device)));
    ui_->formats->setCurrentIndex(preferred >= 0 ? preferred : 0);
  }
  ui_->formats->setEnabled(ui_->formats->count() > 0);
  filling_ = false;
}

void CCamSelDX::OpenSelected() {
  filling_ = true;
  ui_->pins->clear();
  ui_->pins->setEnabled(false);
  const int device = ui_->devices->currentIndex();
  if (device >= 0 && catalogue_->Open(device, ui_->formats->currentText().toStdString(), ui_->previewArea->Handle())) {
    for (const std::string& pin : catalogue_->Pins()) ui_->pins->addItem(QString::fromStdString(pin));
    ui_->pins->setEnabled(ui_->pins->count() > 0);
  }
  filling_ = false;
}

void CCamSelDX::DeviceChanged() {
  if (filling_) return;
  catalogue_->Release();
  FillFormats();
  OpenSelected();
}

void CCamSelDX::FormatChanged() {
  if (filling_) return;
  catalogue_->Release();
  OpenSelected();
}

void CCamSelDX::PinChanged() {
  if (filling_ || ui_->pins->currentIndex() < 0) return;
  catalogue_->RoutePin(ui_->pins->currentIndex());
}

void CCamSelDX::Ok() {
  record_.deviceIndex = catalogue_->DeviceIndex(ui_->devices->currentIndex());
  record_.pinIndex = ui_->pins->currentIndex();
  int width = 0, height = 0, bits = 0;
  if (capture::CDXVideo::ParseFormatText(ui_->formats->currentText().toStdString(), width, height, bits)) {
    record_.formatWidth = width;
    record_.formatHeight = height;
    record_.formatBits = bits;
  }
  // A null frame clears the preview; a failed post frees the frame with its message.
  platform::Post<media::ShowFrameRecord>(reportWindow_, catalogue_->GrabFrame());
  accept();
}

}  // namespace recorder::ui
