#include "recorder/ui/video_dlg.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>
#include <cmath>
#include <type_traits>

#include "media/frame_messages.h"
#include "platform/qt/qt_window.h"
#include "recorder/camera/messages.h"
#include "recorder/ui/window_placement.h"
#include "widgets/dialog_units.h"
#include "widgets/picture_box.h"
#include "widgets/progress_ex.h"
#include "widgets/maximise_grow.h"

namespace recorder::ui {

namespace {

namespace to_main_window = camera::to_main_window;
namespace to_live_view = camera::to_live_view;

// The picture box posts its saved grid as widgets' GridSaved; the main window
// takes it as its GridChanged. A message carries number and payload type only,
// so the two must agree in both.
static_assert(widgets::GridSaved::kNumber == to_main_window::GridChanged::kNumber);
static_assert(std::is_same_v<widgets::GridSaved::PayloadType, to_main_window::GridChanged::PayloadType>);

// The window's layout in dialog units: 216 x 169, the picture at (1, 1) of
// 213 x 147, the bar at (1, 150) of 213 x 12.
constexpr int kDialogWidth = 216, kDialogHeight = 169;
constexpr int kMarginLeft = 1, kMarginTop = 1, kMarginRight = 2, kMarginBottom = 7;
constexpr int kGap = 2, kBarHeight = 12;

constexpr int kGrowWidth = 320, kGrowHeight = 240;          // at creation
constexpr int kMaximiseWidth = 160, kMaximiseHeight = 120;  // per maximise request

constexpr uint32_t kBarFill = 0x840A04;       // colour values 0x00BBGGRR
constexpr uint32_t kBarTriggered = 0x0000FF;  // red
constexpr uint32_t kBarSecond = 0xDFBC5F;

}  // namespace

CVideoDlg::CVideoDlg(QWidget* owner) : QDialog(owner) {
  // A window of its own rather than a dialog frame, so that window managers give
  // it the minimise and maximise buttons; the owner keeps it above itself.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);
  setModal(false);
  setSizeGripEnabled(false);
  setAttribute(Qt::WA_QuitOnClose, false);
  setWindowTitle("Video");
  if (owner) setWindowIcon(owner->windowIcon());

  target_ = new platform::QtWindowTarget(this, [this](platform::Message& msg) { HandleMessage(msg); });

  picture_ = new widgets::CPictureBox(this);
  picture_->SetGridOwner(target_->Handle());
  picture_->AddMenuCommand("Restore Original Window Size", kRestoreSizeCommand, [this] { RestoreBaseRect(); });

  bar_ = new widgets::CProgressEx(this);
  bar_->SetRange(0, 255);
  bar_->SetPos(0);
  bar_->SetText(" ");

  const widgets::DialogUnits du(font());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(du.X(kMarginLeft), du.Y(kMarginTop), du.X(kMarginRight), du.Y(kMarginBottom));
  layout->setSpacing(du.Y(kGap));
  layout->addWidget(picture_, 1);
  bar_->setFixedHeight(du.Y(kBarHeight));
  layout->addWidget(bar_);

  setMinimumSize(kMinimumSide, kMinimumSide);
  baseSize_ = QSize(du.X(kDialogWidth), du.Y(kDialogHeight)).expandedTo(minimumSize());
  resize(baseSize_ + QSize(kGrowWidth, kGrowHeight));
  // Views of the cameras loaded at start are made before the main window is
  // shown; each is placed when it first appears.
  PlaceOnFirstShow(this);
}

CVideoDlg::~CVideoDlg() { target_->Unregister(); }

platform::WindowHandle CVideoDlg::Handle() const { return target_->Handle(); }
widgets::CPictureBox* CVideoDlg::Picture() const { return picture_; }
widgets::CProgressEx* CVideoDlg::MotionBar() const { return bar_; }
QSize CVideoDlg::BaseSize() const { return baseSize_; }

QString CVideoDlg::TitleForSavePath(const std::string& savePath) {
  std::string path = savePath;
  while (!path.empty() && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return QString::fromStdString(path);
  // With default save paths every view would read "video.mjpg": the last two
  // folder names tell the cameras apart.
  std::string folder = path.substr(0, slash);
  size_t cut = folder.rfind('/');
  if (cut != std::string::npos && cut > 0) cut = folder.rfind('/', cut - 1);
  if (cut != std::string::npos) folder = folder.substr(cut + 1);
  const std::string file = path.substr(slash + 1);
  return QString::fromStdString(folder.empty() ? file : file + " - " + folder);
}

void CVideoDlg::SetGrid(const std::vector<uint8_t>& grid) { picture_->SetGrid(grid); }
void CVideoDlg::SetGridTarget(platform::WindowHandle target) { picture_->SetGridTarget(target); }

void CVideoDlg::ShowView() {
  if (isMinimized()) showNormal();
  if (isHidden()) show();
  raise();
  activateWindow();
}

void CVideoDlg::Cancel() {
  hide();
  platform::Post<media::ShowFrameRecord>(Handle(), 0, 0);
}

void CVideoDlg::RestoreBaseRect() {
  const bool wasVisible = isVisible();
  hide();
  resize(baseSize_);
  if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
  if (wasVisible) show();
}

void CVideoDlg::ShowMotionLevel(int level, bool triggered) {
  if (level == -1) {
    bar_->SetPos(0);
    bar_->SetText("Motion Detection is OFF");
  } else {
    bar_->SetText(QString::asprintf("Motion Level: %d", level));
    bar_->SetPos(level);
  }
  bar_->SetBarColors(widgets::CProgressEx::ColorRef(triggered ? kBarTriggered : kBarFill),
                     widgets::CProgressEx::ColorRef(kBarSecond));
}

void CVideoDlg::HandleMessage(platform::Message& msg) {
  if (platform::Is<media::ShowFrame>(msg) || platform::Is<media::ShowFrameRecord>(msg)) {
    // A hidden view keeps the picture it had when it was hidden: a frame that was
    // already on its way then is dropped. Clearing (no picture) still applies.
    const bool carriesPicture = msg.payload != nullptr && (platform::Is<media::ShowFrameRecord>(msg) ||
                                                           (msg.wParam != 0 && msg.lParam != 0));
    if (!isVisible() && carriesPicture) return;
    picture_->HandleMessage(msg);
  } else if (platform::Is<to_live_view::MotionLevel>(msg)) {
    ShowMotionLevel(int(msg.wParam), msg.lParam != 0);
  } else if (platform::Is<VideoDlgCommand>(msg)) {
    if (msg.wParam == kCommandOk || msg.wParam == kCommandCancel) Cancel();
  }
  // GridChanged reaching the view itself is ignored.
}

void CVideoDlg::keyPressEvent(QKeyEvent* event) {
  // Enter and Escape would end the dialog; here they do nothing.
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape: event->accept(); return;
    default: QDialog::keyPressEvent(event);
  }
}

void CVideoDlg::closeEvent(QCloseEvent* event) {
  // The close button hides the window and keeps its picture.
  event->accept();
}

void CVideoDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  // A maximise request grows the window by 160 x 120 about its centre instead.
  widgets::GrowInsteadOfMaximise(this, event, kMaximiseWidth, kMaximiseHeight);
}

}  // namespace recorder::ui
