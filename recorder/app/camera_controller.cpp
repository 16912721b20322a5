#include "recorder/app/camera_controller.h"

#include <algorithm>

#include "media/mjpg_reader.h"
#include "recorder/camera/events.h"
#include "recorder/camera/field_table.h"
#include "recorder/camera/messages.h"
#include "recorder/camera/settings_file.h"
#include "recorder/capture/thread_dx_cam.h"
#include "recorder/net/rtsp_thread.h"
#include "recorder/net/soc_thread.h"
#include "platform/files.h"
#include "recorder/recording/save_paths.h"

namespace recorder::app {

WorkerFactory DefaultWorkerFactory() {
  return [](worker::WorkerParams params) -> platform::ThreadHandlePtr {
    if (!params.record) return nullptr;
    if (params.record->cameraType != camera::kCameraIp) return capture::CThreadDXCam::Start(std::move(params));
    if (camera::IsRtspUrl(camera::GetText(params.record->url))) return net::RtspCamThread::Start(std::move(params));
    return net::CSocThread::Start(std::move(params));
  };
}

CameraController::CameraController(std::string settingsPath, platform::WindowHandle mainWindow,
                                   WorkerFactory factory)
    : settingsPath_(std::move(settingsPath)), mainWindow_(mainWindow), factory_(std::move(factory)) {}

CameraController::~CameraController() {
  if (shutdownWaiter_.joinable()) shutdownWaiter_.join();
}

void CameraController::LoadSettings() {
  camera::LoadedSettings loaded = camera::LoadSettingsFile(settingsPath_);
  rows_.clear();
  for (auto& record : loaded.cameras) {
    CameraRow row;
    row.record = std::move(record);
    row.status = camera::kStatusStoppedText;
    rows_.push_back(std::move(row));
  }
  logToFile_ = loaded.logToFile;
  program_ = std::move(loaded.program);
  PublishLive();
}

std::unique_ptr<camera::CameraRecord> CameraController::NewCameraRecord(int32_t cameraType) const {
  auto record = camera::CreateDefaultCamera();
  record->cameraType = cameraType;
  std::vector<const camera::CameraRecord*> cameras;
  for (const CameraRow& row : rows_) cameras.push_back(row.record.get());
  camera::SetText(record->savePath, camera::UniqueDefaultSavePath(cameras, 0));
  return record;
}

bool CameraController::ReorderRows(const std::vector<size_t>& order) {
  if (order.size() != rows_.size()) return false;
  std::vector<bool> seen(rows_.size(), false);
  for (size_t from : order) {
    if (from >= rows_.size() || seen[from]) return false;
    seen[from] = true;
  }
  std::vector<CameraRow> reordered;
  reordered.reserve(rows_.size());
  for (size_t from : order) reordered.push_back(std::move(rows_[from]));
  rows_ = std::move(reordered);
  PublishLive();
  SaveSettings();
  return true;
}

bool CameraController::StartLogThread(const std::string& logFilePath, LogEcho echo, platform::WindowHandle view) {
  // Each worker's lines go to the main window too, which keeps them with the row.
  LogEcho both = [echo = std::move(echo), main = mainWindow_](const std::string& line, platform::ThreadId source) {
    if (echo) echo(line, source);
    if (source != 0) platform::Post<camera::to_main_window::WorkerLogLine>(main, intptr_t(source), 0, line);
  };
  auto handle =
      platform::MessageThread::Start(std::make_unique<CLogThread>(logFilePath, logToFile_, std::move(both), view));
  if (!handle) return false;
  logThread_ = handle;
  logThreadId_ = handle->Id();
  return StartUnattendedServices();
}

bool CameraController::StartUnattendedServices(recording::RetentionTiming retention, CommandTiming commands) {
  services_.Stop();
  if (!services_.Start(logThreadId_, std::move(retention), commands)) return false;
  UpdateServices();
  return true;
}

void CameraController::UpdateServices() {
  std::vector<CameraLimits> cameras;
  for (const CameraRow& row : rows_) cameras.push_back(CameraLimits{row.record.get(), row.workerId});
  services_.Update(cameras, camera::ReadProgramSettings(program_));
}

void CameraController::SetProgramSettings(const camera::ProgramSettings& settings) {
  camera::WriteProgramSettings(settings, program_);
  SaveSettings();
}

long CameraController::FindRowByWorker(platform::ThreadId id) const {
  if (id == 0) return -1;
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].workerId == id) return long(i);
  return -1;
}

void CameraController::StartCamera(size_t index, bool resume) {
  if (index >= rows_.size()) return;
  CameraRow& row = rows_[index];
  if (row.workerId != 0 || shuttingDown_) return;
  worker::WorkerParams request;
  request.record = camera::CopyCamera(*row.record);
  request.resume = resume;
  request.logThread = logThreadId_;
  request.mainWindow = mainWindow_;
  request.liveViewWindow = row.liveViewWindow;
  request.offlineAfterSeconds = camera::ReadProgramSettings(program_).offlineAfterSeconds;
  request.live = row.live;
  auto handle = factory_(std::move(request));
  if (!handle) {
    // No worker for this kind of source: the row says so instead of staying silent.
    row.failure = camera::StatusText(camera::kStatusInitFailed);
    SetStatus(index, camera::StatusText(camera::kStatusInitFailed));
    return;
  }
  row.workerId = handle->Id();
  row.worker = handle;
  row.lastWorkerId = row.workerId;
  // A failure stays shown until the camera is started again.
  const bool failureShown = !row.failure.empty();
  row.failure.clear();
  row.workerLines.clear();
  row.stopRequested = false;
  row.retryPending = false;
  if (failureShown) Notify(RowEvent::Kind::Changed, index, kRowStatus);
  UpdateServices();
}

void CameraController::StartSelected(const std::vector<size_t>& rows, bool resume) {
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) StartCamera(*it, resume);
}

void CameraController::StartAll(bool resume) {
  for (size_t i = 0; i < rows_.size(); ++i) StartCamera(i, resume);
}

void CameraController::StopSelected(const std::vector<size_t>& rows) {
  for (size_t index : rows) {
    if (index >= rows_.size()) continue;
    rows_[index].stopRequested = true;
    rows_[index].retryPending = false;
    platform::Post<camera::to_worker::ThreadStop>(rows_[index].workerId, camera::kStopReasonStop);
  }
}

void CameraController::StopAll() {
  for (auto& row : rows_) {
    row.stopRequested = true;
    row.retryPending = false;
    platform::Post<camera::to_worker::ThreadStop>(row.workerId, camera::kStopReasonStop);
  }
}

void CameraController::AddCamera(std::unique_ptr<camera::CameraRecord> record) {
  CameraRow row;
  row.record = std::move(record);
  row.status = camera::kStatusStoppedText;
  rows_.insert(rows_.begin(), std::move(row));
  Notify(RowEvent::Kind::Inserted, 0, kRowAll);
  // A save path that names an existing recording is added to, never cut.
  StartCamera(0, true);
  SaveSettings();
}

CameraController::RecordingOnDisk CameraController::ExistingRecording(size_t index) const {
  RecordingOnDisk found;
  if (index >= rows_.size()) return found;
  const camera::CameraRecord& record = *rows_[index].record;
  if (!record.saveEnabled || !record.saveAsMjpg) return found;
  const std::string file = recording::ExpandSavePath(camera::GetText(record.savePath));
  media::CMjpgReader reader;
  if (!reader.Open(file)) return found;
  found.file = file;
  std::vector<uint8_t> jpeg;
  while (reader.ReadNextFrame(jpeg)) ++found.frames;
  return found;
}

void CameraController::EditCamera(size_t index, std::unique_ptr<camera::CameraRecord> record) {
  if (index >= rows_.size() || !record) return;
  CameraRow& row = rows_[index];
  unsigned changes = kRowSettings;
  if (record->cameraType != row.record->cameraType) changes |= kRowType;
  if (camera::GetText(record->savePath) != camera::GetText(row.record->savePath)) changes |= kRowSavePath;
  row.record = std::move(record);
  // A running worker restarts in append mode with the edited record.
  platform::Post<camera::to_worker::ThreadStop>(row.workerId, camera::kStopReasonRestart);
  Notify(RowEvent::Kind::Changed, index, changes);
  SaveSettings();
}

void CameraController::SetLiveView(size_t index, platform::WindowHandle window, std::function<void()> destroyer) {
  if (index >= rows_.size()) return;
  CameraRow& row = rows_[index];
  row.liveViewWindow = window;
  row.destroyLiveView = std::move(destroyer);
  platform::Post<camera::to_worker::LiveViewChanged>(row.workerId, static_cast<intptr_t>(window));
}

void CameraController::DeleteCameras(std::vector<size_t> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    if (*it >= rows_.size()) continue;
    const platform::ThreadId worker = rows_[*it].workerId;
    ReleaseRow(rows_[*it]);
    rows_.erase(rows_.begin() + long(*it));
    platform::Post<camera::to_worker::ThreadStop>(worker, camera::kStopReasonDiscard);
    Notify(RowEvent::Kind::Removed, *it, kRowAll);
  }
  SaveSettings();
}

platform::ThreadHandlePtr CameraController::StartSnapshotWorker(std::unique_ptr<camera::CameraRecord> copy,
                                                                platform::WindowHandle target,
                                                                platform::WindowHandle propertiesOwner) {
  if (!copy || target == 0 || shuttingDown_) return nullptr;
  worker::WorkerParams request;
  request.record = std::move(copy);
  request.propertiesOwner = propertiesOwner;
  request.logThread = logThreadId_;
  request.mainWindow = mainWindow_;
  request.snapshotTarget = target;
  return factory_(std::move(request));
}

void CameraController::SetProgramOptions(int32_t logToFile) {
  logToFile_ = logToFile ? 1 : 0;
  platform::Post<camera::to_log::LogSetFile>(logThreadId_, logToFile_);
  SaveSettings();
}

bool CameraController::SaveSettings() {
  std::vector<const camera::CameraRecord*> cameras;
  cameras.reserve(rows_.size());
  for (const auto& row : rows_) cameras.push_back(row.record.get());
  UpdateServices();
  return camera::SaveSettingsFile(settingsPath_, cameras, logToFile_, program_);
}

void CameraController::SetProgramRecords(camera::ProgramRecords program) {
  program_ = std::move(program);
  SaveSettings();
}

void CameraController::SetLiveBoard(std::shared_ptr<web::LiveBoard> board) {
  if (liveBoard_ && liveBoard_ != board) liveBoard_->SetCameras({});
  liveBoard_ = std::move(board);
  for (CameraRow& row : rows_) row.live->SetServing(liveBoard_ != nullptr);
  PublishLive();
}

void CameraController::PublishLive() {
  if (!liveBoard_) return;
  std::vector<std::shared_ptr<web::LiveCamera>> cameras;
  cameras.reserve(rows_.size());
  for (const CameraRow& row : rows_) {
    if (!row.record) continue;
    // Viewers know a camera by its name, or else by the folder it saves to.
    std::string title = row.record->name;
    if (title.empty()) {
      title = platform::SaveDirectoryOf(camera::GetText(row.record->savePath));
      if (title.size() > 1 && title.back() == '/') title.pop_back();
    }
    std::string status = row.status;
    if (!row.failure.empty() && row.workerId == 0 && row.failure != row.status) status += " (" + row.failure + ")";
    row.live->SetInfo(std::move(title), std::move(status));
    row.live->SetServing(true);
    cameras.push_back(row.live);
  }
  liveBoard_->SetCameras(std::move(cameras));
}

bool CameraController::HandleMessage(platform::Message& msg) {
  namespace to = camera::to_main_window;
  if (platform::Is<to::CamStatus>(msg)) {
    const long row = FindRowByWorker(platform::ThreadId(msg.wParam));
    const int32_t status = int32_t(msg.lParam);
    const char* text = camera::StatusText(status);
    if (row < 0 || !text) return true;
    if (status == camera::kStatusStarted) rows_[size_t(row)].failure.clear();
    if (status >= camera::kStatusInitFailed) rows_[size_t(row)].failure = text;
    SetStatus(size_t(row), text);
    return true;
  }
  if (platform::Is<to::WorkerLogLine>(msg)) {
    constexpr size_t kKeptLines = 4;
    const auto source = platform::ThreadId(msg.wParam);
    for (CameraRow& row : rows_) {
      if (source == 0 || row.lastWorkerId != source) continue;
      if (row.workerLines.size() == kKeptLines) row.workerLines.erase(row.workerLines.begin());
      // Read when asked for (a tip), so nobody is told.
      row.workerLines.push_back(platform::Take<to::WorkerLogLine>(msg));
      break;
    }
    return true;
  }
  if (platform::Is<to::CamStopped>(msg)) {
    const int32_t reason = int32_t(msg.lParam);
    if (reason == camera::kStopReasonDiscard) return true;
    const long row = FindRowByWorker(platform::ThreadId(msg.wParam));
    if (row < 0) return true;
    CameraRow& stopped = rows_[size_t(row)];
    stopped.workerId = 0;
    stopped.worker.reset();
    stopped.framesSavedBefore += stopped.health.framesSaved;
    stopped.health.framesSaved = 0;
    if (shuttingDown_) return true;
    UpdateServices();
    if (reason == camera::kStopReasonRestart) {
      StartCamera(size_t(row), true);
      return true;
    }
    // Nobody asked for this stop: the worker failed or gave up without a picture.
    if (!stopped.stopRequested && stopped.failure.empty()) stopped.failure = "ended without an image";
    if (!stopped.stopRequested && retryMs_ > 0) {
      stopped.retryPending = true;
      stopped.retryAt = clock_->Now() + std::chrono::milliseconds(retryMs_);
    }
    SetStatus(size_t(row), camera::kStatusStoppedText);
    return true;
  }
  if (platform::Is<to::WorkerRegister>(msg)) {
    LiveWorker worker;
    worker.handle = platform::Take<to::WorkerRegister>(msg);
    worker.id = platform::ThreadId(msg.lParam);
    liveWorkers_.push_back(std::move(worker));
    return true;
  }
  if (platform::Is<to::WorkerUnregister>(msg)) {
    const platform::ThreadId id = platform::ThreadId(msg.lParam);
    auto it = std::find_if(liveWorkers_.begin(), liveWorkers_.end(), [id](const LiveWorker& w) { return w.id == id; });
    if (it != liveWorkers_.end()) liveWorkers_.erase(it);
    return true;
  }
  if (platform::Is<to::GridChanged>(msg)) {
    std::vector<uint8_t> grid = platform::Take<to::GridChanged>(msg);
    const auto view = platform::WindowHandle(msg.lParam);
    for (size_t i = 0; i < rows_.size(); ++i) {
      CameraRow& row = rows_[i];
      if (view == 0 || row.liveViewWindow != view) continue;
      if (grid.size() != camera::kGridBytes) return true;
      row.record->motionGrid = std::move(grid);
      platform::Post<camera::to_worker::ThreadStop>(row.workerId, camera::kStopReasonRestart);
      Notify(RowEvent::Kind::Changed, i, kRowSettings);
      SaveSettings();
      return true;
    }
    return true;  // no row matched: the grid copy is released here
  }
  if (platform::Is<to::WorkerHealthReport>(msg)) {
    const long row = FindRowByWorker(platform::ThreadId(msg.wParam));
    if (row >= 0) rows_[size_t(row)].health = platform::Take<to::WorkerHealthReport>(msg);
    return true;
  }
  if (platform::Is<to::ShutdownDone>(msg)) {
    if (shutdownWaiter_.joinable()) shutdownWaiter_.join();
    FinishShutdown();
    if (onShutdownComplete) onShutdownComplete();
    return true;
  }
  return false;
}

size_t CameraController::RunDueRetries() {
  const platform::LoopClock::TimePoint now = clock_->Now();
  size_t started = 0;
  for (size_t i = 0; i < rows_.size(); ++i) {
    CameraRow& row = rows_[i];
    if (!row.retryPending || row.workerId != 0 || now < row.retryAt) continue;
    row.retryPending = false;
    if (onRetry) onRetry(i, row.failure);
    StartCamera(i, true);
    ++started;
  }
  return started;
}

void CameraController::Shutdown(int workerWaitMs, int logWaitMs) {
  if (shuttingDown_) return;
  ShutdownPlan plan = BeginShutdown();
  const platform::WindowHandle owner = mainWindow_;
  // The waits run on their own thread so that the owner's loop keeps handling
  // status messages; their end comes back as a message like everything else.
  shutdownWaiter_ = std::thread([plan = std::move(plan), owner, workerWaitMs, logWaitMs] {
    RunShutdownWaits(plan, workerWaitMs, logWaitMs);
    platform::Post<camera::to_main_window::ShutdownDone>(owner);
  });
}

CameraController::ShutdownPlan CameraController::BeginShutdown() {
  shuttingDown_ = true;
  ShutdownPlan plan;
  for (auto& row : rows_) {
    if (row.workerId == 0) continue;
    platform::Post<camera::to_worker::ThreadStop>(row.workerId, camera::kStopReasonDiscard);
    if (row.worker) plan.workers.push_back(row.worker);
  }
  for (auto& worker : liveWorkers_) {
    platform::Post<camera::to_worker::ThreadStop>(worker.id, camera::kStopReasonDiscard);
    if (worker.handle) plan.snapshotWorkers.push_back(worker.handle);
  }
  liveWorkers_.clear();
  plan.logThread = logThreadId_;
  plan.logHandle = logThread_;
  plan.services = services_.Stop();
  return plan;
}

void CameraController::RunShutdownWaits(const ShutdownPlan& plan, int workerWaitMs, int logWaitMs) {
  for (const auto& handle : plan.workers) handle->Wait(workerWaitMs);
  for (const auto& handle : plan.snapshotWorkers) handle->Wait(workerWaitMs);
  if (plan.logThread) {
    platform::Post<camera::to_log::ThreadStop>(plan.logThread);
    if (plan.logHandle) plan.logHandle->Wait(logWaitMs);
  }
  // Retention and the event command were told to stop at the start; a running
  // command has a short grace before it is killed.
  for (const auto& handle : plan.services) handle->Wait(logWaitMs);
}

void CameraController::FinishShutdown() {
  for (auto& row : rows_) ReleaseRow(row);
  rows_.clear();
  PublishLive();
  logThreadId_ = 0;
  logThread_.reset();
}

void CameraController::SetStatus(size_t index, std::string status) {
  if (index >= rows_.size()) return;
  rows_[index].status = std::move(status);
  Notify(RowEvent::Kind::Changed, index, kRowStatus);
}

void CameraController::Notify(RowEvent::Kind kind, size_t index, unsigned changes) {
  PublishLive();
  const RowEvent event{kind, index, changes};
  for (const auto& observer : observers_) observer(event);
}

void CameraController::ReleaseRow(CameraRow& row) {
  if (row.destroyLiveView) {
    auto destroy = std::move(row.destroyLiveView);
    row.destroyLiveView = nullptr;
    destroy();
  }
  row.liveViewWindow = 0;
  row.record.reset();
}

}  // namespace recorder::app
