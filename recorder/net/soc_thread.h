#pragma once
// The worker thread of one network camera: connects, requests images over HTTP
// (or downloads them over FTP), runs them through the frame pipeline, saves them
// and reconnects after every failure. Also serves as a short-lived snapshot worker
// that fetches one test image for a window.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/message_thread.h"
#include "recorder/camera/camera_record.h"
#include "recorder/recording/recording_output.h"
#include "recorder/frame/alarm_sound.h"
#include "media/frame_image.h"
#include "recorder/frame/motion_detector.h"
#include "recorder/net/camera_url.h"
#include "recorder/net/stream_cutter.h"

namespace recorder::net {

struct WorkerParams {
  std::unique_ptr<camera::CameraRecord> record;  // the worker's own deep copy
  bool resume = false;                         // append to the existing recording
  platform::ThreadId logThreadId = 0;
  platform::WindowHandle mainWindow = 0;       // status, stop and registration messages
  platform::WindowHandle liveViewWindow = 0;   // frames while it is visible; 0 for none
  platform::WindowHandle snapshotTarget = 0;   // non-zero: snapshot worker reporting to this window
  std::shared_ptr<frame::SoundPlayer> soundPlayer;  // null: the desktop player
};

// Connection and fetch timing; fixed in production, shortened only by tests.
struct WorkerTiming {
  uint32_t retryMs = 1000;      // after a failed connect, a closed connection, a failed FTP poll
  uint32_t watchdogMs = 10000;  // no image since the request or the previous image
  uint32_t soundDelayMs = 1000;
  int connectTimeoutMs = 5000;
};

class CSocThread : public platform::MessageThread, private recording::RecordingReporter {
 public:
  explicit CSocThread(WorkerParams params, WorkerTiming timing = {});
  ~CSocThread() override;

  // Creates the worker suspended and resumes it. Returns its handle (id via Id()).
  static platform::ThreadHandlePtr Start(WorkerParams params, WorkerTiming timing = {});

 protected:
  bool InitInstance() override;
  int ExitInstance() override;
  void OnMessage(platform::Message& msg) override;
  void OnTimer(uint32_t timerId) override;
  void OnSocketReady(int fd, short revents) override;

 private:
  // RecordingReporter
  void ReportStatus(int32_t status) override;
  void ReportEvent(int32_t code, const std::string& argument) override;
  bool StopRequested() const override;

  void OnWorkerStart();
  void OnSnapshotStart();
  void ConnectAndRequest();
  void FtpPoll();
  void HandleReceive();
  void ProcessImage(std::vector<uint8_t> jpeg);
  void ReportTestImage(std::vector<uint8_t>* jpeg);  // null: no image
  void EndWorker(int32_t reason);
  void CloseSocket();
  void SetPollTimer(uint32_t ms);
  void KillPollTimer();
  bool IsSnapshot() const { return snapshotTarget_ != 0; }
  std::string LoggedUrl() const;

  std::unique_ptr<camera::CameraRecord> record_;
  bool resume_;
  platform::ThreadId logThreadId_;
  platform::WindowHandle mainWindow_;
  platform::WindowHandle liveViewWindow_;
  platform::WindowHandle snapshotTarget_;
  std::shared_ptr<frame::SoundPlayer> soundPlayer_;
  WorkerTiming timing_;

  CameraAddress address_;
  int socket_ = -1;
  StreamCutter cutter_;
  frame::MotionDetector detector_;
  std::unique_ptr<recording::RecordingOutput> output_;
  bool connectFailLogged_ = false;
  bool stopping_ = false;
  uint32_t pollTimer_ = 0;
  uint32_t soundTimer_ = 0;
  // The last frame record when no live view took it: its pixel buffer is reused
  // for the next picture of the same size, so decoding neither allocates nor clears.
  std::unique_ptr<media::FrameRecord> spareRecord_;
  std::chrono::steady_clock::time_point lastFrameMark_{};
  bool haveFrameMark_ = false;
};

}  // namespace recorder::net
