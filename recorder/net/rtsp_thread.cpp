#include "recorder/net/rtsp_thread.h"

#include <algorithm>
#include <chrono>

#include "media/frame_messages.h"
#include "media/jpeg_codec.h"
#include "platform/ascii.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"

namespace recorder::net {

namespace {

// Key-frame intervals beyond this are not trusted to pace a camera: the watchdog
// would end the session before the next key frame.
constexpr int64_t kLongestKeyIntervalUs = 5'000'000;

std::string Reason(const RtspResult& result) {
  switch (result.failure) {
    case RtspFailure::AuthRefused:
      return "authentication refused, RTSP status " + std::to_string(result.rtspStatus);
    case RtspFailure::ConnectFailed: return "connection failed: " + result.text;
    case RtspFailure::StreamEnded: return "stream ended";
    case RtspFailure::NoPicture: return result.text;  // "no picture for N ms"
    default:
      if (result.rtspStatus != 0) return "RTSP status " + std::to_string(result.rtspStatus) + ": " + result.text;
      return result.text;
  }
}

// The event log line a failure is reported with.
int32_t EventOf(const RtspResult& result) {
  switch (result.failure) {
    case RtspFailure::AuthRefused: return camera::kEventCameraAnsweredError;
    case RtspFailure::ConnectFailed: return camera::kEventConnectFailed;
    case RtspFailure::StreamEnded:
    case RtspFailure::NoPicture: return camera::kEventSocketClosed;
    default: return result.rtspStatus != 0 ? camera::kEventCameraAnsweredError : camera::kEventConnectFailed;
  }
}

}  // namespace

bool IsRtspAddress(const std::string& url) {
  return platform::ascii::StartsWithNoCase(url, "rtsp://") || platform::ascii::StartsWithNoCase(url, "rtsps://");
}

RtspTransport TransportOf(const camera::CameraRecord& camera) {
  return platform::ascii::EqualsNoCase(camera.rtspTransport, "udp") ? RtspTransport::Udp : RtspTransport::Tcp;
}

bool DecodeKeyFramesOnly(int64_t keyIntervalUs, int32_t frameDelayMs) {
  return keyIntervalUs > 0 && keyIntervalUs <= kLongestKeyIntervalUs && int64_t(frameDelayMs) * 1000 >= keyIntervalUs;
}

RtspCamThread::RtspCamThread(worker::WorkerParams params, RtspTiming timing)
    : CameraWorker(std::move(params), {camera::kEventSocketThreadStarted, camera::kEventSocketThreadExited},
                   timing.soundDelayMs),
      timing_(timing),
      url_(camera::GetText(Camera().url)),
      server_(MaskUrlPassword(url_)) {}

RtspCamThread::~RtspCamThread() = default;

platform::ThreadHandlePtr RtspCamThread::Start(worker::WorkerParams params, RtspTiming timing) {
  return Launch<RtspCamThread>(std::move(params), timing);
}

std::string RtspCamThread::LoggedName() const { return server_; }

RtspOptions RtspCamThread::Options() const {
  RtspOptions options;
  options.transport = TransportOf(Camera());
  options.connectTimeoutMs = timing_.connectTimeoutMs;
  options.noPictureTimeoutMs = timing_.noPictureTimeoutMs;
  options.decoderThreads = 1;  // a second thread buys nothing per picture (bench_rtsp)
  options.keyFramesOnly = keyFramesOnly_;
  // The queue's stop peek: a stop is answered within the reader's ~100 ms checks.
  options.stopRequested = [this] { return StopRequested(); };
  return options;
}

void RtspCamThread::OnWorkerStart() {
  if (!StartOutput()) return;
  ReportStatus(camera::kStatusConnecting);
  Step();
}

void RtspCamThread::OnSnapshotStart() { Step(); }

void RtspCamThread::OnSourceMessage(platform::Message& msg) {
  if (platform::Is<to_rtsp_worker::ReadNext>(msg)) Step();
}

void RtspCamThread::OnSourceTimer(uint32_t timerId) {
  if (timerId != retryTimer_ || retryTimer_ == 0) return;
  retryTimer_ = 0;
  Step();
}

void RtspCamThread::PostNext() { platform::Post<to_rtsp_worker::ReadNext>(Id()); }

void RtspCamThread::Step() {
  if (Stopping()) return;
  if (!reader_.IsOpen()) {
    const RtspResult opened = reader_.Open(url_, Options());
    if (!opened.Ok()) {
      OnFailure(opened);
      return;
    }
  }
  RtspPicture picture;
  const RtspResult read = reader_.ReadPicture(picture);
  if (!read.Ok()) {
    OnFailure(read);
    return;
  }
  OnPicture(picture);
  if (!Stopping()) PostNext();
}

void RtspCamThread::OnFailure(const RtspResult& result) {
  reader_.Close();
  // A stop cut the call short: the loop handles the stop next.
  if (result.failure == RtspFailure::Stopped || StopRequested()) return;
  if (IsSnapshot()) {
    ReportSnapshot(nullptr, Reason(result));
    EndWorker(camera::kStopReasonDiscard);
    return;
  }
  if (started_) {
    started_ = false;
    ReportStatus(camera::kStatusConnecting);
  }
  if (!outageLogged_) {
    outageLogged_ = true;
    ReportEvent(EventOf(result), server_ + " (" + Reason(result) + ")");
  }
  haveDue_ = false;
  lastKeyUs_ = -1;
  lastPtsUs_ = -1;
  retryTimer_ = SetTimer(result.failure == RtspFailure::AuthRefused ? timing_.authRetryMs : timing_.retryMs);
}

void RtspCamThread::NoteKeyFrame(const RtspPicture& picture) {
  if (!picture.keyFrame) return;
  if (lastKeyUs_ >= 0 && picture.ptsUs > lastKeyUs_) keyIntervalUs_ = picture.ptsUs - lastKeyUs_;
  lastKeyUs_ = picture.ptsUs;
  // Every picture is decoded until two key frames have shown the interval; then,
  // when the frame delay would take at most one picture per key-frame interval
  // anyway, the pictures between key frames are no longer decoded.
  const bool wanted = DecodeKeyFramesOnly(keyIntervalUs_, Camera().frameDelayMs);
  if (wanted != keyFramesOnly_) {
    keyFramesOnly_ = wanted;
    reader_.SetKeyFramesOnly(wanted);
  }
}

bool RtspCamThread::ToFrame(const RtspPicture& picture, media::FrameRecord& frame) {
  // Planes go on as planes (motion on the luma, overlay and encoding in YUV); a
  // BT.709 picture needs its colours converted, which the RGB path does.
  if (!picture.bt709) return converter_.ToYuvImage(picture, frame.yuv);
  return converter_.ToFrameImage(picture, frame.image);
}

void RtspCamThread::OnPicture(const RtspPicture& picture) {
  if (IsSnapshot()) {
    ReportSnapshot(&picture, "");
    EndWorker(camera::kStopReasonDiscard);
    return;
  }
  if (!started_) {
    started_ = true;
    ReportStatus(camera::kStatusStarted);
  }
  if (outageLogged_) {
    outageLogged_ = false;
    ReportEvent(camera::kEventReEstablished, server_);
  }
  NoteKeyFrame(picture);

  // The frame delay paces what is measured and saved: every picture is decoded,
  // one per delay goes on. The due time advances by whole delays, and a picture
  // up to half a picture interval early counts as on time, so pictures that come
  // a little early or late do not slow the pace (a delay of one picture interval
  // keeps every picture).
  if (lastPtsUs_ >= 0 && picture.ptsUs > lastPtsUs_) pictureIntervalUs_ = picture.ptsUs - lastPtsUs_;
  lastPtsUs_ = picture.ptsUs;
  const auto now = Clock().Now();
  const auto delay = std::chrono::milliseconds(std::max(Camera().frameDelayMs, 0));
  const auto slack = std::min<std::chrono::microseconds>(std::chrono::microseconds(pictureIntervalUs_ / 2), delay / 2);
  if (haveDue_ && now + slack < nextDue_) return;
  nextDue_ = haveDue_ ? nextDue_ + delay : now + delay;
  if (nextDue_ <= now) nextDue_ = now + delay;
  haveDue_ = true;

  std::unique_ptr<media::FrameRecord> frame = TakeFrameRecord();
  if (!ToFrame(picture, *frame)) {
    KeepFrameRecord(std::move(frame));
    // Pictures of a size or layout the frame path cannot take: said once, not per picture.
    if (!unconvertibleLogged_) {
      unconvertibleLogged_ = true;
      ReportEvent(camera::kEventImageUndecodable, server_ + " (" + std::to_string(picture.width) + "x" +
                                                      std::to_string(picture.height) + " picture cannot be converted)");
    }
    return;
  }
  unconvertibleLogged_ = false;
  const int32_t level = AnalyseFrame(*frame);
  DeliverFrame(std::move(frame), level);
}

void RtspCamThread::ReportSnapshot(const RtspPicture* picture, const std::string& reason) {
  if (picture) {
    media::FrameImage image;
    std::vector<uint8_t> jpeg;
    if (converter_.ToFrameImage(*picture, image) && media::EncodeJpeg(image, Camera().jpegQuality, jpeg)) {
      const auto length = static_cast<intptr_t>(jpeg.size());
      platform::Post<media::ShowFrame>(SnapshotTarget(), 1, length, std::move(jpeg));
      return;
    }
  }
  // No picture: the reason goes with the answer as its text.
  const std::string why = picture ? "the picture could not be converted" : reason;
  std::vector<uint8_t> text(why.begin(), why.end());
  const auto length = static_cast<intptr_t>(text.size());
  platform::Post<media::ShowFrame>(SnapshotTarget(), 0, length, std::move(text));
}

void RtspCamThread::StopSource() {
  if (retryTimer_) KillTimer(retryTimer_), retryTimer_ = 0;
  reader_.RequestStop();
  reader_.Close();
}

}  // namespace recorder::net
