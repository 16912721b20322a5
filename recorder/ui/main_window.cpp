#include "recorder/ui/main_window.h"

#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QStringList>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#include "platform/qt/qt_window.h"
#include "recorder/camera/camera_record.h"
#include "recorder/camera/events.h"
#include "recorder/camera/field_table.h"
#include "recorder/camera/messages.h"
#include "recorder/net/soc_thread.h"
#include "recorder/ui/about_box.h"
#include "recorder/ui/cam_options_dlg.h"
#include "recorder/ui/device_properties_dlg.h"
#include "recorder/ui/log_view.h"
#include "recorder/ui/open_dialogs.h"
#include "recorder/ui/program_icon.h"
#include "recorder/ui/prog_options.h"
#include "recorder/ui/tray_icon.h"
#include "recorder/ui/video_dlg.h"
#include "recorder/ui/window_placement.h"
#include "widgets/list_ctrl_ex.h"
#include "widgets/picture_box.h"

namespace recorder::ui {

namespace {

constexpr int kStatusColumn = 0;
constexpr int kTypeColumn = 1;
constexpr int kSavePathColumn = 2;

QString TypeText(const camera::CameraRecord& record) {
  if (record.cameraType != 0) return "Local";
  return camera::IsRtspUrl(camera::GetText(record.url)) ? "RTSP" : "IP";
}

bool DefaultConfirmDelete(QWidget* parent) {
  return QMessageBox::question(parent, "Are you sure?",
                               "Are you sure you want to delete the selected cameras in the list?",
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void DefaultError(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox::critical(parent, caption, text);
}

CutAnswer DefaultConfirmCut(QWidget* parent, const QString& file, int64_t frames) {
  const std::unique_ptr<QMessageBox> box = CreateCutQuestion(parent, file, frames);
  box->exec();
  switch (box->buttonRole(box->clickedButton())) {
    case QMessageBox::DestructiveRole: return CutAnswer::StartAnew;
    case QMessageBox::AcceptRole: return CutAnswer::Resume;
    default: return CutAnswer::Cancel;
  }
}

// The Status column: a camera that stopped by a failure keeps saying which.
QString StatusShown(const app::CameraRow& row) {
  QString text = QString::fromStdString(row.status);
  if (row.workerId == 0 && !row.failure.empty() && row.status == camera::kStatusStoppedText)
    text += " (" + QString::fromStdString(row.failure) + ")";
  return text;
}

}  // namespace

std::unique_ptr<QMessageBox> CreateCutQuestion(QWidget* parent, const QString& file, int64_t frames) {
  auto box = std::make_unique<QMessageBox>(
      QMessageBox::Warning, "Start Anew?",
      QString("The recording file\n%1\nholds %2 frames. Starting anew empties it.").arg(file).arg(frames),
      QMessageBox::NoButton, parent);
  box->addButton("Start Anew", QMessageBox::DestructiveRole);
  box->setDefaultButton(box->addButton("Resume (Append)", QMessageBox::AcceptRole));
  box->addButton(QMessageBox::Cancel);
  return box;
}

SnapshotStarter CMainWindow::Starter() {
  return [this](std::unique_ptr<camera::CameraRecord> copy, platform::WindowHandle target,
                platform::WindowHandle propertiesOwner) {
    return controller_->StartSnapshotWorker(std::move(copy), target, propertiesOwner);
  };
}

CMainWindow::CMainWindow(MainWindowOptions options) : options_(std::move(options)) {
  if (!options_.prompts.confirmDelete) options_.prompts.confirmDelete = DefaultConfirmDelete;
  if (!options_.prompts.error) options_.prompts.error = DefaultError;
  if (!options_.prompts.confirmCut) options_.prompts.confirmCut = DefaultConfirmCut;

  setWindowTitle("Tollan");
  setWindowIcon(ProgramIcon());
  setMinimumSize(300, 150);
  resize(480, 320);

  target_ = std::make_unique<platform::QtWindowTarget>(this, [this](platform::Message& msg) { OnMessage(msg); });
  controller_ = std::make_unique<app::CameraController>(
      options_.settingsPath, target_->Handle(),
      options_.workerFactory ? options_.workerFactory : app::DefaultWorkerFactory());
  controller_->AddObserver([this](const app::RowEvent& event) { OnRowEvent(event); });

  // Linux window managers have no window menu of the program's own to extend, so
  // the about box sits in a small Help menu.
  menuBar_ = new QMenuBar(this);
  QMenu* help = menuBar_->addMenu("&Help");
  QAction* about = help->addAction("About...");
  about->setShortcut(QKeySequence(Qt::Key_F1));
  connect(about, &QAction::triggered, this, [this] { ShowAbout(); });

  list_ = new widgets::CListCtrlEx(this);
  list_->SetMultiSelect(true);
  list_->InsertColumn(kStatusColumn, "Status", 105);
  list_->InsertColumn(kTypeColumn, "Type", 50);
  // A stretched last column never shrinks below its width when stretching began.
  list_->InsertColumn(kSavePathColumn, "Save To", 40);
  // Status and Type fit their texts (FitColumns); Save To fills the rest.
  list_->header()->setStretchLastSection(true);
  list_->tipFor = [this](int row, int column) {
    if (column != kStatusColumn || row < 0 || size_t(row) >= controller_->CameraCount()) return QString();
    const app::CameraRow& camera = controller_->Row(size_t(row));
    if (camera.workerId != 0 || camera.failure.empty()) return QString();
    // Why it stopped, in the log's words when they have arrived.
    QStringList lines;
    for (const std::string& line : camera.workerLines) lines << QString::fromStdString(line);
    return lines.isEmpty() ? QString::fromStdString(camera.failure) : lines.join('\n');
  };
  list_->onContextMenu = [this](const QPoint& pos) { ShowContextMenu(pos); };
  list_->onDoubleClicked = [this](int row) { ActivateRow(row); };
  // Posted, so the deletion runs after the key event is done with.
  list_->onDeleteKey = [this] { platform::Post<camera::to_main_window::DeleteSelected>(Handle()); };
  list_->onSorted = [this] { OnListSorted(); };

  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menuBar_);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->addWidget(list_);

  PlaceOnFirstShow(this);
  resumeTimer_.setSingleShot(true);
  // A coarse timer may run up to 5 % late; the resume is due half a minute after start.
  resumeTimer_.setTimerType(Qt::PreciseTimer);
  connect(&resumeTimer_, &QTimer::timeout, this, [this] { RunCommand(kCmdResumeAll); });
}

CMainWindow::~CMainWindow() {
  if (!shutDown_) ShutdownNow();
  target_->Unregister();
}

platform::WindowHandle CMainWindow::Handle() const { return target_->Handle(); }

void CMainWindow::Start() {
  controller_->LoadSettings();
  for (size_t i = 0; i < controller_->CameraCount(); ++i) {
    list_->InsertItem(int(i), QString());
    if (!CreateLiveView(i)) {
      // Without its view the camera cannot be shown; it is left out of the list
      // (and of the next save), as the user is told.
      options_.prompts.error(this, "Failed to create video dialog", "Error");
    }
    FillRow(int(i));
  }
  FitColumns();
  serving_ = std::make_unique<app::LiveServing>(*controller_);
  const std::string serving = serving_->Apply();
  if (!serving.empty()) std::fprintf(stderr, "%s\n", serving.c_str());

  logView_ = std::make_unique<CLogView>(this);
  controller_->StartLogThread(options_.logFilePath, {}, logView_->Handle());
  logView_->SetLogThread(controller_->logThreadId());

  tray_ = std::make_unique<CTrayIcon>();
  tray_->Create(ProgramIcon(), "Tollan", [this] { Restore(); }, [this] { Exit(); });

  if (options_.hiddenStart) {
    showAllowed_ = false;
    resumeTimer_.start(options_.hiddenResumeMs);
    // Where the desktop has no tray a hidden window could never come back.
    if (!CTrayIcon::Available()) showMinimized();
  } else {
    show();
  }
}

CVideoDlg* CMainWindow::CreateLiveView(size_t row) {
  auto view = std::make_unique<CVideoDlg>(this);
  CVideoDlg* raw = view.get();
  const platform::WindowHandle handle = raw->Handle();
  if (handle == 0) return nullptr;
  raw->SetGridTarget(Handle());
  liveViews_[handle] = std::move(view);
  controller_->SetLiveView(row, handle, [this, handle] { liveViews_.erase(handle); });
  ApplyLiveViewSettings(row);
  return raw;
}

void CMainWindow::ApplyLiveViewSettings(size_t row) {
  CVideoDlg* view = LiveViewOf(row);
  if (!view) return;
  const camera::CameraRecord& record = *controller_->Row(row).record;
  view->setWindowTitle(QString::fromStdString(camera::LiveViewTitle(record)));
  if (record.motionGrid.size() >= camera::kGridBytes) view->SetGrid(record.motionGrid);
}

CVideoDlg* CMainWindow::LiveViewOf(size_t row) const {
  if (row >= controller_->CameraCount()) return nullptr;
  auto it = liveViews_.find(controller_->Row(row).liveViewWindow);
  return it == liveViews_.end() ? nullptr : it->second.get();
}

void CMainWindow::FillRow(int row) {
  if (row < 0 || size_t(row) >= controller_->CameraCount()) return;
  const app::CameraRow& camera = controller_->Row(size_t(row));
  list_->SetItemText(row, kStatusColumn, StatusShown(camera));
  list_->SetItemText(row, kTypeColumn, TypeText(*camera.record));
  list_->SetItemText(row, kSavePathColumn, QString::fromStdString(camera::GetText(camera.record->savePath)));
  list_->SetItemData(row, uintptr_t(camera.liveViewWindow));
  list_->SetItemToolTip(row, QString::fromStdString(camera.record->name));
}

void CMainWindow::FitColumns() {
  // Never narrower than the starting widths, so the columns do not jump with
  // every status text; wider when a text needs it.
  const std::pair<int, int> columns[] = {{kStatusColumn, 105}, {kTypeColumn, 50}};
  for (const auto& [column, least] : columns) {
    list_->resizeColumnToContents(column);
    list_->SetColumnWidth(column, std::max(least, list_->ColumnWidth(column)));
  }
}

void CMainWindow::OnRowEvent(const app::RowEvent& event) {
  const int row = int(event.row);
  switch (event.kind) {
    case app::RowEvent::Kind::Inserted:
      list_->InsertItem(row, QString());
      FillRow(row);
      break;
    case app::RowEvent::Kind::Removed:
      list_->DeleteItem(row);
      break;
    case app::RowEvent::Kind::Changed:
      FillRow(row);
      if (event.changes & (app::kRowSavePath | app::kRowSettings)) ApplyLiveViewSettings(event.row);
      break;
  }
  FitColumns();
}

void CMainWindow::OnMessage(platform::Message& msg) {
  if (platform::Is<camera::to_main_window::DeleteSelected>(msg)) {
    DeleteSelected();
    return;
  }
  controller_->HandleMessage(msg);
}

std::vector<size_t> CMainWindow::SelectedRows() const {
  std::vector<size_t> rows;
  for (int row : list_->SelectedRows()) rows.push_back(size_t(row));
  return rows;
}

std::vector<std::pair<QString, int>> CMainWindow::MenuEntries() const {
  std::vector<std::pair<QString, int>> entries = {
      {"Program Options", kCmdProgramOptions}, {"View Program Log", kCmdViewLog}, {"", 0},
      {"Add New IP Camera", kCmdAddIpCamera},  {"Add New Local Camera", kCmdAddLocalCamera},
  };
  if (list_->SelectionMark() != -1) {
    const std::vector<std::pair<QString, int>> more = {
        {"", 0},
        {"View Selected Camera", kCmdViewSelected},
        {"Edit Selected Camera", kCmdEditSelected},
        {"Delete Selected Cameras", kCmdDeleteSelected},
        {"", 0},
        {"Resume Selected Cameras", kCmdResumeSelected},
        {"Start Selected Cameras", kCmdStartSelected},
        {"Stop Selected Cameras", kCmdStopSelected},
        {"", 0},
        {"Resume All Cameras", kCmdResumeAll},
        {"Start All Cameras", kCmdStartAll},
        {"Stop All Cameras", kCmdStopAll},
    };
    entries.insert(entries.end(), more.begin(), more.end());
  }
  return entries;
}

void CMainWindow::ShowContextMenu(const QPoint& globalPos) {
  const int mark = list_->SelectionMark();
  QPoint at = globalPos;
  // Below the last row the click picked nothing: the menu opens where it was.
  const bool onRow = list_->indexAt(list_->viewport()->mapFromGlobal(globalPos)).isValid();
  if (mark != -1 && onRow) {
    // The menu opens under the marked row, which becomes selected and focused.
    list_->SelectRow(mark);
    const QRect rowRect = list_->visualRect(list_->model()->index(mark, 0));
    at = QPoint(globalPos.x(), list_->viewport()->mapToGlobal(rowRect.topLeft()).y() + 15);
  }
  QMenu menu(this);
  for (const auto& [text, id] : MenuEntries()) {
    if (id == 0) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(text);
    action->setData(id);
  }
  if (QAction* chosen = menu.exec(at)) RunCommand(chosen->data().toInt());
}

void CMainWindow::RunCommand(int command) {
  if (shuttingDown_) return;
  const int mark = list_->SelectionMark();
  switch (command) {
    case kCmdProgramOptions: ShowProgramOptions(); break;
    case kCmdViewLog: platform::Post<camera::to_log::LogShow>(controller_->logThreadId()); break;
    case kCmdAddIpCamera: AddCamera(camera::kCameraIp); break;
    case kCmdAddLocalCamera: AddCamera(camera::kCameraLocal); break;
    case kCmdViewSelected:
      if (mark != -1) {
        if (CVideoDlg* view = LiveViewOf(size_t(mark))) view->ShowView();
      }
      break;
    case kCmdEditSelected: EditSelected(); break;
    case kCmdDeleteSelected: DeleteSelected(); break;
    case kCmdResumeSelected: controller_->StartSelected(SelectedRows(), true); break;
    case kCmdStartSelected: {
      // From the last selected row to the first.
      std::vector<size_t> rows = SelectedRows();
      std::reverse(rows.begin(), rows.end());
      StartAnew(rows);
      break;
    }
    case kCmdStopSelected: controller_->StopSelected(SelectedRows()); break;
    case kCmdResumeAll: controller_->StartAll(true); break;
    case kCmdStartAll: {
      std::vector<size_t> rows(controller_->CameraCount());
      for (size_t i = 0; i < rows.size(); ++i) rows[i] = i;
      StartAnew(rows);
      break;
    }
    case kCmdStopAll: controller_->StopAll(); break;
    case kCmdAbout: ShowAbout(); break;
    default: break;
  }
}

void CMainWindow::StartAnew(const std::vector<size_t>& rows) {
  // Rows are found again by their live view after each question: while a question
  // is open, status messages and the Delete key may change the list.
  std::vector<platform::WindowHandle> views;
  for (size_t row : rows)
    if (row < controller_->CameraCount()) views.push_back(controller_->Row(row).liveViewWindow);
  for (platform::WindowHandle view : views) {
    if (shuttingDown_) return;
    size_t row = 0;
    while (row < controller_->CameraCount() && controller_->Row(row).liveViewWindow != view) ++row;
    if (row == controller_->CameraCount() || controller_->Row(row).workerId != 0) continue;
    bool resume = false;
    const app::CameraController::RecordingOnDisk existing = controller_->ExistingRecording(row);
    if (existing.frames > 0) {
      const CutAnswer answer =
          options_.prompts.confirmCut(this, QString::fromStdString(existing.file), existing.frames);
      if (answer == CutAnswer::Cancel || shuttingDown_) continue;
      resume = answer == CutAnswer::Resume;
      // The answer took a while: look the row up again.
      row = 0;
      while (row < controller_->CameraCount() && controller_->Row(row).liveViewWindow != view) ++row;
      if (row == controller_->CameraCount()) continue;
    }
    controller_->StartCamera(row, resume);
  }
}

void CMainWindow::ActivateRow(int row) {
  if (row < 0 || size_t(row) >= controller_->CameraCount()) return;
  const bool running = controller_->Row(size_t(row)).workerId != 0;
  CVideoDlg* view = LiveViewOf(size_t(row));
  if (running && view && !view->isVisible()) {
    view->show();
  } else if (running && view && view->isMinimized()) {
    view->showNormal();
  } else {
    list_->SetSelectionMark(row);
    EditSelected();
  }
}

void CMainWindow::AddCamera(int32_t cameraType, std::unique_ptr<camera::CameraRecord> ready) {
  std::unique_ptr<camera::CameraRecord> record = std::move(ready);
  if (!record) {
    const auto fresh = controller_->NewCameraRecord(cameraType);
    CCamOptionsDlg dialog(*fresh, false, 0, Starter(), this);
    if (dialog.exec() != QDialog::Accepted || shuttingDown_) return;
    record = dialog.TakeRecord();
  }
  controller_->AddCamera(std::move(record));
  if (!CreateLiveView(0)) {
    options_.prompts.error(this, "Failed to create video dialog", "Error");
    controller_->DeleteCameras({0});
    return;
  }
  FillRow(0);
}

void CMainWindow::EditSelected() {
  const int mark = list_->SelectionMark();
  if (mark < 0 || size_t(mark) >= controller_->CameraCount()) return;
  const app::CameraRow& row = controller_->Row(size_t(mark));
  // The row may move or go while the dialog is open (a sort, a delete key); it is
  // found again by its live view afterwards.
  const platform::WindowHandle view = row.liveViewWindow;
  CCamOptionsDlg dialog(*row.record, true, row.workerId, Starter(), this);
  if (dialog.exec() != QDialog::Accepted || shuttingDown_) return;
  for (size_t i = 0; i < controller_->CameraCount(); ++i) {
    if (controller_->Row(i).liveViewWindow == view) {
      controller_->EditCamera(i, dialog.TakeRecord());
      return;
    }
  }
}

void CMainWindow::DeleteSelected() {
  if (list_->SelectionMark() == -1) return;
  std::vector<size_t> rows = SelectedRows();
  if (rows.empty()) return;
  if (!options_.prompts.confirmDelete(this)) return;
  controller_->DeleteCameras(std::move(rows));
}

void CMainWindow::ShowProgramOptions() {
  CProgOptions dialog(this, controller_->logToFile(), options_.autostartEntryPath, options_.programPath);
  dialog.SetUnattended(controller_->programSettings());
  dialog.SetServeSettings(web::ReadServeSettings(controller_->programRecords()));
  if (dialog.exec() != QDialog::Accepted || shuttingDown_) return;
  controller_->SetProgramSettings(dialog.unattended());
  controller_->SetProgramOptions(dialog.logToFile());
  camera::ProgramRecords program = controller_->programRecords();
  web::WriteServeSettings(dialog.serveSettings(), program);
  if (program == controller_->programRecords()) return;
  controller_->SetProgramRecords(std::move(program));
  const std::string serving = serving_ ? serving_->Apply() : std::string();
  if (serving.rfind("Not serving", 0) == 0)
    options_.prompts.error(this, QString::fromStdString(serving), "Program Options");
}

void CMainWindow::ShowAbout() {
  std::unique_ptr<QDialog> box(CreateAboutBox(this));
  box->exec();
}

void CMainWindow::OnListSorted() {
  // The settings file keeps the cameras in the order the list shows them.
  std::vector<size_t> order;
  for (int i = 0; i < list_->ItemCount(); ++i) {
    const auto handle = platform::WindowHandle(list_->ItemData(i));
    for (size_t j = 0; j < controller_->CameraCount(); ++j)
      if (controller_->Row(j).liveViewWindow == handle) order.push_back(j);
  }
  controller_->ReorderRows(order);
}

void CMainWindow::Restore() {
  resumeTimer_.stop();
  showAllowed_ = true;
  CTrayIcon::RestoreFromTray(this);
}

void CMainWindow::Exit() {
  if (shuttingDown_) return;
  shuttingDown_ = true;
  resumeTimer_.stop();
  if (tray_) tray_->Remove();
  hide();
  for (auto& [handle, view] : liveViews_) view->hide();
  if (logView_) logView_->hide();
  // A device's properties window is closed first, and given a second to end its
  // modal loop and let its worker go on, before the dialogs under it are cancelled.
  if (QDialog* properties = OpenDevicePropertiesWindow()) {
    QMetaObject::invokeMethod(properties, &QDialog::reject, Qt::QueuedConnection);
    QTimer::singleShot(kPropertiesCloseMs, this, [this] { FinishExit(); });
    return;
  }
  FinishExit();
}

void CMainWindow::FinishExit() {
  OpenDialogs::CancelAll();
  if (serving_) serving_->Stop();
  controller_->onShutdownComplete = [this] {
    shutDown_ = true;
    liveViews_.clear();
    QApplication::quit();
  };
  controller_->Shutdown();
}

void CMainWindow::ShutdownNow() {
  if (shutDown_) return;
  shuttingDown_ = true;
  resumeTimer_.stop();
  if (tray_) tray_->Remove();
  OpenDialogs::CancelAll();
  if (serving_) serving_->Stop();
  if (!controller_->ShuttingDown()) {
    auto plan = controller_->BeginShutdown();
    app::CameraController::RunShutdownWaits(plan);
    controller_->FinishShutdown();
  }
  // An asynchronous shutdown already under way finishes when its message arrives;
  // here it is only waited for when the event loop is gone.
  shutDown_ = true;
  liveViews_.clear();
}

void CMainWindow::closeEvent(QCloseEvent* event) {
  // Closing hides to the tray; only Exit ends the program.
  event->ignore();
  if (!shuttingDown_) CTrayIcon::MinimiseToTray(this);
}

}  // namespace recorder::ui
