#include "recorder/ui/cam_options_dlg.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFontDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "media/frame_image.h"
#include "platform/paths.h"
#include "platform/qt/qt_window.h"
#include "recorder/camera/messages.h"
#include "recorder/camera/option_rules.h"
#include "recorder/frame/adjust.h"
#include "recorder/frame/alarm_sound.h"
#include "recorder/frame/overlay.h"
#include "recorder/recording/retention.h"
#include "recorder/ui/cam_sel_dx_dlg.h"
#include "recorder/ui/device_properties_dlg.h"
#include "recorder/ui/message_boxes.h"
#include "recorder/ui/open_dialogs.h"
#include "recorder/ui/window_placement.h"
#include <ui_cam_options_device.h>
#include <ui_cam_options_dlg.h>
#include <ui_cam_options_image.h>
#include <ui_cam_options_motion.h>
#include <ui_cam_options_overlay.h>
#include <ui_cam_options_saving.h>
#include "widgets/picture_box.h"

namespace recorder::ui {

namespace {

constexpr int kTickMs = 1000;

QColor FromColorRef(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }
uint32_t ToColorRef(const QColor& c) {
  return uint32_t(c.red()) | (uint32_t(c.green()) << 8) | (uint32_t(c.blue()) << 16);
}

QString Number(int32_t value) { return QString::number(value); }
QString Text(const camera::TextField& field) { return QString::fromUtf8(camera::GetText(field)); }
std::string Typed(const QLineEdit* edit) { return camera::EditText(edit->text().toStdString()); }

// The overlay text as the worker stamps it (same font, position rule and
// background modes), drawn over the preview at the control's own size.
void PaintOverlay(QPainter& painter, const QRect& area, const frame::OverlaySettings& s) {
  if (s.text.empty()) return;
  const QString text = QString::fromUtf8(s.text.data(), qsizetype(s.text.size()));
  const QFont font = frame::BuildFont(s.font);
  const QFontMetrics metrics(font);
  const int textWidth = metrics.horizontalAdvance(text);
  const int textHeight = metrics.height();
  const frame::OverlayPosition pos =
      frame::ComputeOverlayPosition(area.width(), area.height(), textWidth, textHeight, s.hAlign, s.vAlign);
  const int x = area.left() + pos.x;
  const int y = area.top() + pos.y;
  const QColor back = FromColorRef(s.backColor);
  const QColor fore = FromColorRef(s.textColor);
  painter.save();
  painter.setClipRect(area);
  painter.setFont(font);
  const auto drawAt = [&](int dx, int dy, const QColor& colour) {
    painter.setPen(colour);
    painter.drawText(QPoint(x + dx, y + dy + metrics.ascent()), text);
  };
  switch (s.background) {
    case frame::kOverlaySolid:
      painter.fillRect(QRect(x, y, textWidth, textHeight), back);
      drawAt(0, 0, fore);
      break;
    case frame::kOverlayTransparent: drawAt(0, 0, fore); break;
    case frame::kOverlayShadow:
      drawAt(1, 1, back);
      drawAt(0, 0, fore);
      break;
    case frame::kOverlayOutline:
      for (const QPoint d : {QPoint(-1, -1), QPoint(1, -1), QPoint(-1, 1), QPoint(0, -1), QPoint(0, 1), QPoint(1, 1)})
        drawAt(d.x(), d.y(), back);
      drawAt(0, 0, fore);
      break;
    default: break;
  }
  painter.restore();
}

// The font description of a chosen font; the fields a font dialog does not
// choose (character set, precisions, quality, pitch) stay as they were.
camera::LogFont LogFontFrom(const QFont& font, int dpi, camera::LogFont description) {
  const int pixels = font.pixelSize() > 0 ? font.pixelSize() : int(std::lround(font.pointSizeF() * dpi / 72.0));
  description.height = -std::max(pixels, 1);
  description.width = 0;
  description.weight = font.weight();
  description.italic = font.italic() ? 1 : 0;
  description.underline = font.underline() ? 1 : 0;
  description.strikeOut = font.strikeOut() ? 1 : 0;
  const std::string face = camera::CutAtCharacter(font.family().toStdString(), description.faceName.size() - 1);
  description.faceName.fill('\0');
  std::memcpy(description.faceName.data(), face.data(), face.size());
  return description;
}

// Pages swallow Enter and Escape: a key pressed on a page never ends the dialog
// (Enter in "Save To:" would otherwise press "&Save").
class PageKeys : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) return true;
    }
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

CCamOptionsDlg::CCamOptionsDlg(const camera::CameraRecord& record, bool editMode, platform::ThreadId workerId,
                               SnapshotStarter startSnapshot, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::CamOptionsDlg>()),
      saving_(std::make_unique<Ui::CamOptionsSavingPage>()),
      image_(std::make_unique<Ui::CamOptionsImagePage>()),
      overlay_(std::make_unique<Ui::CamOptionsOverlayPage>()),
      motion_(std::make_unique<Ui::CamOptionsMotionPage>()),
      device_(std::make_unique<Ui::CamOptionsDevicePage>()),
      working_(camera::CopyCamera(record)),
      editMode_(editMode),
      workerId_(workerId),
      startSnapshot_(std::move(startSnapshot)) {
  ui_->setupUi(this);
  PlaceOnFirstShow(this);
  // The dialog's own handle: the owner of a device's properties window, which the
  // worker holding the device asks it to open.
  target_ = new platform::QtWindowTarget(this, [this](platform::Message& msg) { RunDeviceProperties(this, msg); });

  auto* pageKeys = new PageKeys(this);
  const auto addPage = [this, pageKeys](auto& form, const char* title) {
    auto* page = new QWidget;
    form->setupUi(page);
    page->installEventFilter(pageKeys);
    ui_->tabs->addTab(page, title);
  };
  addPage(saving_, "Saving");
  addPage(image_, "Image Modify");
  addPage(overlay_, "Overlay");
  addPage(motion_, "Motion");
  addPage(device_, "Device");

  auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);
  for (QLineEdit* edit : {saving_->frameDelay, saving_->maxJpgCount, saving_->keepDays, saving_->keepMegabytes,
                          image_->quality, motion_->triggerLevel, motion_->frameSaveCount})
    edit->setValidator(digits);
  for (QLineEdit* edit : {saving_->saveTo, overlay_->overlayText, motion_->soundFile})
    edit->setMaxLength(static_cast<int>(camera::kMaxTextInput));
  // Controls that come and go keep their room, so the page does not jump.
  for (QWidget* w : std::initializer_list<QWidget*>{saving_->maxJpgCountLabel, saving_->maxJpgCount,
                                                    saving_->maxJpgCountExample, device_->deviceSettings}) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
  }

  // The preview edits the grid for this dialog only: Save takes it, nothing else receives it.
  Preview()->SetGridTarget(0);
  Preview()->SetGrid(working_->motionGrid);

  connect(saving_->saveAsMjpg, &QRadioButton::clicked, this, [this] { SwitchExtension(".mjpg"); });
  connect(saving_->saveAsJpg, &QRadioButton::clicked, this, [this] { SwitchExtension(".jpg"); });
  connect(saving_->saveAsJpg, &QRadioButton::toggled, this, [this] { ShowJpgCountControls(); });
  connect(device_->directXCamera, &QRadioButton::toggled, this, [this] { ShowDeviceSettingsButton(); });
  connect(device_->selectDevice, &QPushButton::clicked, this, [this] { SelectSource(); });
  connect(device_->deviceSettings, &QPushButton::clicked, this, [this] { DeviceSettings(); });
  connect(motion_->browseSound, &QPushButton::clicked, this, [this] { BrowseSoundFile(); });
  connect(motion_->soundFile, &QLineEdit::textChanged, this, [this] { ShowSoundFileWhere(); });
  connect(overlay_->backColor, &QPushButton::clicked, this, [this] { ChooseBackColor(); });
  connect(overlay_->textFont, &QPushButton::clicked, this, [this] { ChooseTextFont(); });
  connect(ui_->saveButton, &QPushButton::clicked, this, &CCamOptionsDlg::Save);
  connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(&timer_, &QTimer::timeout, this, &CCamOptionsDlg::Tick);
  for (QCheckBox* box : {image_->flipHorizontal, image_->flipVertical, overlay_->enableOverlay})
    connect(box, &QCheckBox::toggled, this, [this] { ShowStoreAsSent(); });
  connect(image_->rotation, &QComboBox::currentIndexChanged, this, [this] { ShowStoreAsSent(); });
  timer_.setInterval(kTickMs);

  Fill();
  ShowSoundFileWhere();
  ShowDeviceSettingsButton();
  ShowJpgCountControls();
  ShowStoreAsSent();
  RefreshPreview();
}

void CCamOptionsDlg::ShowStoreAsSent() {
  camera::CameraRecord changes;
  changes.flipHorizontal = image_->flipHorizontal->isChecked();
  changes.flipVertical = image_->flipVertical->isChecked();
  changes.rotation = image_->rotation->currentIndex();
  changes.overlayEnabled = overlay_->enableOverlay->isChecked();
  const std::string blocker = camera::StoreAsSentBlocker(changes);
  saving_->storeAsSent->setEnabled(blocker.empty());
  saving_->storeAsSentNote->setEnabled(blocker.empty());
  saving_->storeAsSent->setToolTip(QString::fromStdString(blocker));
}

QString CCamOptionsDlg::SoundFileWhere(const QString& name) {
  if (name.isEmpty()) return QString();
  const std::string typed = name.toStdString();
  const std::string cwd = QDir::currentPath().toStdString();
  const std::string folder = frame::SoundSettingsFolder();
  const std::string found = frame::ResolveSoundFile(typed, platform::ProgramDirectory(), cwd, folder);
  if (!found.empty()) return "Plays " + QString::fromStdString(found);
  const auto candidates = frame::SoundFileCandidates(typed, platform::ProgramDirectory(), cwd, folder);
  return "No file " + QString::fromStdString(candidates.empty() ? typed : candidates.front()) +
         "; the name is played as a desktop sound if there is one";
}

void CCamOptionsDlg::ShowSoundFileWhere() {
  motion_->soundFileWhere->setText(SoundFileWhere(motion_->soundFile->text()));
}

void CCamOptionsDlg::BrowseSoundFile() {
  const QString folder = QString::fromStdString(frame::SoundSettingsFolder());
  const QString current = motion_->soundFile->text();
  const QString start = current.startsWith('/') ? current : QDir(folder).filePath(current);
  const QString chosen = QFileDialog::getOpenFileName(this, "Motion Sound", start,
                                                      "Sound files (*.wav *.oga *.ogg *.flac);;All files (*)");
  if (chosen.isEmpty()) return;
  // A file in the settings folder is stored by its name, so the folder can move.
  motion_->soundFile->setText(chosen.startsWith(folder) ? chosen.mid(folder.size()) : chosen);
}

CCamOptionsDlg::~CCamOptionsDlg() {
  timer_.stop();
  target_->Unregister();
  OpenDialogs::Remove(this);
}

widgets::CPictureBox* CCamOptionsDlg::Preview() const { return ui_->preview; }

platform::WindowHandle CCamOptionsDlg::Handle() const { return target_->Handle(); }

void CCamOptionsDlg::ShowPage(Page page) { ui_->tabs->setCurrentIndex(page); }

std::unique_ptr<camera::CameraRecord> CCamOptionsDlg::TakeRecord() { return std::move(result_); }

void CCamOptionsDlg::showEvent(QShowEvent* event) {
  OpenDialogs::Add(this);
  QDialog::showEvent(event);
}

int CCamOptionsDlg::exec() {
  // Listed before the source dialog of add mode opens, so a shutdown cancels both.
  OpenDialogs::Add(this);
  if (!Open()) {
    setResult(Rejected);
    return Rejected;
  }
  return QDialog::exec();
}

bool CCamOptionsDlg::Open() {
  if (editMode_) StartPreview();
  else if (!SelectSource()) return false;
  ShowDeviceSettingsButton();
  ShowJpgCountControls();
  timer_.start();
  return true;
}

void CCamOptionsDlg::Fill() {
  const camera::CameraRecord& w = *working_;
  saving_->enableSaving->setChecked(w.saveEnabled != 0);
  saving_->frameDelay->setText(Number(w.frameDelayMs));
  saving_->saveTo->setText(Text(w.savePath));
  saving_->cleanSaveDir->setChecked(w.cleanSaveDir != 0);
  saving_->saveAsMjpg->setChecked(w.saveAsMjpg != 0);
  saving_->saveAsJpg->setChecked(w.saveAsMjpg == 0);
  saving_->maxJpgCount->setText(Number(w.maxJpgCount));
  saving_->keepDays->setText(Number(w.keepDays));
  saving_->keepMegabytes->setText(Number(w.keepMegabytes));
  saving_->storeAsSent->setChecked(w.storeAsSent != 0);

  image_->flipHorizontal->setChecked(w.flipHorizontal != 0);
  image_->flipVertical->setChecked(w.flipVertical != 0);
  image_->quality->setText(Number(w.jpegQuality));
  image_->rotation->setCurrentIndex(w.rotation);

  overlay_->enableOverlay->setChecked(w.overlayEnabled != 0);
  overlay_->backgroundType->setCurrentIndex(w.overlayBackground);
  overlay_->vAlign->setCurrentIndex(w.overlayVAlign);
  overlay_->hAlign->setCurrentIndex(w.overlayHAlign);
  overlay_->overlayText->setText(Text(w.overlayText));

  motion_->enableMotion->setChecked(w.motionEnabled != 0);
  motion_->triggerLevel->setText(Number(w.motionTriggerLevel));
  motion_->frameSaveCount->setText(Number(w.frameSaveCount));
  motion_->playSound->setChecked(w.motionSound != 0);
  motion_->soundFile->setText(Text(w.soundFile));

  device_->ipCamera->setChecked(w.cameraType == camera::kCameraIp);
  device_->directXCamera->setChecked(w.cameraType != camera::kCameraIp);
}

void CCamOptionsDlg::ReadControls() {
  camera::CameraRecord& w = *working_;
  w.saveEnabled = saving_->enableSaving->isChecked();
  camera::StoreEditNumber(w, "frameDelayMs", Typed(saving_->frameDelay));
  camera::SetText(w.savePath, Typed(saving_->saveTo));
  w.cleanSaveDir = saving_->cleanSaveDir->isChecked();
  w.saveAsMjpg = saving_->saveAsMjpg->isChecked();
  camera::StoreEditNumber(w, "maxJpgCount", Typed(saving_->maxJpgCount));
  camera::StoreEditNumber(w, "keepDays", Typed(saving_->keepDays));
  camera::StoreEditNumber(w, "keepMegabytes", Typed(saving_->keepMegabytes));
  w.storeAsSent = saving_->storeAsSent->isChecked();

  w.flipHorizontal = image_->flipHorizontal->isChecked();
  w.flipVertical = image_->flipVertical->isChecked();
  camera::StoreEditNumber(w, "jpegQuality", Typed(image_->quality));
  camera::StoreChoice(w, "rotation", image_->rotation->currentIndex());

  w.overlayEnabled = overlay_->enableOverlay->isChecked();
  camera::StoreChoice(w, "overlayBackground", overlay_->backgroundType->currentIndex());
  camera::StoreChoice(w, "overlayVAlign", overlay_->vAlign->currentIndex());
  camera::StoreChoice(w, "overlayHAlign", overlay_->hAlign->currentIndex());
  camera::SetText(w.overlayText, Typed(overlay_->overlayText));

  w.motionEnabled = motion_->enableMotion->isChecked();
  camera::StoreEditNumber(w, "motionTriggerLevel", Typed(motion_->triggerLevel));
  camera::StoreEditNumber(w, "frameSaveCount", Typed(motion_->frameSaveCount));
  w.motionSound = motion_->playSound->isChecked();
  camera::SetText(w.soundFile, Typed(motion_->soundFile));

  w.cameraType = device_->directXCamera->isChecked() ? camera::kCameraLocal : camera::kCameraIp;
  w.motionGrid = Preview()->CopyGrid();
}

void CCamOptionsDlg::RefreshPreview() {
  const camera::CameraRecord& w = *working_;
  widgets::CPictureBox::PreviewAdjust adjust;
  if (w.flipHorizontal || w.flipVertical || w.rotation != 0) {
    adjust = [h = w.flipHorizontal != 0, v = w.flipVertical != 0, r = w.rotation](media::FrameImage& image) {
      frame::ApplyOrientation(image, h, v, r);
    };
  }
  widgets::CPictureBox::PreviewOverlay overlay;
  if (w.overlayEnabled) {
    overlay = [settings = frame::OverlaySettingsFrom(w)](QPainter& painter, const QRect& rect) {
      PaintOverlay(painter, rect, settings);
    };
  }
  Preview()->SetPreview(std::move(adjust), std::move(overlay));
}

void CCamOptionsDlg::Tick() {
  ReadControls();
  RefreshPreview();
}

void CCamOptionsDlg::StartPreview() {
  const platform::WindowHandle preview = Preview()->Handle();
  if (device_->ipCamera->isChecked()) {
    if (!startSnapshot_) return;
    auto copy = camera::CopyCamera(*working_);
    copy->cameraType = camera::kCameraIp;
    startSnapshot_(std::move(copy), preview, 0);
  } else if (workerId_ != 0) {
    // The running worker holds the device; it sends one frame.
    platform::Post<camera::to_worker::SendFrame>(workerId_, static_cast<intptr_t>(preview));
  } else if (startSnapshot_) {
    auto copy = camera::CopyCamera(*working_);
    copy->cameraType = camera::kCameraLocal;
    startSnapshot_(std::move(copy), preview, 0);
  }
}

bool CCamOptionsDlg::SelectSource() {
  // The radio decides, not the stored cameraType, which may lag a tick behind.
  int result = Rejected;
  if (device_->ipCamera->isChecked()) {
    CCamSelIP dialog(*working_, Preview()->Handle(), startSnapshot_, this);
    result = dialog.exec();
  } else {
    CCamSelDX dialog(*working_, Preview()->Handle(), nullptr, this);
    result = dialog.exec();
  }
  if (result != Accepted) return false;
  Tick();
  return true;
}

void CCamOptionsDlg::ShowDeviceSettingsButton() {
  device_->deviceSettings->setVisible(device_->directXCamera->isChecked());
}

void CCamOptionsDlg::ShowJpgCountControls() {
  const bool jpg = saving_->saveAsJpg->isChecked();
  saving_->maxJpgCountLabel->setVisible(jpg);
  saving_->maxJpgCount->setVisible(jpg);
  saving_->maxJpgCountExample->setVisible(jpg);
}

void CCamOptionsDlg::SwitchExtension(const char* extension) {
  const std::string path = camera::SwitchSaveExtension(saving_->saveTo->text().toStdString(), extension);
  saving_->saveTo->setText(QString::fromStdString(path));
  ShowJpgCountControls();
}

void CCamOptionsDlg::DeviceSettings() {
  if (working_->cameraType == camera::kCameraIp) return;
  // A running local worker holds the device and opens its properties window;
  // without one, a snapshot worker opens the device for it and then sends a frame.
  if (workerId_ != 0) {
    platform::Post<camera::to_worker::ShowDeviceSettings>(workerId_, static_cast<intptr_t>(Preview()->Handle()),
                                                          static_cast<intptr_t>(target_->Handle()));
  } else if (startSnapshot_) {
    auto copy = camera::CopyCamera(*working_);
    copy->cameraType = camera::kCameraLocal;
    startSnapshot_(std::move(copy), Preview()->Handle(), target_->Handle());
  }
}

void CCamOptionsDlg::ChooseBackColor() {
  const QColor colour = QColorDialog::getColor(FromColorRef(working_->overlayBackColor), this, "Background Color");
  if (colour.isValid()) working_->overlayBackColor = ToColorRef(colour);
}

void CCamOptionsDlg::ChooseTextFont() {
  QFont initial = frame::BuildFont(working_->overlayFont);
  // The font dialog speaks in points; BuildFont takes a height of 0 as 13 pixels.
  const int32_t height = working_->overlayFont.height;
  const double pixels = height == 0 ? 13.0 : std::abs(double(height));
  initial.setPointSizeF(std::max(1.0, pixels * 72.0 / logicalDpiY()));
  initial.setStyleStrategy(QFont::PreferDefault);
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, initial, this, "Text Font");
  if (!ok) return;
  working_->overlayFont = LogFontFrom(chosen, logicalDpiY(), working_->overlayFont);
  const QColor colour = QColorDialog::getColor(FromColorRef(working_->overlayTextColor), this, "Text Color");
  if (colour.isValid()) working_->overlayTextColor = ToColorRef(colour);
}

void CCamOptionsDlg::Save() {
  ReadControls();
  const bool ticking = timer_.isActive();
  timer_.stop();
  if (const auto problem = camera::PrepareSavePath(camera::GetText(working_->savePath))) {
    Tell(this, problem->text, problem->caption);
    if (ticking) timer_.start();
    return;
  }
  // Limits that cannot be kept as asked are saved all the same, with a word why.
  const char* home = std::getenv("HOME");
  const std::string retention = recording::RetentionWarning(*working_, home ? home : "");
  if (!retention.empty()) Tell(this, retention.c_str(), "Retention", BoxIcon::Information);
  // The stored path keeps its time codes; only the check used the expansion.
  result_ = camera::CopyCamera(*working_);
  accept();
}

}  // namespace recorder::ui
