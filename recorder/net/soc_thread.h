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

#include <sys/socket.h>

#include "platform/message_thread.h"
#include "recorder/camera/camera_record.h"
#include "recorder/recording/frame_records.h"
#include "recorder/recording/health_tally.h"
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
  // After an error answer: cameras lock accounts after repeated failed logins.
  uint32_t errorRetryMs = 10000;
  // Least pause after a picture that cannot be decoded (snapshot and FTP cameras).
  uint32_t undecodablePauseMs = 1000;
  long ftpTimeoutMs = 20000;    // a whole FTP download, however slowly data still comes
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

  // Where the HTTP side of the worker stands; the poll timer and socket
  // readiness mean different things in each.
  enum class Phase {
    Idle,        // no socket in use; the poll timer starts the next fetch
    Connecting,  // non-blocking connect under way; the poll timer is its time limit
    Receiving,   // request sent; the poll timer is the watchdog
    FrameWait,   // a frame waits out the frame delay; the socket is not watched
  };
  struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
    int family = 0;
  };

  void OnWorkerStart();
  void OnSnapshotStart();
  void ConnectAndRequest();
  void ConnectNextEndpoint();
  void OnConnectReady();
  void OnConnected();
  void OnConnectFailed();
  void OnErrorAnswer(const std::string& statusLine);
  void FtpPoll();
  void HandleReceive();
  void HandleHeldImage();
  void OnImage(std::vector<uint8_t> image);
  // Looks at the first bytes of a connection's answer; true when they were an error.
  bool CheckAnswer(const uint8_t* data, size_t size);
  void ProcessImage(std::vector<uint8_t> jpeg);
  // The save step of ProcessImage onward, after the frame delay.
  void FinishFrame();
  void OnUndecodable();
  void ScheduleNextFetch(bool afterUndecodable);
  // A fetch failed: "Connecting..." once, until a picture decodes again.
  void BeginOutage();
  // Logs a failure event when it is the first of the current outage; later
  // failures of the same outage are not logged.
  void ReportFailure(int32_t code, const std::string& argument);
  // A picture decoded: the outage, if any, is over, and its end is logged when its start was.
  void EndOutage();
  void NoteSavedFrame();
  void ReportTestImage(std::vector<uint8_t>* jpeg);  // null: no image
  void EndWorker(int32_t reason);
  void CloseSocket();
  void SetPollTimer(uint32_t ms);
  void KillPollTimer();
  bool IsSnapshot() const { return snapshotTarget_ != 0; }
  // Milliseconds of the frame delay still to wait after `since`; the whole delay without a mark.
  long long RestOfFrameDelay(bool haveMark, std::chrono::steady_clock::time_point since) const;
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
  Phase phase_ = Phase::Idle;
  std::vector<Endpoint> endpoints_;  // resolved addresses of the host, tried in order
  size_t endpointIndex_ = 0;
  StreamCutter cutter_;
  frame::MotionDetector detector_;
  std::unique_ptr<recording::RecordingOutput> output_;
  bool stopping_ = false;
  uint32_t pollTimer_ = 0;
  uint32_t soundTimer_ = 0;
  uint32_t frameTimer_ = 0;  // ends the frame-delay wait
  // Frame records, reused while no live view takes them: a picture of the same size
  // is decoded into the last one's pixel buffer without allocating or clearing.
  recording::FrameRecords frameRecords_;
  // The frame waiting out the frame delay, with its motion level.
  std::unique_ptr<media::FrameRecord> pendingFrame_;
  int32_t pendingLevel_ = -1;
  std::chrono::steady_clock::time_point lastFrameMark_{};
  bool haveFrameMark_ = false;
  std::chrono::steady_clock::time_point ftpPollStart_{};

  // The start of the current connection's answer, until its status is known.
  std::string answerHead_;
  bool answerDecided_ = false;
  std::string errorStatusLine_;  // set when the answer was an error

  // Outages: from the first failure until a picture decodes again. "Started" is
  // shown while pictures decode; the first failure of an outage is logged, whatever
  // its kind, and so is its end, once.
  bool started_ = false;
  bool outageLogged_ = false;

  // Health figures for the main window.
  recording::HealthTally healthTally_;
};

}  // namespace recorder::net
