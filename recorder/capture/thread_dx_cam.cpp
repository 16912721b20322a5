#include "recorder/capture/thread_dx_cam.h"

#include <algorithm>
#include <ctime>

#include "media/frame_messages.h"
#include "platform/timecode.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"
#include "recorder/capture/capture_messages.h"

namespace recorder::capture {

using namespace camera;

CThreadDXCam::CThreadDXCam(worker::WorkerParams params, LocalWorkerTiming timing,
                           std::shared_ptr<CaptureService> service)
    : CameraWorker(std::move(params), {kEventDeviceThreadStarted, kEventDeviceThreadExited}, timing.soundDelayMs),
      timing_(std::move(timing)),
      device_(std::move(service)) {}

CThreadDXCam::~CThreadDXCam() = default;

platform::ThreadHandlePtr CThreadDXCam::Start(worker::WorkerParams params, LocalWorkerTiming timing,
                                              std::shared_ptr<CaptureService> service) {
  return Launch<CThreadDXCam>(std::move(params), std::move(timing), std::move(service));
}

bool CThreadDXCam::InitInstance() {
  // A stream that starts slowly is waited for in short steps; a stop ends the wait.
  device_.SetStopCheck([this] { return StopRequested(); });
  return CameraWorker::InitInstance();
}

std::string CThreadDXCam::LoggedName() const { return GetText(Camera().savePath); }

void CThreadDXCam::OnSourceMessage(platform::Message& msg) {
  if (platform::Is<to_worker::SendFrame>(msg)) {
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
  const camera::CameraRecord& cam = Camera();
  currentPath_ = platform::ExpandTimeCodes(GetText(cam.savePath), Clock().WallNow());
  device_.Initialize();
  const int opened = device_.Open(cam.deviceIndex, 0, cam.formatWidth, cam.formatHeight, cam.formatBits);
  // A stop that cut the opening short keeps its own reason: the loop handles it next.
  if (StopRequested()) return;
  if (opened != 0) {
    ReportStatus(kStatusInitFailed);
    ReportEvent(kEventDeviceInitFailed, currentPath_);
    EndWorker(kStopReasonStop);
    return;
  }
  device_.RoutePin(cam.pinIndex);
  if (!StartOutput()) return;
  currentPath_ = Output()->currentPath();
  ReportStatus(kStatusStarted);
  StartFrameTimer(uint32_t(std::max(cam.frameDelayMs, 0)));
}

void CThreadDXCam::OnSnapshotStart() {
  const camera::CameraRecord& cam = Camera();
  device_.Initialize();
  const int opened = device_.Open(cam.deviceIndex, 0, cam.formatWidth, cam.formatHeight, cam.formatBits);
  if (StopRequested()) return;
  if (opened < 0) {
    EndWorker(kStopReasonDiscard);
    return;
  }
  // Without a device the snapshot frame is simply absent: the picture is cleared.
  device_.RoutePin(cam.pinIndex);
  if (PropertiesOwner() != 0) {
    ShowProperties(PropertiesOwner(), AfterProperties::SnapshotTimer);
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
  if (!Output()) return;
  const platform::LoopClock::TimePoint tickStart = Clock().Now();
  std::unique_ptr<media::FrameRecord> frame = TakeFrameRecord();

  const bool grabbed = device_.GrabFrameInto(*frame);
  if (!grabbed) {
    KeepFrameRecord(std::move(frame));
    // Once per run of missing frames: a device that delivers nothing for hours
    // would otherwise fill the log with one line per tick.
    if (!dropLogged_) ReportEvent(kEventFrameDropped, Output()->currentPath());
    dropLogged_ = true;
  } else {
    dropLogged_ = false;
    const int32_t level = AnalyseFrame(*frame);
    if (!DeliverFrame(std::move(frame), level)) return;
  }

  // Paced from the tick's start: the delay is the time from one tick's start to the next.
  const long long elapsed = Clock().MsSince(tickStart);
  long long delay = std::max<long long>(Camera().frameDelayMs - elapsed, 0);
  if (!grabbed) delay = std::max<long long>(delay, timing_.dropPauseMs);
  StartFrameTimer(uint32_t(std::min<long long>(delay, UINT32_MAX)));
}

void CThreadDXCam::OnSnapshotFrame() {
  // A null record clears the picture.
  platform::Post<media::ShowFrameRecord>(SnapshotTarget(), device_.GrabFrame());
  EndWorker(kStopReasonDiscard);
}

void CThreadDXCam::SendFrame(platform::WindowHandle window) {
  platform::Post<media::ShowFrameRecord>(window, device_.GrabFrame());
}

void CThreadDXCam::OnShowDeviceSettings(platform::WindowHandle frameTarget, platform::WindowHandle owner) {
  if (IsSnapshot() || !Output() || propertiesOpen_) return;
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
  propertiesAsked_ = Clock().Now();
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

void CThreadDXCam::OnSourceTimer(uint32_t timerId) {
  if (timerId == frameTimer_) {
    frameTimer_ = 0;
    OnFrameTick();
  } else if (timerId == snapshotTimer_) {
    snapshotTimer_ = 0;
    OnSnapshotFrame();
  } else if (timerId == settingsPreviewTimer_) {
    settingsPreviewTimer_ = 0;
    SendFrame(IsSnapshot() ? SnapshotTarget() : settingsFrameTarget_);
  } else if (timerId == propertiesTimer_) {
    propertiesTimer_ = 0;
    // A window that never appeared, or went without saying so, ends the wait.
    const auto waited = Clock().Now() - propertiesAsked_;
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

void CThreadDXCam::StopSource() {
  // An open properties window has nothing left to set.
  if (propertiesOpen_ && propertiesWindow_ != 0)
    platform::Post<to_properties_window::CloseProperties>(propertiesWindow_);
  for (uint32_t* timer : {&frameTimer_, &snapshotTimer_, &propertiesTimer_, &settingsPreviewTimer_}) {
    if (*timer) KillTimer(*timer);
    *timer = 0;
  }
  device_.Close();
}

}  // namespace recorder::capture
