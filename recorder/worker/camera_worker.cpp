#include "recorder/worker/camera_worker.h"

#include <algorithm>

#include "media/jpeg_codec.h"
#include "media/mjpg.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"
#include "recorder/frame/frame_pipeline.h"

namespace recorder::worker {

using namespace camera;

// Frames that were not saved reach viewers at most this often (10 per second).
constexpr int kViewerFrameMs = 100;

CameraWorker::CameraWorker(WorkerParams params, SourceEvents events, uint32_t soundDelayMs)
    : record_(std::move(params.record)),
      resume_(params.resume),
      logThread_(params.logThread),
      mainWindow_(params.mainWindow),
      liveViewWindow_(params.liveViewWindow),
      snapshotTarget_(params.snapshotTarget),
      propertiesOwner_(params.propertiesOwner),
      soundPlayer_(std::move(params.soundPlayer)),
      events_(events),
      soundDelayMs_(soundDelayMs),
      offline_(std::chrono::seconds(std::max<int32_t>(1, params.offlineAfterSeconds))),
      watching_(params.offlineAfterSeconds > 0),
      live_(std::move(params.live)) {
  if (!record_) record_ = CreateDefaultCamera();  // Launch refuses none; a direct construction still has one
}

CameraWorker::~CameraWorker() = default;

bool CameraWorker::InitInstance() {
  if (IsSnapshot())
    platform::Post<to_worker::SnapshotStart>(Id());
  else
    platform::Post<to_worker::WorkerStart>(Id());
  return true;
}

void CameraWorker::ReportStatus(int32_t status) {
  if (!IsSnapshot()) platform::Post<to_main_window::CamStatus>(mainWindow_, Id(), status);
}

void CameraWorker::ReportEvent(int32_t code, const std::string& argument) {
  if (logThread_) PostLogEvent(logThread_, code, argument, Id());
}

bool CameraWorker::StopRequested() const { return stopping_ || StopWaiting(to_worker::ThreadStop::kNumber); }

void CameraWorker::OnMessage(platform::Message& msg) {
  if (stopping_) return;
  if (platform::Is<to_worker::WorkerStart>(msg)) {
    ReportEvent(events_.started, LoggedName());
    OnWorkerStart();
  } else if (platform::Is<to_worker::SnapshotStart>(msg)) {
    // Registered, so that shutdown waits for it.
    platform::Post<to_main_window::WorkerRegister>(mainWindow_, 0, Id(), Handle());
    OnSnapshotStart();
  } else if (platform::Is<to_worker::ThreadStop>(msg)) {
    EndWorker(static_cast<int32_t>(msg.wParam));
  } else if (platform::Is<to_worker::LiveViewChanged>(msg)) {
    liveViewWindow_ = static_cast<platform::WindowHandle>(msg.wParam);
  } else {
    OnSourceMessage(msg);
  }
}

void CameraWorker::OnTimer(uint32_t timerId) {
  if (stopping_) return;
  if (timerId == soundTimer_ && soundTimer_ != 0) {
    soundTimer_ = 0;
    if (!soundPlayer_) soundPlayer_ = frame::CreateDesktopSoundPlayer();
    if (soundPlayer_) soundPlayer_->Play(GetText(record_->soundFile));
    return;
  }
  if (timerId == watchTimer_ && watchTimer_ != 0) {
    watchTimer_ = 0;
    PollWatches();
    ArmWatchTimer();
    return;
  }
  OnSourceTimer(timerId);
}

bool CameraWorker::StartOutput() {
  if (!record_->motionGrid.empty()) detector_.SetGrid(record_->motionGrid.data(), record_->motionGrid.size());
  output_ = std::make_unique<recording::RecordingOutput>(*record_, static_cast<recording::RecordingReporter&>(*this));
  output_->SetClock(SharedClock());
  if (!output_->StartRecording(resume_)) {
    // A stop that cut the start short keeps its own reason: the loop handles it next.
    if (!StopRequested()) EndWorker(kStopReasonStop);
    return false;
  }
  if (!IsSnapshot() && !stopping_ && watching_) {
    offline_.Start(Clock().Now());
    ArmWatchTimer();
  }
  return !stopping_;
}

std::unique_ptr<media::FrameRecord> CameraWorker::DecodePicture(std::vector<uint8_t> jpeg) {
  std::unique_ptr<media::FrameRecord> frame = frameRecords_.Take();
  size_t length = jpeg.size(), stampAt = 0;
  // A picture that readers would misread as it stands (an embedded thumbnail, say)
  // takes the re-encoding path instead.
  if (frame::StoresAsSent(*record_) && media::mjpg::StampPosition(jpeg.data(), length, stampAt)) {
    // Decoding the luma proves the picture whole (every component is still
    // entropy-decoded) and is all that motion needs; no RGB unless a window shows it.
    if (!media::DecodeJpegLuma(jpeg.data(), length, frame->yuv)) {
      frameRecords_.Keep(std::move(frame));
      return nullptr;
    }
    jpeg.resize(length);
    frame->jpeg = std::make_shared<const std::vector<uint8_t>>(std::move(jpeg));
    return frame;
  }
  // A picture to re-encode is changed and encoded in YUV; RGB only for what the
  // planes cannot carry (greyscale, unusual sampling).
  if (media::DecodeJpegYuv(jpeg.data(), jpeg.size(), frame->yuv)) return frame;
  const bool decoded = media::DecodeJpeg(jpeg.data(), jpeg.size(), frame->image);
  if (decoded) return frame;
  frameRecords_.Keep(std::move(frame));
  return nullptr;
}

int32_t CameraWorker::AnalyseFrame(media::FrameRecord& frame) {
  if (output_ && watching_) {
    if (auto event = offline_.OnPicture(Clock().Now())) {
      ReportEvent(event->code, event->detail);
      ArmWatchTimer();
    }
  }
  const frame::PipelineResult result = frame::RunFramePipeline(frame, *record_, detector_);
  triggered_ = result.triggered;
  if (live_) live_->NoteMotion(result.level, result.triggered, Clock().WallNow());
  if (result.triggered && output_) {
    output_->OnMotionTrigger();
    if (record_->motionSound && soundTimer_ == 0) soundTimer_ = SetTimer(soundDelayMs_);
  }
  return result.level;
}

bool CameraWorker::DeliverFrame(std::unique_ptr<media::FrameRecord> frame, int32_t level) {
  if (!output_ || stopping_) {
    frameRecords_.Keep(std::move(frame));
    return false;
  }
  bool handled = false;
  if (output_->ShouldSave()) {
    const bool onPlanes = !frame->image.Valid() && frame->yuv.Valid();
    const auto saved = frame->jpeg ? output_->SaveAsSent(frame->jpeg)
                       : onPlanes  ? output_->SaveFrame(frame->yuv)
                                   : output_->SaveFrame(frame->image);
    if (saved == recording::RecordingOutput::SaveResult::Fatal) {
      EndWorker(kStopReasonStop);
      return false;
    }
    if (stopping_) return false;
    handled = saved == recording::RecordingOutput::SaveResult::Handled;
    if (handled) {
      NoteSavedFrame();
      frame->jpeg = output_->LastJpeg();  // the bytes as saved, for whoever wants the picture
    }
  }
  if (record_->motionEnabled) {
    const std::string& path = output_->lastFile().empty() ? output_->currentPath() : output_->lastFile();
    if (auto event = motion_.OnFrame(triggered_, Clock().Now(), path)) {
      ReportEvent(event->code, event->detail);
      if (watching_) ArmWatchTimer();
    }
  }
  if (live_) ShowViewers(*frame, handled);
  // Pictures on planes or stored as sent were not turned into RGB: only a window needs that.
  if (!frame->image.Valid() && platform::IsWindowVisible(liveViewWindow_)) {
    const bool shown = frame->yuv.Valid() ? media::YuvToFrameImage(frame->yuv, frame->image)
                       : frame->jpeg      ? media::DecodeJpeg(frame->jpeg->data(), frame->jpeg->size(), frame->image)
                                          : false;
    if (!shown) {
      frameRecords_.Keep(std::move(frame));
      return true;
    }
  }
  frame->imageSize = int32_t(frame->image.Size());
  frameRecords_.ShowOrKeep(liveViewWindow_, std::move(frame), level);
  return true;
}

void CameraWorker::NoteSavedFrame() {
  WorkerHealth health;
  if (healthTally_.NoteSaved(output_->currentPath(), Clock().Now(), Clock().WallNow(), health))
    platform::Post<to_main_window::WorkerHealthReport>(mainWindow_, Id(), 0, std::move(health));
}

void CameraWorker::PollWatches() {
  const auto now = Clock().Now();
  if (auto event = offline_.Poll(now)) ReportEvent(event->code, event->detail);
  if (auto event = motion_.Poll(now)) ReportEvent(event->code, event->detail);
}

void CameraWorker::ArmWatchTimer() {
  const auto due = std::min(offline_.NextCheck(), motion_.NextCheck());
  if (watchTimer_ != 0 && due == watchDue_) return;
  if (watchTimer_ != 0) KillTimer(watchTimer_), watchTimer_ = 0;
  if (due == platform::LoopClock::TimePoint::max()) return;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock().Now()).count();
  watchDue_ = due;
  watchTimer_ = SetTimer(static_cast<uint32_t>(std::max<int64_t>(1, left)));
}

void CameraWorker::ShowViewers(const media::FrameRecord& frame, bool saved) {
  if (saved) live_->NoteSaved();
  if (!live_->Serving()) return;
  // The bytes the worker has already: the frame as saved, or the camera's own picture.
  if (media::SharedJpeg picture = output_->TakeSavedPicture()) return live_->Publish(std::move(picture));
  if (frame.jpeg) return live_->Publish(frame.jpeg);
  // Neither: encoded for viewers only while someone watches, at most at the stream rate.
  const auto now = Clock().Now();
  if (!live_->Watched() || now - lastViewerEncode_ < std::chrono::milliseconds(kViewerFrameMs)) return;
  std::vector<uint8_t> picture;
  const bool encoded = frame.image.Valid()  ? media::EncodeJpeg(frame.image, record_->jpegQuality, picture)
                       : frame.yuv.Valid() ? media::EncodeJpegYuv(frame.yuv, record_->jpegQuality, picture)
                                           : false;
  if (!encoded) return;
  lastViewerEncode_ = now;
  live_->Publish(std::move(picture));
}

void CameraWorker::EndWorker(int32_t reason) {
  if (stopping_) return;
  stopping_ = true;
  if (output_) {
    output_->SetStopping();
    output_->StopRecording();
  }
  if (soundTimer_) KillTimer(soundTimer_), soundTimer_ = 0;
  if (watchTimer_) KillTimer(watchTimer_), watchTimer_ = 0;
  StopSource();
  if (reason != kStopReasonDiscard) platform::Post<to_main_window::CamStopped>(mainWindow_, Id(), reason);
  if (IsSnapshot())
    platform::Post<to_main_window::WorkerUnregister>(mainWindow_, 0, Id());
  else
    ReportEvent(events_.exited, LoggedName());
  PostQuit(0);
}

}  // namespace recorder::worker
