#include "converter/ui/converter_dlg.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSessionManager>
#include <QStandardItemModel>
#include <QTimer>
#include <algorithm>
#include <ui_converter_dlg.h>
#include <utility>

#include "converter/conversion.h"
#include "converter/conversion_thread.h"
#include "converter/messages.h"
#include "converter/ui/about_box.h"
#include "platform/qt/qt_window.h"
#include "widgets/dialog_units.h"
#include "widgets/file_paths.h"
#include "widgets/progress_ex.h"
#include "widgets/prompts.h"

namespace converter::ui {

using widgets::BoxIcon;
using widgets::FileRequest;
using widgets::StandardPrompts;

namespace {

namespace window = to_converter_window;


BoxIcon IconOf(ResultIcon icon) {
  switch (icon) {
    case ResultIcon::Information: return BoxIcon::Information;
    case ResultIcon::Exclamation: return BoxIcon::Exclamation;
    case ResultIcon::Error: return BoxIcon::Error;
  }
  return BoxIcon::Error;
}

}  // namespace

CConverterDlg::CConverterDlg(Prompts* prompts)
    : prompts_(prompts ? prompts : &StandardPrompts()), ui_(std::make_unique<Ui::ConverterDlg>()) {
  ui_->setupUi(this);
  // A fixed-size window with a minimise box.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(ConverterIcon());
  target_ = new platform::QtWindowTarget(this, [this](platform::Message& msg) { HandleMessage(msg); });

  // Linux window managers offer no window menu of the program's own to extend,
  // so the About box sits in a small Help menu.
  menuBar_ = new QMenuBar(this);
  helpMenu_ = menuBar_->addMenu("&Help");
  aboutAction_ = helpMenu_->addAction("About...");
  aboutAction_->setShortcut(QKeySequence(Qt::Key_F1));
  connect(aboutAction_, &QAction::triggered, this, [this] { ShowAbout(); });
  ui_->mainLayout->setMenuBar(menuBar_);

  // Every type is listed; one this system has no encoder for is shown disabled, with
  // the reason as its tooltip.
  auto* typeModel = qobject_cast<QStandardItemModel*>(ui_->typeList->model());
  int firstWritable = -1;
  for (size_t i = 0; i < VideoTypes().size(); ++i) {
    ui_->typeList->addItem(QString::fromUtf8(VideoTypes()[i].text));
    const std::string why = WhyTypeCannotBeWritten(int(i));
    if (why.empty()) {
      if (firstWritable < 0) firstWritable = int(i);
      continue;
    }
    ui_->typeList->setItemData(int(i), QString::fromUtf8(why), Qt::ToolTipRole);
    if (QStandardItem* item = typeModel ? typeModel->item(int(i)) : nullptr) item->setEnabled(false);
  }
  ui_->typeList->setCurrentIndex(std::max(firstWritable, 0));
  ui_->fpsEdit->setText(kDefaultFrameRate);
  ui_->fpsEdit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), ui_->fpsEdit));
  ui_->progressBar->SetRange(0, kFractionRange);
  ui_->progressBar->SetPos(0);

  connect(ui_->inputEdit, &QLineEdit::textChanged, this, [this] { DeriveOutput(); });
  connect(ui_->typeList, &QComboBox::currentIndexChanged, this, [this] { DeriveOutput(); });
  connect(ui_->browseButton, &QPushButton::clicked, this, [this] { BrowseInput(); });
  connect(ui_->convertButton, &QPushButton::clicked, this, [this] { StartConversion(); });
  connect(ui_->cancelButton, &QPushButton::clicked, this, [this] { CancelConversion(); });
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    // Consent is given by not cancelling the request.
    connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { SessionEnding(); });
  }
  SetupControls();
}

CConverterDlg::~CConverterDlg() {
  target_->Unregister();
  if (thread_) {
    platform::Post<to_conversion::ConvertClose>(thread_->Id());
    thread_->Wait(-1);
  }
}

void CConverterDlg::SetupControls() {
  const widgets::DialogUnits du(font());
  ui_->mainLayout->setContentsMargins(du.X(7), du.Y(4), du.X(7), du.Y(7));
  ui_->mainLayout->setSpacing(du.Y(4));
  const QFontMetrics fm(font());

  // The edits begin at one place in both groups: the labels share a column width.
  int labelWidth = 0;
  for (QLabel* label : {ui_->inputLabel, ui_->outputLabel, ui_->typeLabel, ui_->fpsLabel})
    labelWidth = std::max(labelWidth, label->sizeHint().width());
  ui_->inputGrid->setColumnMinimumWidth(0, labelWidth);
  ui_->outputGrid->setColumnMinimumWidth(0, labelWidth);
  ui_->inputGrid->setColumnStretch(1, 1);
  ui_->outputGrid->setColumnStretch(1, 1);

  ui_->inputEdit->setMinimumWidth(du.X(167));
  ui_->outputEdit->setMinimumWidth(du.X(167));
  const int browseWidth = std::max(du.X(20), fm.horizontalAdvance("...") + du.X(8));
  ui_->browseButton->setFixedWidth(browseWidth);
  // The output edit ends where the input edit does.
  ui_->outputGrid->setColumnMinimumWidth(2, browseWidth);
  ui_->outputGrid->setHorizontalSpacing(ui_->inputGrid->horizontalSpacing());
  ui_->typeList->setMinimumWidth(du.X(92));
  ui_->fpsEdit->setFixedWidth(std::max(du.X(40), fm.horizontalAdvance("00000") + du.X(6)));
  for (QPushButton* button : {ui_->convertButton, ui_->cancelButton})
    button->setMinimumSize(std::max(du.X(50), button->sizeHint().width()), du.Y(14));
  ui_->progressBar->setFixedHeight(std::max(du.Y(12), fm.height() + 4));

  // Fixed size: the template's, or more where the font needs it, so no text is cut off.
  ui_->mainLayout->activate();
  const QSize least = ui_->mainLayout->minimumSize();
  const int width = std::max(du.X(320), least.width());
  const int height = std::max({du.Y(169) + menuBar_->sizeHint().height(), least.height(),
                               ui_->mainLayout->hasHeightForWidth() ? ui_->mainLayout->totalHeightForWidth(width) : 0});
  setFixedSize(width, height);
}

platform::WindowHandle CConverterDlg::Handle() const { return target_->Handle(); }
QLineEdit* CConverterDlg::InputEdit() const { return ui_->inputEdit; }
QPushButton* CConverterDlg::BrowseButton() const { return ui_->browseButton; }
QLineEdit* CConverterDlg::OutputEdit() const { return ui_->outputEdit; }
QComboBox* CConverterDlg::TypeList() const { return ui_->typeList; }
QLineEdit* CConverterDlg::FpsEdit() const { return ui_->fpsEdit; }
QLabel* CConverterDlg::Note() const { return ui_->noteLabel; }
QPushButton* CConverterDlg::ConvertButton() const { return ui_->convertButton; }
QPushButton* CConverterDlg::CancelButton() const { return ui_->cancelButton; }
widgets::CProgressEx* CConverterDlg::ProgressBar() const { return ui_->progressBar; }

// A path typed into the output edit gives way whenever the input or the type changes.
void CConverterDlg::DeriveOutput() {
  const auto output = DeriveOutputPath(widgets::EncodePath(ui_->inputEdit->text()), ui_->typeList->currentIndex());
  if (output) ui_->outputEdit->setText(widgets::DecodePath(*output));
}

void CConverterDlg::BrowseInput() {
  FileRequest request;
  request.title = kBrowseTitle;
  request.filter = kBrowseFilter;
  const QString input = ui_->inputEdit->text();
  if (!input.isEmpty()) request.directory = QFileInfo(input).absolutePath();
  const QString chosen = prompts_->ChooseFile(this, request);
  if (!chosen.isEmpty()) ui_->inputEdit->setText(chosen);
}

void CConverterDlg::EnableInputs(bool enable) {
  for (QWidget* w : std::initializer_list<QWidget*>{ui_->inputEdit, ui_->outputEdit, ui_->fpsEdit, ui_->typeList,
                                                    ui_->convertButton, ui_->browseButton})
    w->setEnabled(enable);
  ui_->cancelButton->setEnabled(!enable);
}

void CConverterDlg::StartConversion() {
  if (converting_ || ending_) return;
  ConversionRequest request;
  request.inputPath = widgets::EncodePath(ui_->inputEdit->text());
  request.outputPath = widgets::EncodePath(ui_->outputEdit->text());
  request.videoType = ui_->typeList->currentIndex();
  request.frameRateText = ui_->fpsEdit->text().toStdString();
  request.window = Handle();
  // Converting would begin by deleting the output, here the recording itself.
  if (IsSameFile(request.inputPath, request.outputPath)) {
    ShowResult(kResultSameFile);
    return;
  }
  EnableInputs(false);
  converting_ = true;
  result_ = -1;
  ui_->progressBar->SetRange(0, kFractionRange);
  thread_ = CConversionThread::Start(std::move(request));
  if (!thread_) {
    converting_ = false;
    EnableInputs(true);
  }
}

void CConverterDlg::CancelConversion() {
  if (thread_) platform::Post<to_conversion::ConvertCancel>(thread_->Id());
}

void CConverterDlg::HandleMessage(platform::Message& msg) {
  if (platform::Is<window::ConvertProgress>(msg)) {
    ui_->progressBar->SetPos(int32_t(msg.wParam));
  } else if (platform::Is<window::ConvertResult>(msg)) {
    result_ = int(msg.wParam);
    resultDetail_ = platform::Take<window::ConvertResult>(msg);
  } else if (platform::Is<window::ConvertEnded>(msg)) {
    ConversionEnded(msg.wParam == 1);
  }
}

// The output is finished by now; the thread is only leaving its loop.
void CConverterDlg::ConversionEnded(bool endProgram) {
  if (thread_) thread_->Wait(-1);
  thread_.reset();
  converting_ = false;
  if (endProgram || closing_) {
    EndProgramSoon();
    return;
  }
  EnableInputs(true);
  // Shown once the window is idle again, so no message of the thread waits behind the box.
  ShowResult(std::exchange(result_, -1), std::exchange(resultDetail_, {}));
}

void CConverterDlg::ShowResult(int code, const std::string& detail) {
  const ResultMessage* message = FindResultMessage(code);
  if (!message) return;
  prompts_->Tell(this, QString::fromUtf8(ResultText(code, detail)), QString::fromUtf8(message->caption),
                 IconOf(message->icon));
}

void CConverterDlg::ShowAbout() {
  QDialog* about = CreateAboutBox(this);
  about->setAttribute(Qt::WA_DeleteOnClose);
  about->open();
}

// The end asked for during a conversion: the thread finishes the output after its
// current frame, and its end ends the program.
void CConverterDlg::RequestEnd() {
  closing_ = true;
  if (thread_) platform::Post<to_conversion::ConvertClose>(thread_->Id());
}

void CConverterDlg::EndProgramSoon() {
  if (ending_) return;
  ending_ = true;
  QTimer::singleShot(kEndDelayMs, this, [this] { QDialog::done(QDialog::Rejected); });
}

void CConverterDlg::SessionEnding() {
  if (converting_) RequestEnd();
  else EndProgramSoon();
}

void CConverterDlg::reject() {
  if (converting_) return RequestEnd();
  QDialog::reject();
}

void CConverterDlg::accept() {
  if (converting_) return RequestEnd();
  QDialog::accept();
}

}  // namespace converter::ui
