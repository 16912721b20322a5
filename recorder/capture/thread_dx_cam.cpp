#include "recorder/capture/thread_dx_cam.h"

#include <algorithm>
#include <ctime>

#include "media/frame_messages.h"
#include "platform/timecode.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"
#include "recorder/capture/capture_messages.h"
#include "recorder/frame/frame_pipeline.h"

namespace recorder::capture {

using namespace camera;
using Clock = std::chrono::steady_clock;

CThreadDXCam::CThreadDXCam(LocalWorkerParams params, LocalWorkerTiming timing)
    : record_(std::move(params.record)),
      resume_(params.resume),
      logThreadId_(params.logThreadId),
      mainWindow_(params.mainWindow),
      liveViewWindow_(params.liveViewWindow),
      snapshotTarget_(params.snapshotTarget),
      propertiesParent_(params.propertiesParent),
      soundPlayer_(std::move(params.soundPlayer)),
      timing_(std::move(timing)),
      device_(std::move(params.service)) {}

CThreadDXCam::~CThreadDXCam() = default;

platform::ThreadHandlePtr CThreadDXCam::Start(LocalWorkerParams params, LocalWorkerTiming timing) {
  if (!params.record) return nullptr;
  auto handle =
      platform::MessageThread::CreateSuspended(std::make_unique<CThreadDXCam>(std::move(params), std::move(timing)));
  if (handle) platform::MessageThread::Resume(handle);
  return handle;
}

bool CThreadDXCam::InitInstance() {
  // A stream that starts slowly is waited for in short steps; a stop ends the wait.
  device_.SetStopCheck([this] { return StopRequested(); });
  if (IsSnapshot())
    platform::Post<to_worker::SnapshotStart>(Id());
  else
    platform::Post<to_worker::WorkerStart>(Id());
  return true;
}

Clock::time_point CThreadDXCam::Now() const { return timing_.clock ? timing_.clock() : Clock::now(); }

void CThreadDXCam::ReportStatus(int32_t status) {
  if (!IsSnapshot()) platform::Post<to_main_window::CamStatus>(mainWindow_, Id(), status);
}

void CThreadDXCam::ReportEvent(int32_t code, const std::string& argument) {
  if (logThreadId_) PostLogEvent(logThreadId_, code, argument, Id());
}

bool CThreadDXCam::StopRequested() const { return stopping_ || StopWaiting(to_worker::ThreadStop::kNumber); }

void CThreadDXCam::OnMessage(platform::Message& msg) {
  if (stopping_) return;
  if (platform::Is<to_worker::WorkerStart>(msg)) {
    OnWorkerStart();
  } else if (platform::Is<to_worker::SnapshotStart>(msg)) {
    OnSnapshotStart();
  } else if (platform::Is<to_worker::ThreadStop>(msg)) {
    EndWorker(static_cast<int32_t>(msg.wParam));
  } else if (platform::Is<to_worker::LiveViewChanged>(msg)) {
    liveViewWindow_ = static_cast<platform::WindowHandle>(msg.wParam);
  } else if (platform::Is<to_worker::SendFrame>(msg)) {
    SendFrame(static_cast<platform::WindowHandle>(msg.wParam));
  } else if (platform::Is<to_worker::ShowDeviceSettings>(msg)) {
    OnShowDeviceSettings(static_cast<platform::WindowHandle>(msg.wParam),
                         static_cast<platform::WindowHandle>(msg.lParam));
  } else if (platform::Is<to_device_worker::PropertiesShown>(msg)) {
    if (propertiesOpen_) propertiesWindow_ = static_cast<platform::WindowHandle>(msg.wParam);
  } else if (platform::Is<to_device_worker::ControlChanged>(msg)) {
    if (!propertiesOpen_) return;
    device_.SetControl(static_cast<uint32_t>(msg.wParam), static_cast<int32_t>(msg.lParam));
    // The preview shows the change a moment later, once the device has taken it.
    if (settingsPreviewTimer_) KillTimer(settingsPreviewTimer_);
    settingsPreviewTimer_ = SetTimer(timing_.settingsPreviewMs);
  } else if (platform::Is<to_device_worker::PropertiesClosed>(msg)) {
    if (propertiesOpen_) EndPropertiesWait();
  }
}

void CThreadDXCam::OnWorkerStart() {
  const std::string savePath = GetText(record_->savePath);
  ReportEvent(kEventDeviceThreadStarted, savePath);
  currentPath_ = platform::ExpandTimeCodes(savePath);
  device_.Initialize();
  const int opened = device_.Open(record_->deviceIndex, 0, record_->formatWidth, record_->formatHeight,
                                  record_->formatBits);
  // A stop that cut the opening short keeps its own reason: the loop handles it next.
  if (StopRequested()) return;
  if (opened != 0) {
    ReportStatus(kStatusInitFailed);
    ReportEvent(kEventDeviceInitFailed, currentPath_);
    EndWorker(kStopReasonStop);
    return;
  }
  device_.RoutePin(record_->pinIndex);
  if (!record_->motionGrid.empty()) detector_.SetGrid(record_->motionGrid.data(), record_->motionGrid.size());
  output_ = std::make_unique<recording::RecordingOutput>(*record_, static_cast<recording::RecordingReporter&>(*this));
  if (!output_->StartRecording(resume_)) {
    if (!StopRequested()) EndWorker(kStopReasonStop);
    return;
  }
  if (stopping_) return;
  currentPath_ = output_->currentPath();
  ReportStatus(kStatusStarted);
  StartFrameTimer(uint32_t(std::max(record_->frameDelayMs, 0)));
}

void CThreadDXCam::OnSnapshotStart() {
  platform::Post<to_main_window::WorkerRegister>(mainWindow_, 0, Id(), Handle());
  device_.Initialize();
  const int opened = device_.Open(record_->deviceIndex, 0, record_->formatWidth, record_->formatHeight,
                                  record_->formatBits);
  if (StopRequested()) return;
  if (opened < 0) {
    EndWorker(kStopReasonDiscard);
    return;
  }
  // Without a device the snapshot frame is simply absent: the picture is cleared.
  device_.RoutePin(record_->pinIndex);
  if (propertiesParent_ != 0) {
    ShowProperties(propertiesParent_, AfterProperties::SnapshotTimer);
    return;
  }
  snapshotTimer_ = SetTimer(timing_.snapshotDelayMs);
}

void CThreadDXCam::StartFrameTimer(uint32_t delayMs) {
  if (frameTimer_) KillTimer(frameTimer_);
  if (timing_.onFrameTimer) timing_.onFrameTimer(delayMs);
  frameTimer_ = SetTimer(delayMs);
}

void CThreadDXCam::OnFrameTick() {
  if (!output_) return;
  const Clock::time_point tickStart = Now();
  std::unique_ptr<media::FrameRecord> record = frameRecords_.Take();

  const bool grabbed = device_.GrabFrameInto(*record);
  if (!grabbed) {
    frameRecords_.Keep(std::move(record));
    // Once per run of missing frames: a device that delivers nothing for hours
    // would otherwise fill the log with one line per tick.
    if (!dropLogged_) ReportEvent(kEventFrameDropped, output_->currentPath());
    dropLogged_ = true;
  } else {
    dropLogged_ = false;
    const frame::PipelineResult result = frame::RunFramePipeline(*record, *record_, detector_);
    if (result.triggered) {
      output_->OnMotionTrigger();
      if (record_->motionSound && soundTimer_ == 0) soundTimer_ = SetTimer(timing_.soundDelayMs);
    }
    if (output_->ShouldSave()) {
      const auto saved = output_->SaveFrame(record->image);
      if (saved == recording::RecordingOutput::SaveResult::Fatal) {
        EndWorker(kStopReasonStop);
        return;
      }
      if (stopping_) return;
      if (saved == recording::RecordingOutput::SaveResult::Handled) NoteSavedFrame();
    }
    frameRecords_.ShowOrKeep(liveViewWindow_, std::move(record), result.level);
  }

  // Paced from the tick's start: the delay is the time from one tick's start to the next.
  const long long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Now() - tickStart).count();
  long long delay = std::max<long long>(record_->frameDelayMs - elapsed, 0);
  if (!grabbed) delay = std::max<long long>(delay, timing_.dropPauseMs);
  StartFrameTimer(uint32_t(std::min<long long>(delay, UINT32_MAX)));
}

void CThreadDXCam::OnSnapshotFrame() {
  // A null record clears the picture.
  platform::Post<media::ShowFrameRecord>(snapshotTarget_, device_.GrabFrame());
  EndWorker(kStopReasonDiscard);
}

void CThreadDXCam::SendFrame(platform::WindowHandle window) {
  platform::Post<media::ShowFrameRecord>(window, device_.GrabFrame());
}

void CThreadDXCam::OnShowDeviceSettings(platform::WindowHandle frameTarget, platform::WindowHandle owner) {
  if (IsSnapshot() || !output_ || propertiesOpen_) return;
  if (frameTimer_) KillTimer(frameTimer_), frameTimer_ = 0;
  settingsFrameTarget_ = frameTarget;
  ShowProperties(owner, AfterProperties::SettingsFrame);
}

void CThreadDXCam::ShowProperties(platform::WindowHandle owner, AfterProperties after) {
  afterProperties_ = after;
  if (device_.ShowDeviceProperties(owner, Id()) == 0) {
    EndPropertiesWait();
    return;
  }
  // The window is modal: the worker waits for it on its own queue, applying the
  // window's changes and still answering a stop.
  propertiesOpen_ = true;
  propertiesWindow_ = 0;
  propertiesAsked_ = Clock::now();
  propertiesTimer_ = SetTimer(timing_.propertiesCheckMs);
}

void CThreadDXCam::EndPropertiesWait() {
  propertiesOpen_ = false;
  propertiesWindow_ = 0;
  if (propertiesTimer_) KillTimer(propertiesTimer_), propertiesTimer_ = 0;
  if (settingsPreviewTimer_) KillTimer(settingsPreviewTimer_), settingsPreviewTimer_ = 0;
  const AfterProperties after = afterProperties_;
  afterProperties_ = AfterProperties::None;
  switch (after) {
    case AfterProperties::SnapshotTimer: snapshotTimer_ = SetTimer(timing_.snapshotDelayMs); break;
    case AfterProperties::SettingsFrame:
      SendFrame(settingsFrameTarget_);
      StartFrameTimer(timing_.settingsResumeMs);
      break;
    case AfterProperties::None: break;
  }
}

void CThreadDXCam::NoteSavedFrame() {
  WorkerHealth health;
  if (healthTally_.NoteSaved(output_->currentPath(), health))
    platform::Post<to_main_window::WorkerHealthReport>(mainWindow_, Id(), 0, std::move(health));
}

void CThreadDXCam::OnTimer(uint32_t timerId) {
  if (stopping_) return;
  if (timerId == soundTimer_) {
    soundTimer_ = 0;
    if (!soundPlayer_) soundPlayer_ = frame::CreateDesktopSoundPlayer();
    if (soundPlayer_) soundPlayer_->Play(GetText(record_->soundFile));
  } else if (timerId == frameTimer_) {
    frameTimer_ = 0;
    OnFrameTick();
  } else if (timerId == snapshotTimer_) {
    snapshotTimer_ = 0;
    OnSnapshotFrame();
  } else if (timerId == settingsPreviewTimer_) {
    settingsPreviewTimer_ = 0;
    SendFrame(IsSnapshot() ? snapshotTarget_ : settingsFrameTarget_);
  } else if (timerId == propertiesTimer_) {
    propertiesTimer_ = 0;
    // A window that never appeared, or went without saying so, ends the wait.
    const auto waited = Clock::now() - propertiesAsked_;
    const bool neverShown =
        propertiesWindow_ == 0 && waited >= std::chrono::milliseconds(timing_.propertiesOpenTimeoutMs);
    const bool gone =
        propertiesWindow_ != 0 && !platform::Post<to_properties_window::StillThere>(propertiesWindow_);
    if (neverShown || gone)
      EndPropertiesWait();
    else
      propertiesTimer_ = SetTimer(timing_.propertiesCheckMs);
  }
}

void CThreadDXCam::EndWorker(int32_t reason) {
  if (stopping_) return;
  stopping_ = true;
  if (output_) {
    output_->SetStopping();
    output_->StopRecording();
  }
  // An open properties window has nothing left to set.
  if (propertiesOpen_ && propertiesWindow_ != 0)
    platform::Post<to_properties_window::CloseProperties>(propertiesWindow_);
  for (uint32_t* timer : {&frameTimer_, &snapshotTimer_, &soundTimer_, &propertiesTimer_, &settingsPreviewTimer_}) {
    if (*timer) KillTimer(*timer);
    *timer = 0;
  }
  if (reason != kStopReasonDiscard) platform::Post<to_main_window::CamStopped>(mainWindow_, Id(), reason);
  if (IsSnapshot())
    platform::Post<to_main_window::WorkerUnregister>(mainWindow_, 0, Id());
  else
    ReportEvent(kEventDeviceThreadExited, GetText(record_->savePath));
  device_.Close();
  PostQuit(0);
}

}  // namespace recorder::capture
