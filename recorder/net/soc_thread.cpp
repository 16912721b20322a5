#include "recorder/net/soc_thread.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "media/frame_messages.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"
#include "recorder/net/ftp_fetch.h"

namespace recorder::net {

using namespace camera;
using media::FrameImage;
using media::FrameRecord;

namespace {

uint32_t TimerDelay(long long ms) { return ms > 0 ? static_cast<uint32_t>(std::min<long long>(ms, UINT32_MAX)) : 0; }

bool SetBlocking(int fd, bool blocking) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  return fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

bool SendAll(int fd, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += size_t(n);
  }
  return true;
}

}  // namespace

CSocThread::CSocThread(worker::WorkerParams params, WorkerTiming timing)
    : CameraWorker(std::move(params), {kEventSocketThreadStarted, kEventSocketThreadExited}, timing.soundDelayMs),
      timing_(timing) {}

CSocThread::~CSocThread() {
  if (socket_ >= 0) close(socket_);
}

platform::ThreadHandlePtr CSocThread::Start(worker::WorkerParams params, WorkerTiming timing) {
  return Launch<CSocThread>(std::move(params), timing);
}

std::string CSocThread::LoggedName() const {
  // The stored URL keeps its password; the log never shows it.
  return camera::MaskUrlPassword(camera::GetText(Camera().url));
}

void CSocThread::OnSourceMessage(platform::Message& msg) {
  if (platform::Is<to_worker::CutHeldImage>(msg)) HandleHeldImage();
}

void CSocThread::OnWorkerStart() {
  if (!StartOutput()) return;
  address_ = ParseCameraUrl(camera::GetText(Camera().url));
  ReportStatus(camera::kStatusConnecting);
  if (address_.isFtp)
    FtpPoll();
  else
    ConnectAndRequest();
}

void CSocThread::OnSnapshotStart() {
  address_ = ParseCameraUrl(camera::GetText(Camera().url));
  if (address_.isFtp)
    FtpPoll();
  else
    ConnectAndRequest();
}

// ------------------------------------------------------------------ connecting

void CSocThread::ConnectAndRequest() {
  CloseSocket();
  endpoints_.clear();
  endpointIndex_ = 0;
  // Names and literals of either family; a numeric host resolves without a lookup.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* result = nullptr;
  const std::string port = std::to_string(address_.port);
  if (!address_.host.empty() && getaddrinfo(address_.host.c_str(), port.c_str(), &hints, &result) == 0) {
    for (const addrinfo* ai = result; ai; ai = ai->ai_next) {
      if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
      Endpoint e;
      std::memcpy(&e.address, ai->ai_addr, ai->ai_addrlen);
      e.length = ai->ai_addrlen;
      e.family = ai->ai_family;
      endpoints_.push_back(e);
    }
    freeaddrinfo(result);
  }
  ConnectNextEndpoint();
}

// Starts a non-blocking connect to the next address; the loop watches it, so
// messages are handled while a silent address keeps it waiting.
void CSocThread::ConnectNextEndpoint() {
  while (endpointIndex_ < endpoints_.size()) {
    const Endpoint& e = endpoints_[endpointIndex_++];
    socket_ = socket(e.family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket_ < 0) {
      if (errno == EAFNOSUPPORT) continue;  // no IPv6 (or IPv4) here: try the other family
      if (IsSnapshot()) ReportTestImage(nullptr);
      ReportStatus(camera::kStatusSocCreateFailed);
      EndWorker(camera::kStopReasonStop);
      return;
    }
    int rc;
    do {
      rc = connect(socket_, reinterpret_cast<const sockaddr*>(&e.address), e.length);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) {
      OnConnected();
      return;
    }
    if (errno == EINPROGRESS) {
      phase_ = Phase::Connecting;
      WatchSocket(socket_, POLLOUT);
      SetPollTimer(static_cast<uint32_t>(std::max(timing_.connectTimeoutMs, 0)));
      return;
    }
    CloseSocket();
  }
  OnConnectFailed();
}

void CSocThread::OnConnectReady() {
  int err = 0;
  socklen_t len = sizeof(err);
  if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
  if (err == 0) {
    KillPollTimer();
    OnConnected();
    return;
  }
  CloseSocket();
  ConnectNextEndpoint();
}

void CSocThread::OnConnectFailed() {
  KillPollTimer();
  CloseSocket();
  if (IsSnapshot()) {
    ReportTestImage(nullptr);
    EndWorker(camera::kStopReasonStop);
    return;
  }
  BeginOutage();
  ReportFailure(camera::kEventConnectFailed, address_.host);
  SetPollTimer(timing_.retryMs);
}

void CSocThread::OnConnected() {
  int one = 1;
  setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));

  // Blocking from here on: the request is sent whole, and a receive after a
  // readiness notification never waits.
  if (!SetBlocking(socket_, true) || !SendAll(socket_, BuildRequest(address_))) {
    CloseSocket();
    if (IsSnapshot()) ReportTestImage(nullptr);
    ReportStatus(camera::kStatusXmtFailed);
    EndWorker(camera::kStopReasonStop);
    return;
  }
  answerHead_.clear();
  answerDecided_ = false;
  errorStatusLine_.clear();
  phase_ = Phase::Receiving;
  WatchSocket(socket_, POLLIN);
  SetPollTimer(timing_.watchdogMs);
}

void CSocThread::OnErrorAnswer(const std::string& statusLine) {
  KillPollTimer();
  CloseSocket();
  if (IsSnapshot()) {
    ReportTestImage(nullptr);
    EndWorker(camera::kStopReasonDiscard);
    return;
  }
  ReportFailure(camera::kEventCameraAnsweredError, address_.host + " (" + statusLine + ")");
  BeginOutage();
  SetPollTimer(timing_.errorRetryMs);
}

void CSocThread::BeginOutage() {
  if (!started_) return;  // "Connecting..." is already shown
  started_ = false;
  ReportStatus(camera::kStatusConnecting);
}

void CSocThread::ReportFailure(int32_t code, const std::string& argument) {
  if (outageLogged_) return;
  outageLogged_ = true;
  ReportEvent(code, argument);
}

void CSocThread::EndOutage() {
  if (outageLogged_) ReportEvent(camera::kEventReEstablished, address_.host);
  outageLogged_ = false;
}

// ------------------------------------------------------------------------ FTP

void CSocThread::FtpPoll() {
  ftpPollStart_ = Clock().Now();
  // The address is split again for every download.
  const CameraAddress address = ParseCameraUrl(camera::GetText(Camera().url));
  std::vector<uint8_t> bytes;
  FtpRequest request;
  request.stopRequested = [this] { return StopRequested(); };
  request.timeUp = [this] { return Clock().MsSince(ftpPollStart_) >= timing_.ftpTimeoutMs; };
  std::string reason;
  const bool ok = FtpDownload(address, bytes, request, &reason);
  // A stop that cut the download short is handled by the loop next.
  if (StopRequested()) return;
  if (!ok) {
    if (IsSnapshot()) {
      ReportTestImage(nullptr);
      EndWorker(camera::kStopReasonDiscard);
      return;
    }
    ReportFailure(camera::kEventFtpDownloadFailed, address.host + " " + reason);
    BeginOutage();
    SetPollTimer(timing_.retryMs);
    return;
  }
  if (IsSnapshot()) {
    ReportTestImage(&bytes);
    EndWorker(camera::kStopReasonDiscard);
    return;
  }
  ProcessImage(std::move(bytes));
}

// -------------------------------------------------------------------- receive

void CSocThread::OnSocketReady(int fd, short revents) {
  if (Stopping() || fd != socket_) return;
  if (phase_ == Phase::Connecting)
    OnConnectReady();
  else if (phase_ == Phase::Receiving)
    HandleReceive();
}

bool CSocThread::CheckAnswer(const uint8_t* data, size_t size) {
  const size_t take = std::min(size, kAnswerHeadLimit - answerHead_.size());
  answerHead_.append(reinterpret_cast<const char*>(data), take);
  switch (ClassifyAnswer(answerHead_, &errorStatusLine_)) {
    case AnswerStart::Undecided:
      return false;
    case AnswerStart::Error:
      answerDecided_ = true;
      return true;
    case AnswerStart::NotHttp:
    case AnswerStart::Success:
      break;
  }
  answerDecided_ = true;
  answerHead_.clear();
  return false;
}

void CSocThread::HandleReceive() {
  std::vector<uint8_t> image;
  const int fd = socket_;
  bool errorAnswer = false;
  const auto outcome = cutter_.OnReadable(
      [this, fd, &errorAnswer](uint8_t* dst, size_t max) -> ssize_t {
        ssize_t n;
        do {
          n = recv(fd, dst, max, 0);
        } while (n < 0 && errno == EINTR);
        // Only the status line is read; the cutter still takes the bytes as they come.
        if (n > 0 && !answerDecided_) errorAnswer = CheckAnswer(dst, size_t(n));
        return n;
      },
      image);
  if (errorAnswer) {
    OnErrorAnswer(errorStatusLine_);
    return;
  }
  switch (outcome) {
    case StreamCutter::Outcome::NeedMore:
      return;
    case StreamCutter::Outcome::BufferFullRestart:
      CloseSocket();
      ReportFailure(camera::kEventBufferFullRestart, address_.host);
      SetPollTimer(timing_.retryMs);
      return;
    case StreamCutter::Outcome::BufferFullExit:
      CloseSocket();
      ReportEvent(camera::kEventBufferFullExit, address_.host);
      EndWorker(camera::kStopReasonStop);
      return;
    case StreamCutter::Outcome::Closed:
      ReportFailure(camera::kEventSocketClosed, address_.host);
      CloseSocket();
      SetPollTimer(timing_.retryMs);
      return;
    case StreamCutter::Outcome::Image:
      break;
  }
  OnImage(std::move(image));
}

void CSocThread::HandleHeldImage() {
  // Only while the stream is being read: during a frame wait the next picture waits too.
  if (socket_ < 0 || phase_ != Phase::Receiving) return;
  std::vector<uint8_t> image;
  if (cutter_.CutHeld(image) == StreamCutter::Outcome::Image) OnImage(std::move(image));
}

void CSocThread::OnImage(std::vector<uint8_t> image) {
  if (IsSnapshot()) {
    CloseSocket();
    ReportTestImage(&image);
    EndWorker(camera::kStopReasonDiscard);
    return;
  }
  if (!Camera().pushStream) {
    // A snapshot address answers one picture per connection; the next fetch opens
    // a new one, so the server's close that follows is not an error.
    CloseSocket();
  }
  ProcessImage(std::move(image));
}

// --------------------------------------------------------------------- frames

long long CSocThread::RestOfFrameDelay(bool haveMark, platform::LoopClock::TimePoint since) const {
  long long wait = Camera().frameDelayMs;
  if (haveMark) wait -= Clock().MsSince(since);
  return std::max(wait, 0LL);
}

void CSocThread::ProcessImage(std::vector<uint8_t> jpeg) {
  KillPollTimer();
  std::unique_ptr<media::FrameRecord> frame = DecodePicture(std::move(jpeg));
  if (!frame) {
    OnUndecodable();
    return;
  }

  // A picture that decodes ends every outage.
  EndOutage();
  if (!started_) {
    started_ = true;
    ReportStatus(camera::kStatusStarted);
  }

  pendingLevel_ = AnalyseFrame(*frame);
  pendingFrame_ = std::move(frame);

  // Frame pacing, HTTP only: at most one processed frame per frameDelayMs. The
  // wait is a timer so that a stop is answered at once; the socket is not watched
  // meanwhile, or its data, still waiting, would end the wait early.
  const long long wait = address_.isFtp ? 0 : RestOfFrameDelay(haveFrameMark_, lastFrameMark_);
  if (wait > 0) {
    phase_ = Phase::FrameWait;
    if (socket_ >= 0) UnwatchSocket(socket_);
    frameTimer_ = SetTimer(TimerDelay(wait));
    return;
  }
  FinishFrame();
}

void CSocThread::FinishFrame() {
  std::unique_ptr<media::FrameRecord> frame = std::move(pendingFrame_);
  if (!frame) return;
  lastFrameMark_ = Clock().Now();
  haveFrameMark_ = true;
  if (DeliverFrame(std::move(frame), pendingLevel_)) ScheduleNextFetch(false);
}

void CSocThread::OnUndecodable() {
  ReportFailure(camera::kEventImageUndecodable, address_.host);
  BeginOutage();
  ScheduleNextFetch(true);
}

void CSocThread::ScheduleNextFetch(bool afterUndecodable) {
  if (address_.isFtp) {
    // Paced from the start of the download; a picture that failed waits at least a pause.
    long long wait = RestOfFrameDelay(true, ftpPollStart_);
    if (afterUndecodable) wait = std::max<long long>(wait, timing_.undecodablePauseMs);
    SetPollTimer(TimerDelay(wait));
  } else if (Camera().pushStream) {
    // The stream goes on: take its next picture, and reconnect if none comes.
    phase_ = Phase::Receiving;
    if (socket_ >= 0) WatchSocket(socket_, POLLIN);
    SetPollTimer(timing_.watchdogMs);
    // Two pictures can come in one receive; the second is taken on the next loop
    // turn (a stop still comes first), not when more data happens to arrive.
    if (socket_ >= 0 && cutter_.fill() > 0) platform::Post<to_worker::CutHeldImage>(Id());
  } else {
    // A snapshot address is fetched again at once (the delay was waited before
    // saving); after a picture that failed, not before a pause.
    phase_ = Phase::Idle;
    long long wait = 0;
    if (afterUndecodable)
      wait = std::max<long long>(RestOfFrameDelay(haveFrameMark_, lastFrameMark_), timing_.undecodablePauseMs);
    SetPollTimer(TimerDelay(wait));
  }
}

void CSocThread::ReportTestImage(std::vector<uint8_t>* jpeg) {
  if (jpeg && !jpeg->empty()) {
    const intptr_t length = static_cast<intptr_t>(jpeg->size());
    platform::Post<media::ShowFrame>(SnapshotTarget(), 1, length, std::move(*jpeg));
  } else {
    platform::Post<media::ShowFrame>(SnapshotTarget(), 0, 0);
  }
}

// --------------------------------------------------------------------- timers

void CSocThread::OnSourceTimer(uint32_t timerId) {
  if (timerId == frameTimer_ && frameTimer_ != 0) {
    frameTimer_ = 0;
    FinishFrame();
    return;
  }
  if (timerId != pollTimer_ || pollTimer_ == 0) return;
  pollTimer_ = 0;
  if (phase_ == Phase::Connecting) {
    OnConnectFailed();  // the connect's time limit
    return;
  }
  if (IsSnapshot()) {
    // The connection stays open: a later image is still reported.
    ReportTestImage(nullptr);
    return;
  }
  if (address_.isFtp) {
    FtpPoll();
  } else {
    // While an answer is awaited the timer is the watchdog: the camera went quiet.
    // It is reconnected without a log line but shown as connecting until a picture
    // decodes again.
    if (phase_ == Phase::Receiving) BeginOutage();
    CloseSocket();
    ConnectAndRequest();
  }
}

void CSocThread::StopSource() {
  KillPollTimer();
  if (frameTimer_) KillTimer(frameTimer_), frameTimer_ = 0;
  pendingFrame_.reset();  // a frame still waiting out the delay is not saved
  CloseSocket();
}

void CSocThread::CloseSocket() {
  if (socket_ >= 0) {
    UnwatchSocket(socket_);
    close(socket_);
    socket_ = -1;
  }
  cutter_.Reset();
  if (phase_ != Phase::FrameWait) phase_ = Phase::Idle;
}

void CSocThread::SetPollTimer(uint32_t ms) {
  KillPollTimer();
  pollTimer_ = SetTimer(ms);
}

void CSocThread::KillPollTimer() {
  if (pollTimer_) {
    KillTimer(pollTimer_);
    pollTimer_ = 0;
  }
}

}  // namespace recorder::net
