#pragma once
// The worker thread of one RTSP camera (an IP camera whose address starts with
// rtsp:// or rtsps://): opens the stream, takes one decoded picture per handler
// and posts itself the next read, so that stops, timers and other messages are
// handled between pictures. Outages are reported as for a motion-JPEG push stream
// and the stream is opened again after a pause. Also serves as the short-lived
// snapshot worker of the IP camera dialog's connection test.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/message.h"
#include "recorder/net/rtsp_reader.h"
#include "recorder/worker/camera_worker.h"

namespace recorder::net {

namespace to_rtsp_worker {
// Posted by an RTSP worker to itself: open the stream or read its next picture.
struct ReadNext : platform::ThreadMessage<platform::WM_USER + 530> {};
}  // namespace to_rtsp_worker

// Fixed in production, shortened only by tests.
struct RtspTiming {
  uint32_t retryMs = 1000;       // after a failed open or a lost stream
  uint32_t authRetryMs = 10000;  // after a refused login: cameras lock accounts after repeated failures
  int connectTimeoutMs = 5000;
  int noPictureTimeoutMs = 10000;  // the watchdog: no decoded picture for this long ends the session
  uint32_t soundDelayMs = 1000;
};

// Whether an address is read as an RTSP stream: rtsp:// or rtsps://, case-insensitively.
bool IsRtspAddress(const std::string& url);
// The transport the camera's rtspTransport field names (tcp unless it says udp).
RtspTransport TransportOf(const camera::CameraRecord& camera);
// Whether only key frames need decoding: the frame delay takes at most one picture
// per key-frame interval anyway. Unknown (0) or very long intervals (over 5 s,
// near the no-picture watchdog) keep every picture decoded.
bool DecodeKeyFramesOnly(int64_t keyIntervalUs, int32_t frameDelayMs);

class RtspCamThread : public worker::CameraWorker {
 public:
  RtspCamThread(worker::WorkerParams params, RtspTiming timing = {});
  ~RtspCamThread() override;

  // Starts a worker; null without a record.
  static platform::ThreadHandlePtr Start(worker::WorkerParams params, RtspTiming timing = {});

 protected:
  std::string LoggedName() const override;  // the address without its password
  void OnWorkerStart() override;
  void OnSnapshotStart() override;
  void OnSourceMessage(platform::Message& msg) override;
  void OnSourceTimer(uint32_t timerId) override;
  void StopSource() override;

 private:
  void PostNext();
  // Opens the stream when it is closed, else reads and handles one picture.
  void Step();
  void OnFailure(const RtspResult& result);
  void OnPicture(const RtspPicture& picture);
  // Decides, from the key frames seen, whether only key frames need decoding.
  void NoteKeyFrame(const RtspPicture& picture);
  // The one place a decoded picture becomes what the frame path takes.
  bool ToFrame(const RtspPicture& picture, media::FrameRecord& frame);
  void ReportSnapshot(const RtspPicture* picture, const std::string& reason);
  RtspOptions Options() const;

  RtspTiming timing_;
  std::string url_;
  std::string server_;  // the address with its password masked: what log lines name
  RtspReader reader_;
  PictureConverter converter_;
  uint32_t retryTimer_ = 0;

  // Pacing: the next picture is measured and saved at or after this time.
  platform::LoopClock::TimePoint nextDue_{};
  bool haveDue_ = false;
  // The stream's time between the last two pictures decoded.
  int64_t lastPtsUs_ = -1;
  int64_t pictureIntervalUs_ = 0;

  // Key frames: the time stamp of the last one, the interval between the last two,
  // and whether the decoder skips the others.
  int64_t lastKeyUs_ = -1;
  int64_t keyIntervalUs_ = 0;
  bool keyFramesOnly_ = false;

  // Outages, as for a push stream: "Started" while pictures come; the first
  // failure of an outage is logged and so is its end.
  bool started_ = false;
  bool outageLogged_ = false;
  bool unconvertibleLogged_ = false;  // until a picture converts again
};

}  // namespace recorder::net
