#pragma once
// The worker thread of one network camera: connects, requests images over HTTP
// (or downloads them over FTP), runs them through the frame pipeline, saves them
// and reconnects after every failure. Also serves as a short-lived snapshot worker
// that fetches one test image for a window.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sys/socket.h>

#include "media/frame_image.h"
#include "recorder/net/camera_url.h"
#include "recorder/net/ftp_fetch.h"
#include "recorder/net/stream_cutter.h"
#include "recorder/worker/camera_worker.h"

namespace recorder::net {

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
  long ftpTimeoutMs = kFtpTimeoutMs;  // a whole FTP download, however slowly data still comes
};

class CSocThread : public worker::CameraWorker {
 public:
  CSocThread(worker::WorkerParams params, WorkerTiming timing = {});
  ~CSocThread() override;

  // Starts a worker; null without a record. Returns its handle (id via Id()).
  static platform::ThreadHandlePtr Start(worker::WorkerParams params, WorkerTiming timing = {});

 protected:
  std::string LoggedName() const override;  // the address without its password
  // Recording: the output, then the first connect or download; snapshot: only the fetch.
  void OnWorkerStart() override;
  void OnSnapshotStart() override;
  void OnSocketReady(int fd, short revents) override;     // connect finished, or data came
  void OnSourceMessage(platform::Message& msg) override;  // a second picture the cutter holds
  void OnSourceTimer(uint32_t timerId) override;          // poll timer and frame wait
  void StopSource() override;                             // the timers and the socket

 private:

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
  void ReportTestImage(std::vector<uint8_t>* jpeg);  // null: no image
  void CloseSocket();
  void SetPollTimer(uint32_t ms);
  void KillPollTimer();
  // Milliseconds of the frame delay still to wait after `since`; the whole delay without a mark.
  long long RestOfFrameDelay(bool haveMark, platform::LoopClock::TimePoint since) const;

  WorkerTiming timing_;

  CameraAddress address_;
  int socket_ = -1;
  Phase phase_ = Phase::Idle;
  std::vector<Endpoint> endpoints_;  // resolved addresses of the host, tried in order
  size_t endpointIndex_ = 0;
  StreamCutter cutter_;
  uint32_t pollTimer_ = 0;
  uint32_t frameTimer_ = 0;  // ends the frame-delay wait
  // The frame waiting out the frame delay, with its motion level.
  std::unique_ptr<media::FrameRecord> pendingFrame_;
  int32_t pendingLevel_ = -1;
  platform::LoopClock::TimePoint lastFrameMark_{};
  bool haveFrameMark_ = false;
  platform::LoopClock::TimePoint ftpPollStart_{};

  // The start of the current connection's answer, until its status is known.
  std::string answerHead_;
  bool answerDecided_ = false;
  std::string errorStatusLine_;  // set when the answer was an error

  // Outages: from the first failure until a picture decodes again. "Started" is
  // shown while pictures decode; the first failure of an outage is logged, whatever
  // its kind, and so is its end, once.
  bool started_ = false;
  bool outageLogged_ = false;
};

}  // namespace recorder::net
