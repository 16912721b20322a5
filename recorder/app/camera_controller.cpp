#include "recorder/app/camera_controller.h"

#include <algorithm>

#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"
#include "recorder/camera/settings_file.h"
#include "recorder/net/soc_thread.h"

namespace recorder::app {

WorkerFactory DefaultWorkerFactory() {
  return [](std::unique_ptr<camera::CameraRecord> copy, bool resume,
            platform::ThreadId logThread) -> platform::ThreadHandlePtr {
    if (copy->cameraType != camera::kCameraIp) return nullptr;
    net::WorkerParams params;
    params.record = std::move(copy);
    params.resume = resume;
    params.logThreadId = logThread;
    return net::CSocThread::Start(std::move(params));
  };
}

CameraController::CameraController(std::string settingsPath, platform::WindowHandle mainWindow,
                                   WorkerFactory factory)
    : settingsPath_(std::move(settingsPath)), mainWindow_(mainWindow), factory_(std::move(factory)) {}

CameraController::~CameraController() = default;

void CameraController::LoadSettings() {
  camera::LoadedSettings loaded = camera::LoadSettingsFile(settingsPath_);
  rows_.clear();
  for (auto& record : loaded.cameras) {
    record->mainWindow = mainWindow_;
    rows_.push_back(CameraRow{std::move(record), camera::kStatusStoppedText});
  }
  logToFile_ = loaded.logToFile;
}

bool CameraController::StartLogThread(const std::string& logFilePath, LogEcho echo) {
  auto handle = platform::MessageThread::CreateSuspended(
      std::make_unique<CLogThread>(logFilePath, logToFile_, std::move(echo)));
  if (!handle) return false;
  logThread_ = handle;
  logThreadId_ = handle->Id();
  platform::MessageThread::Resume(handle);
  return true;
}

long CameraController::FindRowByWorker(platform::ThreadId id) const {
  if (id == 0) return -1;
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].record->workerThreadId == id) return long(i);
  return -1;
}

void CameraController::StartCamera(size_t index, bool resume) {
  if (index >= rows_.size()) return;
  camera::CameraRecord& record = *rows_[index].record;
  if (record.workerThreadId != 0) return;
  record.mainWindow = mainWindow_;
  auto handle = factory_(camera::CopyCamera(record), resume, logThreadId_);
  if (!handle) {
    // No worker for this kind of source: the row says so instead of staying silent.
    SetStatus(index, camera::StatusText(camera::kStatusInitFailed));
    return;
  }
  record.workerThreadId = handle->Id();
  record.workerThread = handle;
}

void CameraController::StartSelected(const std::vector<size_t>& rows, bool resume) {
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) StartCamera(*it, resume);
}

void CameraController::StartAll(bool resume) {
  for (size_t i = 0; i < rows_.size(); ++i) StartCamera(i, resume);
}

void CameraController::StopSelected(const std::vector<size_t>& rows) {
  for (size_t index : rows) {
    if (index < rows_.size())
      platform::Post<camera::to_worker::ThreadStop>(rows_[index].record->workerThreadId, camera::kStopReasonStop);
  }
}

void CameraController::StopAll() {
  for (auto& row : rows_)
    platform::Post<camera::to_worker::ThreadStop>(row.record->workerThreadId, camera::kStopReasonStop);
}

void CameraController::AddCamera(std::unique_ptr<camera::CameraRecord> record) {
  record->mainWindow = mainWindow_;
  record->workerThreadId = 0;
  record->workerThread.reset();
  rows_.insert(rows_.begin(), CameraRow{std::move(record), camera::kStatusStoppedText});
  StartCamera(0, false);
  Changed(0);
  SaveSettings();
}

void CameraController::EditCamera(size_t index, std::unique_ptr<camera::CameraRecord> record) {
  if (index >= rows_.size()) return;
  camera::CameraRecord& old = *rows_[index].record;
  record->mainWindow = mainWindow_;
  record->workerThreadId = old.workerThreadId;
  record->workerThread = old.workerThread;
  record->liveViewWindow = old.liveViewWindow;
  record->liveView = old.liveView;
  rows_[index].record = std::move(record);
  // A running worker restarts in append mode with the edited record.
  platform::Post<camera::to_worker::ThreadStop>(rows_[index].record->workerThreadId, camera::kStopReasonRestart);
  Changed(index);
  SaveSettings();
}

void CameraController::SetLiveView(size_t index, platform::WindowHandle window, void* view) {
  if (index >= rows_.size()) return;
  rows_[index].record->liveViewWindow = window;
  rows_[index].record->liveView = view;
}

void CameraController::DeleteCameras(std::vector<size_t> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    if (*it >= rows_.size()) continue;
    const platform::ThreadId worker = rows_[*it].record->workerThreadId;
    camera::DestroyCamera(std::move(rows_[*it].record), true);
    rows_.erase(rows_.begin() + long(*it));
    platform::Post<camera::to_worker::ThreadStop>(worker, camera::kStopReasonDiscard);
  }
  SaveSettings();
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
  return camera::SaveSettingsFile(settingsPath_, cameras, logToFile_);
}

bool CameraController::HandleMessage(platform::Message& msg) {
  namespace to = camera::to_main_window;
  if (platform::Is<to::CamStatus>(msg)) {
    const long row = FindRowByWorker(platform::ThreadId(msg.wParam));
    const char* text = camera::StatusText(int32_t(msg.lParam));
    if (row >= 0 && text) SetStatus(size_t(row), text);
    return true;
  }
  if (platform::Is<to::CamStopped>(msg)) {
    const int32_t reason = int32_t(msg.lParam);
    if (reason == camera::kStopReasonDiscard) return true;
    const long row = FindRowByWorker(platform::ThreadId(msg.wParam));
    if (row < 0) return true;
    camera::CameraRecord& record = *rows_[size_t(row)].record;
    record.workerThreadId = 0;
    record.workerThread.reset();
    if (reason == camera::kStopReasonRestart) {
      StartCamera(size_t(row), true);
    } else {
      SetStatus(size_t(row), camera::kStatusStoppedText);
    }
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
      camera::CameraRecord& record = *rows_[i].record;
      if (view == 0 || record.liveViewWindow != view) continue;
      if (grid.size() != camera::kGridBytes) return true;
      record.motionGrid = std::move(grid);
      platform::Post<camera::to_worker::ThreadStop>(record.workerThreadId, camera::kStopReasonRestart);
      Changed(i);
      SaveSettings();
      return true;
    }
    return true;  // no row matched: the grid copy is released here
  }
  return false;
}

CameraController::ShutdownPlan CameraController::BeginShutdown() {
  ShutdownPlan plan;
  for (auto& row : rows_) {
    if (row.record->workerThreadId == 0) continue;
    platform::Post<camera::to_worker::ThreadStop>(row.record->workerThreadId, camera::kStopReasonDiscard);
    if (row.record->workerThread) plan.workers.push_back(row.record->workerThread);
  }
  for (auto& worker : liveWorkers_) {
    platform::Post<camera::to_worker::ThreadStop>(worker.id, camera::kStopReasonDiscard);
    if (worker.handle) plan.snapshotWorkers.push_back(worker.handle);
  }
  liveWorkers_.clear();
  plan.logThread = logThreadId_;
  plan.logHandle = logThread_;
  return plan;
}

void CameraController::RunShutdownWaits(const ShutdownPlan& plan, int workerWaitMs, int logWaitMs) {
  for (const auto& handle : plan.workers) handle->Wait(workerWaitMs);
  for (const auto& handle : plan.snapshotWorkers) handle->Wait(workerWaitMs);
  if (plan.logThread) {
    platform::Post<camera::to_log::ThreadStop>(plan.logThread);
    if (plan.logHandle) plan.logHandle->Wait(logWaitMs);
  }
}

void CameraController::FinishShutdown() {
  for (auto& row : rows_) camera::DestroyCamera(std::move(row.record), true);
  rows_.clear();
  logThreadId_ = 0;
  logThread_.reset();
}

void CameraController::SetStatus(size_t index, std::string status) {
  if (index >= rows_.size()) return;
  rows_[index].status = std::move(status);
  Changed(index);
}

void CameraController::Changed(size_t index) {
  if (onRowChanged) onRowChanged(index);
}

}  // namespace recorder::app
