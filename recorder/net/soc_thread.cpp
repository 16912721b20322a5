#include "recorder/net/soc_thread.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "media/frame_messages.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"
#include "recorder/frame/frame_pipeline.h"
#include "media/jpeg_codec.h"
#include "recorder/net/ftp_fetch.h"

namespace recorder::net {

using namespace camera;
using media::FrameImage;
using media::FrameRecord;
namespace {

// Resolves a dotted address or a host name to an IPv4 address.
bool ResolveHost(const std::string& host, in_addr& out) {
  if (host.empty()) return false;
  if (inet_pton(AF_INET, host.c_str(), &out) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) return false;
  out = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr;
  freeaddrinfo(result);
  return true;
}

// Connects with a bounded wait; the socket stays blocking afterwards.
bool ConnectWithTimeout(int fd, const sockaddr_in& addr, int timeoutMs) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;
  int rc = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
  if (rc < 0 && errno != EINPROGRESS) return false;
  if (rc < 0) {
    pollfd p{fd, POLLOUT, 0};
    do {
      rc = poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (rc <= 0) return false;
    int err = 0;
    socklen_t len = sizeof(err);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0 || err != 0) return false;
  }
  return fcntl(fd, F_SETFL, flags) == 0;
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

CSocThread::CSocThread(WorkerParams params, WorkerTiming timing)
    : record_(std::move(params.record)),
      resume_(params.resume),
      logThreadId_(params.logThreadId),
      mainWindow_(params.mainWindow),
      liveViewWindow_(params.liveViewWindow),
      snapshotTarget_(params.snapshotTarget),
      soundPlayer_(std::move(params.soundPlayer)),
      timing_(timing) {}

CSocThread::~CSocThread() {
  if (socket_ >= 0) close(socket_);
}

platform::ThreadHandlePtr CSocThread::Start(WorkerParams params, WorkerTiming timing) {
  auto handle = platform::MessageThread::CreateSuspended(std::make_unique<CSocThread>(std::move(params), timing));
  if (handle) platform::MessageThread::Resume(handle);
  return handle;
}

bool CSocThread::InitInstance() {
  if (IsSnapshot())
    platform::Post<to_worker::SnapshotStart>(Id());
  else
    platform::Post<to_worker::WorkerStart>(Id());
  return true;
}

int CSocThread::ExitInstance() { return 0; }

std::string CSocThread::LoggedUrl() const {
  // The stored URL keeps its password; the log never shows it.
  return record_ ? camera::MaskUrlPassword(camera::GetText(record_->url)) : std::string();
}

void CSocThread::ReportStatus(int32_t status) {
  if (record_ && !IsSnapshot()) platform::Post<to_main_window::CamStatus>(mainWindow_, Id(), status);
}

void CSocThread::ReportEvent(int32_t code, const std::string& argument) {
  if (logThreadId_) camera::PostLogEvent(logThreadId_, code, argument, Id());
}

bool CSocThread::StopRequested() const { return stopping_ || StopWaiting(camera::to_worker::ThreadStop::kNumber); }

void CSocThread::OnMessage(platform::Message& msg) {
  if (stopping_) return;
  if (platform::Is<to_worker::WorkerStart>(msg))
    OnWorkerStart();
  else if (platform::Is<to_worker::SnapshotStart>(msg))
    OnSnapshotStart();
  else if (platform::Is<to_worker::ThreadStop>(msg))
    EndWorker(static_cast<int32_t>(msg.wParam));
  else if (platform::Is<to_worker::LiveViewChanged>(msg))
    liveViewWindow_ = static_cast<platform::WindowHandle>(msg.wParam);
}

void CSocThread::OnWorkerStart() {
  ReportEvent(camera::kEventSocketThreadStarted, LoggedUrl());
  if (!record_->motionGrid.empty()) detector_.SetGrid(record_->motionGrid.data(), record_->motionGrid.size());
  output_ = std::make_unique<recording::RecordingOutput>(*record_, static_cast<recording::RecordingReporter&>(*this));
  if (!output_->StartRecording(resume_)) {
    if (!stopping_) EndWorker(camera::kStopReasonStop);
    return;
  }
  if (stopping_) return;
  address_ = ParseCameraUrl(camera::GetText(record_->url));
  ReportStatus(camera::kStatusConnecting);
  if (address_.isFtp)
    FtpPoll();
  else
    ConnectAndRequest();
}

void CSocThread::OnSnapshotStart() {
  if (record_) {
    platform::Post<to_main_window::WorkerRegister>(mainWindow_, 0, Id(), Handle());
  }
  address_ = ParseCameraUrl(camera::GetText(record_->url));
  if (address_.isFtp)
    FtpPoll();
  else
    ConnectAndRequest();
}

void CSocThread::ConnectAndRequest() {
  CloseSocket();
  socket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) {
    if (IsSnapshot()) ReportTestImage(nullptr);
    ReportStatus(camera::kStatusSocCreateFailed);
    EndWorker(camera::kStopReasonStop);
    return;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(address_.port);
  const bool connected = ResolveHost(address_.host, addr.sin_addr) &&
                         ConnectWithTimeout(socket_, addr, timing_.connectTimeoutMs);
  if (!connected) {
    CloseSocket();
    if (stopping_ || StopWaiting(camera::to_worker::ThreadStop::kNumber)) return;
    if (IsSnapshot()) {
      ReportTestImage(nullptr);
      EndWorker(camera::kStopReasonStop);
      return;
    }
    ReportStatus(camera::kStatusConnecting);
    if (!connectFailLogged_) {
      ReportEvent(camera::kEventConnectFailed, address_.host);
      connectFailLogged_ = true;
    }
    SetPollTimer(timing_.retryMs);
    return;
  }
  if (connectFailLogged_) ReportEvent(camera::kEventReEstablished, address_.host);
  connectFailLogged_ = false;
  ReportStatus(camera::kStatusStarted);
  int one = 1;
  setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));

  if (!SendAll(socket_, BuildRequest(address_))) {
    CloseSocket();
    if (IsSnapshot()) ReportTestImage(nullptr);
    ReportStatus(camera::kStatusXmtFailed);
    EndWorker(camera::kStopReasonStop);
    return;
  }
  WatchSocket(socket_, POLLIN);
  SetPollTimer(timing_.watchdogMs);
}

void CSocThread::FtpPoll() {
  const auto t0 = std::chrono::steady_clock::now();
  // The address is split again for every download.
  const CameraAddress address = ParseCameraUrl(camera::GetText(record_->url));
  std::vector<uint8_t> bytes;
  const bool ok = FtpDownload(address, bytes);
  if (stopping_) return;
  if (!ok) {
    if (IsSnapshot()) {
      ReportTestImage(nullptr);
      EndWorker(camera::kStopReasonDiscard);
    } else {
      SetPollTimer(timing_.retryMs);
    }
    return;
  }
  if (IsSnapshot()) {
    ReportTestImage(&bytes);
    EndWorker(camera::kStopReasonDiscard);
    return;
  }
  ProcessImage(std::move(bytes));
  if (stopping_) return;
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  const long long wait = static_cast<long long>(record_->frameDelayMs) - elapsed;
  SetPollTimer(wait > 0 ? static_cast<uint32_t>(wait) : 0);
}

void CSocThread::OnSocketReady(int fd, short revents) {
  if (stopping_ || fd != socket_) return;
  HandleReceive();
}

void CSocThread::HandleReceive() {
  std::vector<uint8_t> image;
  const int fd = socket_;
  const auto outcome = cutter_.OnReadable(
      [fd](uint8_t* dst, size_t max) -> ssize_t {
        ssize_t n;
        do {
          n = recv(fd, dst, max, 0);
        } while (n < 0 && errno == EINTR);
        return n;
      },
      image);
  switch (outcome) {
    case StreamCutter::Outcome::NeedMore:
      return;
    case StreamCutter::Outcome::BufferFullRestart:
      CloseSocket();
      ReportEvent(camera::kEventBufferFullRestart, address_.host);
      SetPollTimer(timing_.retryMs);
      return;
    case StreamCutter::Outcome::BufferFullExit:
      CloseSocket();
      ReportEvent(camera::kEventBufferFullExit, address_.host);
      EndWorker(camera::kStopReasonStop);
      return;
    case StreamCutter::Outcome::Closed:
      ReportEvent(camera::kEventSocketClosed, address_.host);
      CloseSocket();
      SetPollTimer(timing_.retryMs);
      return;
    case StreamCutter::Outcome::Image:
      break;
  }
  if (IsSnapshot()) {
    CloseSocket();
    ReportTestImage(&image);
    EndWorker(camera::kStopReasonDiscard);
    return;
  }
  if (!record_->pushStream) {
    // A snapshot address answers one picture per connection; the next fetch opens
    // a new one, so the server's close that follows is not an error.
    CloseSocket();
  }
  ProcessImage(std::move(image));
}

void CSocThread::ProcessImage(std::vector<uint8_t> jpeg) {
  KillPollTimer();
  std::unique_ptr<media::FrameRecord> record = std::move(spareRecord_);
  if (record) {
    media::FrameImage pixels = std::move(record->image);
    *record = media::FrameRecord{};
    record->image = std::move(pixels);
  } else {
    record = std::make_unique<media::FrameRecord>();
  }
  bool decoded = media::DecodeJpeg(jpeg.data(), jpeg.size(), record->image);
  jpeg.clear();
  jpeg.shrink_to_fit();
  if (decoded) {
    const frame::PipelineResult result = frame::RunFramePipeline(*record, *record_, detector_);
    if (result.triggered) {
      output_->OnMotionTrigger();
      if (record_->motionSound && soundTimer_ == 0) soundTimer_ = SetTimer(timing_.soundDelayMs);
    }

    // Frame pacing: at most one processed frame per frameDelayMs.
    if (!address_.isFtp) {
      const auto now = std::chrono::steady_clock::now();
      long long wait = record_->frameDelayMs;
      if (haveFrameMark_)
        wait -= std::chrono::duration_cast<std::chrono::milliseconds>(now - lastFrameMark_).count();
      if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
    lastFrameMark_ = std::chrono::steady_clock::now();
    haveFrameMark_ = true;

    if (output_->ShouldSave()) {
      if (output_->SaveFrame(record->image) == recording::RecordingOutput::SaveResult::Fatal) {
        EndWorker(camera::kStopReasonStop);
        return;
      }
      if (stopping_) return;
    }

    if (platform::IsWindowVisible(liveViewWindow_)) {
      const int32_t triggered = record->triggered;
      platform::Post<media::ShowFrameRecord>(liveViewWindow_, std::move(record));
      platform::Post<to_live_view::MotionLevel>(liveViewWindow_, result.level, triggered);
    } else {
      spareRecord_ = std::move(record);
    }
  }

  if (record_->pushStream)
    SetPollTimer(timing_.watchdogMs);
  else if (!address_.isFtp)
    SetPollTimer(0);
}

void CSocThread::ReportTestImage(std::vector<uint8_t>* jpeg) {
  if (jpeg && !jpeg->empty()) {
    const intptr_t length = static_cast<intptr_t>(jpeg->size());
    platform::Post<media::ShowFrame>(snapshotTarget_, 1, length, std::move(*jpeg));
  } else {
    platform::Post<media::ShowFrame>(snapshotTarget_, 0, 0);
  }
}

void CSocThread::OnTimer(uint32_t timerId) {
  if (timerId == soundTimer_ && soundTimer_ != 0) {
    soundTimer_ = 0;
    if (stopping_) return;
    if (!soundPlayer_) soundPlayer_ = frame::CreateDesktopSoundPlayer();
    if (soundPlayer_) soundPlayer_->Play(camera::GetText(record_->soundFile));
    return;
  }
  if (timerId != pollTimer_ || pollTimer_ == 0) return;
  pollTimer_ = 0;
  if (stopping_) return;
  if (IsSnapshot()) {
    // The connection stays open: a later image is still reported.
    ReportTestImage(nullptr);
    return;
  }
  if (address_.isFtp) {
    FtpPoll();
  } else {
    CloseSocket();
    ConnectAndRequest();
  }
}

void CSocThread::EndWorker(int32_t reason) {
  if (stopping_) return;
  stopping_ = true;
  if (output_) {
    output_->SetStopping();
    output_->StopRecording();
  }
  KillPollTimer();
  if (soundTimer_) KillTimer(soundTimer_), soundTimer_ = 0;
  if (reason != camera::kStopReasonDiscard && record_)
    platform::Post<to_main_window::CamStopped>(mainWindow_, Id(), reason);
  if (IsSnapshot()) {
    if (record_) platform::Post<to_main_window::WorkerUnregister>(mainWindow_, 0, Id());
  } else {
    ReportEvent(camera::kEventSocketThreadExited, LoggedUrl());
  }
  CloseSocket();
  PostQuit(0);
}

void CSocThread::CloseSocket() {
  if (socket_ >= 0) {
    UnwatchSocket(socket_);
    close(socket_);
    socket_ = -1;
  }
  cutter_.Reset();
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
