#include "player/ui/player_dlg.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWindowStateChangeEvent>
#include <climits>
#include <ui_player_dlg.h>

#include "media/mjpg_reader.h"
#include "platform/ascii.h"
#include "platform/qt/qt_window.h"
#include "player/editing.h"
#include "player/file_info.h"
#include "player/still_export.h"
#include "player/thread_registry.h"
#include "player/ui/about_box.h"
#include "player/ui/control_targets.h"
#include "player/ui/copy_dlg.h"
#include "widgets/dialog_units.h"
#include "widgets/picture_box.h"
#include "widgets/file_paths.h"
#include "widgets/progress_ex.h"
#include "widgets/prompts.h"
#include "widgets/maximise_grow.h"

namespace player::ui {

using widgets::BoxIcon;
using widgets::FileRequest;
using widgets::StandardPrompts;

namespace {

using namespace to_video_thread;
using namespace to_player_window;

constexpr const char* kCaption = "Velmo";
constexpr const char* kCaptionPrefix = "Velmo - ";
// The delay that ends the program after the last playback thread stopped.
constexpr int kEndDelayMs = 100;

// The transport icons: the desktop theme's, else the style's own.
QIcon MediaIcon(QStyle* style, const char* themeName, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(themeName, style->standardIcon(fallback));
}

// A point in a message parameter as a mouse message packs it: x in the low 16
// bits, y in the next 16, both signed.
intptr_t PackPoint(const QPoint& p) { return intptr_t(uint16_t(int16_t(p.x())) | uint32_t(uint16_t(int16_t(p.y()))) << 16); }
QPoint UnpackPoint(intptr_t v) { return {int16_t(uint16_t(v & 0xFFFF)), int16_t(uint16_t((v >> 16) & 0xFFFF))}; }


}  // namespace

CPlayerDlg::CPlayerDlg(PlayerDlgOptions options)
    : options_(std::move(options)),
      prompts_(options_.prompts ? options_.prompts : &StandardPrompts()),
      ui_(std::make_unique<Ui::PlayerDlg>()) {
  ui_->setupUi(this);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(PlayerIcon());
  setWindowTitle(kCaption);
  target_ = new platform::QtWindowTarget(this, [this](platform::Message& msg) { HandleMessage(msg); });
  barTarget_ = AttachTarget(ui_->positionBar);
  timeTarget_ = AttachTarget(ui_->timeLabel);
  sizeTarget_ = AttachTarget(ui_->sizeLabel);

  // The edit progress dialog lives, hidden, as long as the window.
  copyDlg_ = new CCopyDlg(this, [this] { PostToThread<VT_CANCEL_EDIT>(); });

  contextMenu_ = BuildMenu(ContextMenuEntries());
  windowMenu_ = BuildMenu(WindowMenuEntries());
  // The picture shows no menu of its own: a right-button release tells the
  // window, which shows the player's menu.
  ui_->picture->SetContextMenuHandler([this](const QPoint& point) {
    platform::Post<PLAYER_CONTEXT_MENU>(Handle(), 0, PackPoint(point));
  });
  ui_->picture->SetFrameShownHandler([this] { PostToThread<VT_FRAME_SHOWN>(); });

  SetupControls();
  ui_->positionBar->SetRange(0, media::CMjpgReader::kFractionRange);
  ui_->delayEdit->setText("100");

  firstSize_ = widgets::DialogUnits(font()).Size(254, 225).expandedTo(minimumSize());
  resize(firstSize_);
}

CPlayerDlg::~CPlayerDlg() {
  target_->Unregister();
  barTarget_->Unregister();
  timeTarget_->Unregister();
  sizeTarget_->Unregister();
  // A thread still open would post to windows that are gone; its posts fail.
  PostToThread<VT_CLOSE>();
  if (shutdown_.joinable()) shutdown_.join();
}

void CPlayerDlg::SetupControls() {
  const widgets::DialogUnits du(font());
  // The template's spacing: 2 units at the sides, 1 above, 4 below, 2 between rows.
  ui_->mainLayout->setContentsMargins(du.X(2), du.Y(1), du.X(2), du.Y(4));
  ui_->mainLayout->setSpacing(du.Y(2));
  ui_->labelRow->setSpacing(du.X(2));
  ui_->controlRow->setSpacing(du.X(2));

  ui_->positionBar->setFixedHeight(std::max(du.Y(8), fontMetrics().height() + 2));
  // The time label keeps its width and fits any time stamp; the size label takes the rest.
  const QFontMetrics fm(ui_->timeLabel->font());
  const int timeWidth = fm.horizontalAdvance(" Wed Sep 30 2026 (12:00:00 PM)") + fm.averageCharWidth() * 2;
  ui_->timeLabel->setFixedWidth(std::max(du.X(124), timeWidth));
  ui_->sizeLabel->setMinimumWidth(
      std::max(fm.horizontalAdvance(QString(kVideoSizePrefix) + "1023.99 MB"), fm.horizontalAdvance(kInvalidVideoFormat)) +
      fm.averageCharWidth());

  QStyle* s = style();
  struct Transport {
    QPushButton* button;
    const char* theme;
    QStyle::StandardPixmap fallback;
    int width;
  } transport[] = {
      {ui_->playButton, "media-playback-start", QStyle::SP_MediaPlay, 30},
      {ui_->stopButton, "media-playback-stop", QStyle::SP_MediaStop, 30},
      {ui_->previousButton, "media-skip-backward", QStyle::SP_MediaSkipBackward, 31},
      {ui_->nextButton, "media-skip-forward", QStyle::SP_MediaSkipForward, 30},
  };
  const int iconSide = std::max(16, du.Y(11));
  for (const Transport& t : transport) {
    t.button->setIcon(MediaIcon(s, t.theme, t.fallback));
    t.button->setIconSize(QSize(iconSide, iconSide));
    t.button->setFixedSize(std::max(du.X(t.width), iconSide + 12), std::max(du.Y(16), iconSide + 8));
    t.button->setAccessibleName(t.button->toolTip());
  }
  ui_->delayEdit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), ui_->delayEdit));
  ui_->delayEdit->setFixedWidth(
      std::max(du.X(30), ui_->delayEdit->fontMetrics().horizontalAdvance("0000000") + du.X(4)));
  ui_->applyButton->setMinimumSize(du.X(30), du.Y(14));

  connect(ui_->playButton, &QPushButton::clicked, this, [this] { Play(); });
  connect(ui_->stopButton, &QPushButton::clicked, this, [this] { PostToThread<VT_CLOSE>(); });
  connect(ui_->previousButton, &QPushButton::clicked, this, [this] { PostToThread<VT_PREV_FRAME>(); });
  connect(ui_->nextButton, &QPushButton::clicked, this, [this] { PostToThread<VT_NEXT_FRAME>(); });
  connect(ui_->applyButton, &QPushButton::clicked, this, [this] { ApplyDelay(); });
  connect(ui_->delayEdit, &QLineEdit::returnPressed, this, [this] { ApplyDelay(); });

  // Texts are never cut off: the window is at least as large as its layout needs.
  ui_->mainLayout->activate();
  setMinimumSize(QSize(kMinimumWidth, kMinimumHeight).expandedTo(ui_->mainLayout->minimumSize()));
  ShowPlaying(false);
}

QMenu* CPlayerDlg::BuildMenu(const std::vector<MenuEntry>& entries) {
  auto* menu = new QMenu(this);
  for (const MenuEntry& e : entries) {
    if (e.id == 0) {
      menu->addSeparator();
    } else {
      QAction* action = menu->addAction(e.text);
      const int id = e.id;
      connect(action, &QAction::triggered, this, [this, id] { RunCommand(id); });
    }
  }
  return menu;
}

std::vector<CPlayerDlg::MenuEntry> CPlayerDlg::ContextMenuEntries() const {
  return {
      {kSaveFrameCommand, kCmdSaveFrame},
      {"Set Window to 640x480", kCmdSetWindow640x480},
      {},
      {"Set Start Position", kCmdMarkStart},
      {"Set End Position", kCmdMarkEnd},
      {},
      {kExtractCommand, kCmdExtract},
      {kRemoveCommand, kCmdRemove},
      {kAppendCommand, kCmdAppend},
  };
}

std::vector<CPlayerDlg::MenuEntry> CPlayerDlg::WindowMenuEntries() const {
  return {
      {"About...", kCmdAbout}, {},
      {"&Restore", kCmdRestore}, {"Mi&nimize", kCmdMinimize}, {"Ma&ximize", kCmdMaximize}, {},
      {"&Close", kCmdClose},
  };
}

platform::WindowHandle CPlayerDlg::Handle() const { return target_->Handle(); }
widgets::CPictureBox* CPlayerDlg::Picture() const { return ui_->picture; }
widgets::CProgressEx* CPlayerDlg::PositionBar() const { return ui_->positionBar; }
QLabel* CPlayerDlg::TimeLabel() const { return ui_->timeLabel; }
QLabel* CPlayerDlg::SizeLabel() const { return ui_->sizeLabel; }
QPushButton* CPlayerDlg::PlayButton() const { return ui_->playButton; }
QPushButton* CPlayerDlg::StopButton() const { return ui_->stopButton; }
QPushButton* CPlayerDlg::PreviousButton() const { return ui_->previousButton; }
QPushButton* CPlayerDlg::NextButton() const { return ui_->nextButton; }
QLineEdit* CPlayerDlg::DelayEdit() const { return ui_->delayEdit; }
QPushButton* CPlayerDlg::ApplyButton() const { return ui_->applyButton; }

QString CPlayerDlg::CaptionFor(const std::string& path) {
  std::string name = path;
  while (!name.empty() && name.back() == '/') name.pop_back();
  const size_t slash = name.rfind('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (path.empty()) return kCaption;
  return kCaptionPrefix + QFile::decodeName(QByteArray::fromStdString(name));
}

void CPlayerDlg::Start(const std::string& path) {
  if (!path.empty()) StartFile(path);
  FitPicture();
}

void CPlayerDlg::StartFile(const std::string& path) {
  VideoThreadSetup setup;
  setup.path = path;
  setup.picture = ui_->picture->Handle();
  setup.positionBar = barTarget_->Handle();
  setup.mainWindow = Handle();
  setup.timeLabel = timeTarget_->Handle();
  setup.sizeLabel = sizeTarget_->Handle();
  setup.progressBar = copyDlg_ ? copyDlg_->ProgressHandle() : 0;
  setup.frameDelayMs = DelayValue();
  setup.pictureAnswers = true;
  platform::ThreadHandlePtr thread =
      options_.threadFactory ? options_.threadFactory(std::move(setup)) : CVideoThread::Create(std::move(setup));
  if (!thread) return;
  threadId_ = thread->Id();
  // Clicks on the position bar seek in this thread's file.
  ui_->positionBar->SetSeekTarget([this](int32_t position) { PostToThread<VT_SEEK>(position); });
  platform::MessageThread::Resume(thread);
  setWindowTitle(CaptionFor(path));
}

template <class Tag>
void CPlayerDlg::PostToThread(intptr_t wParam) {
  // A thread that has ended meanwhile loses the message; nothing to tell.
  if (threadId_ != 0) platform::Post<Tag>(threadId_, wParam);
}

void CPlayerDlg::Play() {
  if (threadId_ != 0) {
    PostToThread<VT_PLAY_PAUSE>();
    return;
  }
  const std::string path = ChooseMjpg(false, "");
  if (!path.empty()) StartFile(path);
}

int32_t CPlayerDlg::DelayValue() const {
  // Leading digits, else 0; more digits than a 32-bit number holds give its largest value.
  const std::string text = ui_->delayEdit->text().toStdString();
  size_t pos = 0;
  return int32_t(platform::ascii::ReadDigits(text, pos, INT32_MAX).value_or(0));
}

void CPlayerDlg::ApplyDelay() { PostToThread<VT_SET_DELAY>(DelayValue()); }

void CPlayerDlg::ShowPlaying(bool playing) {
  playing_ = playing;
  if (playing) {
    ui_->playButton->setIcon(MediaIcon(style(), "media-playback-pause", QStyle::SP_MediaPause));
    ui_->playButton->setToolTip("Pause");
  } else {
    ui_->playButton->setIcon(MediaIcon(style(), "media-playback-start", QStyle::SP_MediaPlay));
    ui_->playButton->setToolTip("Play");
  }
  ui_->playButton->setAccessibleName(ui_->playButton->toolTip());
}

void CPlayerDlg::HandleMessage(platform::Message& msg) {
  if (platform::Is<PLAYER_THREAD_CLOSED>(msg)) {
    ThreadClosed();
  } else if (platform::Is<PLAYER_NOTICE>(msg)) {
    ShowNotice(int(msg.wParam), platform::Take<PLAYER_NOTICE>(msg));
  } else if (platform::Is<PLAYER_PLAY_STATE>(msg)) {
    ShowPlaying(msg.wParam == 1);
  } else if (platform::Is<PLAYER_CONTEXT_MENU>(msg)) {
    contextMenu_->popup(ui_->picture->mapToGlobal(UnpackPoint(msg.lParam)));
  } else if (platform::Is<PLAYER_COPYING>(msg)) {
    SetCopying(msg.wParam == 1);
  } else if (platform::Is<PLAYER_CHOOSE_FILES>(msg)) {
    ChooseEditFiles(EditOp(msg.wParam));
  } else if (platform::Is<PLAYER_STOPPED_ALL>(msg)) {
    if (shutdown_.joinable()) shutdown_.join();
    QTimer::singleShot(kEndDelayMs, this, [this] { done(QDialog::Accepted); });
  }
}

void CPlayerDlg::ThreadClosed() {
  threadId_ = 0;
  ui_->positionBar->SetSeekTarget({});
  setWindowTitle(kCaption);
  ShowPlaying(false);
}

void CPlayerDlg::ShowNotice(int code, const std::string& reason) {
  const NoticeText* notice = FindNotice(code);
  if (!notice) return;
  QString text = QString::fromUtf8(notice->text);
  if (!reason.empty()) text += "\n\n" + widgets::DecodePath(reason);
  prompts_->Tell(this, text, QString::fromUtf8(notice->caption),
                 notice->exclamation ? BoxIcon::Exclamation : BoxIcon::Information);
}

std::string CPlayerDlg::ChooseMjpg(bool save, const char* title) {
  FileRequest request;
  request.save = save;
  request.title = QString::fromUtf8(title);
  request.filter = kMjpgFilter;
  if (save) request.defaultSuffix = QString(kMjpgExtension).mid(1);
  return widgets::EncodePath(prompts_->ChooseFile(this, request));
}

void CPlayerDlg::ChooseEditFiles(EditOp op) {
  EditFiles files;
  if (op == EditOp::Append) {
    files.second = ChooseMjpg(false, kAppendDialogTitle);
    if (!files.second.empty()) files.output = ChooseMjpg(true, kSaveOutputTitle);
  } else {
    files.output = ChooseMjpg(true, "");
  }
  if (files.output.empty()) files.second.clear();  // cancelled
  // The thread waits for the answer with the current file open; a cancel lets it go.
  if (threadId_ != 0) platform::Post<VT_FILES_CHOSEN>(threadId_, intptr_t(op), 0, std::move(files));
}

void CPlayerDlg::SaveCurrentFrame() {
  if (ui_->picture->LastJpeg().empty()) return;
  // The frame on view now is saved, whatever frames arrive while the dialog is open.
  const std::vector<uint8_t> frame = ui_->picture->LastJpeg();
  FileRequest request;
  request.save = true;
  request.filter = kStillFilter;
  request.suggestedName = kStillSuggestedName;
  const QString chosen = prompts_->ChooseFile(this, request);
  if (chosen.isEmpty()) return;
  std::string reason;
  const StillSave saved = SaveStill(frame, StillExportPath(widgets::EncodePath(chosen)), &reason);
  if (saved == StillSave::Saved) return;
  const QString text = QString(kStillSaveFailed) + "\n\n" + widgets::DecodePath(reason);
  prompts_->Tell(this, text, saved == StillSave::CreateFailed ? kStillCreateFailedCaption : kStillWriteFailedCaption,
                 BoxIcon::Error);
}

void CPlayerDlg::SetCopying(bool copying) {
  if (!copyDlg_) return;  // gone with the close request
  if (copying) {
    // The window takes no input during the copy; the progress dialog (a window of
    // its own, disabled with its owner) stays usable.
    setEnabled(false);
    copyDlg_->setEnabled(true);
    copyDlg_->move(frameGeometry().center() - copyDlg_->rect().center());
    copyDlg_->show();
    copyDlg_->raise();
    copyDlg_->activateWindow();
  } else {
    copyDlg_->hide();
    setEnabled(true);
  }
}

void CPlayerDlg::RunCommand(int id) {
  switch (id) {
    case kCmdSetWindow640x480: FitPicture(); break;
    case kCmdSaveFrame: SaveCurrentFrame(); break;
    case kCmdMarkStart: PostToThread<VT_MARK_START>(); break;
    case kCmdMarkEnd: PostToThread<VT_MARK_END>(); break;
    case kCmdExtract: PostToThread<VT_EXTRACT>(); break;
    case kCmdRemove: PostToThread<VT_REMOVE>(); break;
    case kCmdAppend: PostToThread<VT_APPEND>(); break;
    case kCmdAbout: ShowAbout(); break;
    case kCmdRestore: RestoreFirstSize(); break;
    case kCmdMinimize: showMinimized(); break;
    case kCmdMaximize: widgets::GrowAboutCentre(this, kGrowWidth, kGrowHeight); break;
    case kCmdClose: RequestClose(); break;
    default: break;
  }
}

void CPlayerDlg::ShowAbout() {
  QDialog* about = CreateAboutBox(this);
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->open();
}

void CPlayerDlg::CentreOnScreen() {
  QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (s) move(s->availableGeometry().center() - rect().center());
}

void CPlayerDlg::FitPicture() {
  // Lays the controls out for the present size now, also while the window is hidden.
  ui_->mainLayout->setGeometry(rect());
  const QSize target = size() - ui_->picture->size() + QSize(kFitWidth, kFitHeight);
  // Resized in place: hiding a dialog that runs its own loop would end that loop,
  // and with it the program.
  resize(target);
  CentreOnScreen();
  if (isVisible()) {
    raise();
    activateWindow();
  }
  ui_->mainLayout->setGeometry(rect());
}

void CPlayerDlg::RestoreFirstSize() {
  if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)) setWindowState(Qt::WindowNoState);
  resize(firstSize_);
  CentreOnScreen();
}

void CPlayerDlg::RequestClose() {
  if (closing_) return;
  closing_ = true;
  delete copyDlg_;
  copyDlg_ = nullptr;
  const platform::WindowHandle self = Handle();
  // Stop-all waits for every playback thread to end; the window stays responsive meanwhile.
  shutdown_ = std::thread([self] {
    CThreadRegistry::Instance().StopAll();
    platform::Post<PLAYER_STOPPED_ALL>(self);
  });
}

void CPlayerDlg::reject() { RequestClose(); }

void CPlayerDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  RequestClose();
}

void CPlayerDlg::keyPressEvent(QKeyEvent* event) {
  // Enter applies a delay being typed and never ends the program.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (ui_->delayEdit->hasFocus()) ApplyDelay();
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_F1) {
    ShowAbout();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CPlayerDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  // A maximise request grows the window by 160 x 120 about its centre instead.
  widgets::GrowInsteadOfMaximise(this, event, kGrowWidth, kGrowHeight);
}

void CPlayerDlg::contextMenuEvent(QContextMenuEvent* event) {
  // The picture has the player's own menu; beside it, the window menu.
  if (ui_->picture->geometry().contains(event->pos()) || !isEnabled()) return;
  windowMenu_->popup(event->globalPos());
}

}  // namespace player::ui
