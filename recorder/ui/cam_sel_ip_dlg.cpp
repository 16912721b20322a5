#include "recorder/ui/cam_sel_ip_dlg.h"

#include "media/frame_messages.h"
#include "platform/qt/qt_window.h"
#include "recorder/camera/field_table.h"
#include "recorder/camera/option_rules.h"
#include "recorder/ui/message_boxes.h"
#include "recorder/ui/open_dialogs.h"
#include "recorder/ui/window_placement.h"
#include <ui_cam_sel_ip_dlg.h>

namespace recorder::ui {

namespace {
constexpr const char* kReady = " Ready...";
constexpr const char* kTrying = " Trying to connect...";
constexpr const char* kSuccess = " Connection Successful.";
constexpr const char* kFailed = " Failed to get image.";
}  // namespace

CCamSelIP::CCamSelIP(camera::CameraRecord& record, platform::WindowHandle reportWindow, SnapshotStarter startSnapshot,
                     QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CamSelIPDlg>()),
      record_(record),
      reportWindow_(reportWindow),
      startSnapshot_(std::move(startSnapshot)) {
  ui_->setupUi(this);
  PlaceOnFirstShow(this);
  target_ = new platform::QtWindowTarget(this, [this](platform::Message& msg) { OnMessage(msg); });
  ui_->status->setText(kReady);
  ui_->url->setMaxLength(static_cast<int>(camera::kMaxTextInput));
  ui_->url->setText(QString::fromUtf8(camera::GetText(record_.url)));
  connect(ui_->connectButton, &QPushButton::clicked, this, &CCamSelIP::Connect);
  connect(ui_->okButton, &QPushButton::clicked, this, &CCamSelIP::Ok);
  connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CCamSelIP::~CCamSelIP() {
  // A test picture still on its way finds no window and is dropped by its sender.
  target_->Unregister();
  OpenDialogs::Remove(this);
}

platform::WindowHandle CCamSelIP::Handle() const { return target_->Handle(); }

void CCamSelIP::showEvent(QShowEvent* event) {
  OpenDialogs::Add(this);
  QDialog::showEvent(event);
}

std::string CCamSelIP::TypedUrl() const { return camera::EditText(ui_->url->text().toStdString()); }

bool CCamSelIP::CheckUrl(const std::string& url) {
  switch (urlCheck_.Check(url)) {
    case camera::UrlVerdict::Refused:
      Tell(this, camera::kBadUrlMessage, camera::kInvalidUrlCaption);
      return false;
    case camera::UrlVerdict::AskStream:
      urlCheck_.Answer(Ask(this, camera::kStreamQuestion, camera::kStreamQuestionCaption));
      return true;
    case camera::UrlVerdict::Passed: return true;
  }
  return false;
}

void CCamSelIP::Connect() {
  const std::string url = TypedUrl();
  if (!CheckUrl(url)) return;
  ui_->connectButton->setEnabled(false);
  ui_->url->setEnabled(false);
  ui_->status->setText(kTrying);
  auto copy = camera::CopyCamera(record_);
  camera::SetText(copy->url, url);
  // This dialog tests an address, whatever the working copy's type says yet.
  copy->cameraType = camera::kCameraIp;
  platform::ThreadHandlePtr worker = startSnapshot_ ? startSnapshot_(std::move(copy), Handle(), 0) : nullptr;
  // Without a worker no answer would come, and the controls would stay disabled.
  if (!worker) TestEnded(kFailed);
}

void CCamSelIP::Ok() {
  const std::string url = TypedUrl();
  if (!CheckUrl(url)) return;
  camera::SetText(record_.url, url);
  record_.pushStream = urlCheck_.PushStreamFor(url);
  accept();
}

void CCamSelIP::TestEnded(const char* status) {
  ui_->connectButton->setEnabled(true);
  ui_->url->setEnabled(true);
  ui_->status->setText(status);
}

void CCamSelIP::OnMessage(platform::Message& msg) {
  if (!platform::Is<media::ShowFrame>(msg)) return;
  std::vector<uint8_t> jpeg = platform::Take<media::ShowFrame>(msg);
  if (msg.wParam == 0 || jpeg.empty()) {
    // A stream camera's test says why it got no picture.
    const std::string reason(jpeg.begin(), jpeg.end());
    if (msg.wParam == 0 && !reason.empty()) {
      failedText_ = std::string(kFailed) + " " + reason;
      TestEnded(failedText_.c_str());
    } else {
      TestEnded(kFailed);
    }
    return;
  }
  TestEnded(kSuccess);
  ui_->picture->ShowJpeg(jpeg);
  const auto length = static_cast<intptr_t>(jpeg.size());
  platform::Post<media::ShowFrame>(reportWindow_, 1, length, std::move(jpeg));
}

}  // namespace recorder::ui
