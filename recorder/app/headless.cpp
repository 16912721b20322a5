#include "recorder/app/headless.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/message_thread.h"
#include "platform/timecode.h"
#include "platform/window_registry.h"
#include "recorder/app/camera_controller.h"
#include "recorder/app/live_serving.h"
#include "recorder/camera/events.h"
#include "recorder/camera/field_table.h"
#include "recorder/camera/messages.h"
#include "recorder/camera/settings_check.h"
#include "recorder/camera/settings_lock.h"

namespace recorder::app {
namespace {

// The headless main thread's own messages, posted by the signal waiter and by
// the log thread's echo.
struct HeadlessShutdown : platform::ThreadMessage<platform::WM_USER + 600> {};
struct HeadlessHealth : platform::ThreadMessage<platform::WM_USER + 601> {};
struct EchoedLine {
  std::string line;
  platform::ThreadId source = 0;
};
struct HeadlessLogLine : platform::ThreadMessage<platform::WM_USER + 602, EchoedLine> {};

constexpr uint32_t kRetryCheckMs = 1000;

std::string TimeText(int64_t when) {
  if (when <= 0) return "never";
  const std::time_t t = static_cast<std::time_t>(when);
  std::tm local{};
  localtime_r(&t, &local);
  return platform::FormatTime("%Y-%m-%d %H:%M:%S", local);
}

// The thread that plays the main window: it owns the controller and receives the
// workers' window messages through a window handle that forwards to its queue.
class HeadlessMainThread : public platform::MessageThread {
 public:
  explicit HeadlessMainThread(HeadlessOptions options) : options_(std::move(options)) {}

 protected:
  bool InitInstance() override {
    target_ = std::make_unique<platform::ThreadWindowTarget>(Id());
    window_ = platform::RegisterWindow(target_.get());
    controller_ = std::make_unique<CameraController>(options_.settingsPath, window_);
    controller_->SetRetryAfterFailure(options_.retryMs);
    controller_->SetClock(SharedClock());
    controller_->AddObserver([this](const RowEvent& event) {
      if (event.kind == RowEvent::Kind::Changed && (event.changes & kRowStatus) &&
          event.row < controller_->CameraCount()) {
        std::fprintf(stderr, "%s: %s\n", Label(event.row).c_str(), controller_->Row(event.row).status.c_str());
      }
    });
    controller_->onRetry = [this](size_t row, const std::string& failure) {
      std::fprintf(stderr, "%s: starting again after \"%s\"\n", Label(row).c_str(), failure.c_str());
    };
    controller_->onShutdownComplete = [this] { PostQuit(0); };
    controller_->LoadSettings();
    const platform::ThreadId self = Id();
    // The echo runs on the log thread; the line is printed here, where the rows are.
    controller_->StartLogThread(options_.logFilePath, [self](const std::string& line, platform::ThreadId source) {
      if (!platform::Post<HeadlessLogLine>(self, 0, 0, EchoedLine{line, source}))
        std::fprintf(stderr, "%s\n", line.c_str());
    });
    std::fprintf(stderr, "Settings file: %s\n", options_.settingsPath.c_str());
    std::fprintf(stderr, "Recording %zu camera(s); stop with Ctrl+C, health lines with SIGUSR1.\n",
                 controller_->CameraCount());
    StartServing();
    controller_->StartAll(true);
    retryTimer_ = SetTimer(kRetryCheckMs);
    healthTimer_ = SetTimer(static_cast<uint32_t>(options_.healthIntervalMs));
    return true;
  }

  int ExitInstance() override {
    if (window_) platform::UnregisterWindow(window_);
    serving_.reset();
    controller_.reset();
    return 0;
  }

  void OnMessage(platform::Message& msg) override {
    if (platform::Is<HeadlessShutdown>(msg)) {
      stopping_ = true;
      if (serving_) serving_->Stop();
      controller_->Shutdown();
    } else if (platform::Is<HeadlessHealth>(msg)) {
      PrintHealth();
    } else if (platform::Is<HeadlessLogLine>(msg)) {
      const EchoedLine echoed = platform::Take<HeadlessLogLine>(msg);
      const long row = controller_->FindRowByWorker(echoed.source);
      if (row >= 0)
        std::fprintf(stderr, "%s: %s\n", Label(size_t(row)).c_str(), echoed.line.c_str());
      else
        std::fprintf(stderr, "%s\n", echoed.line.c_str());
    } else {
      controller_->HandleMessage(msg);
    }
  }

  void OnTimer(uint32_t timerId) override {
    if (stopping_) return;
    if (timerId == retryTimer_) {
      controller_->RunDueRetries();
      retryTimer_ = SetTimer(kRetryCheckMs);
    } else if (timerId == healthTimer_) {
      PrintHealth();
      healthTimer_ = SetTimer(static_cast<uint32_t>(options_.healthIntervalMs));
    }
  }

 private:
  // "camera 2", or "camera 2 (front-door)" for a named camera.
  std::string Label(size_t row) const {
    if (row >= controller_->CameraCount() || !controller_->Row(row).record) return "camera " + std::to_string(row);
    return camera::CameraLabel(row, *controller_->Row(row).record);
  }

  // Serving live pictures, when the settings ask for it, before the first worker
  // starts; a refusal leaves the recording alone.
  void StartServing() {
    serving_ = std::make_unique<LiveServing>(*controller_);
    const std::string message = serving_->Apply();
    if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
  }

  void PrintHealth() {
    for (size_t i = 0; i < controller_->CameraCount(); ++i) {
      const CameraRow& row = controller_->Row(i);
      std::string status = row.status;
      if (!row.failure.empty() && row.workerId == 0) status += " (" + row.failure + ")";
      const std::string file = row.health.currentFile.empty() ? "-" : row.health.currentFile;
      std::fprintf(stderr, "%s: health: %s, %lld frame(s) saved, last saved %s, file %s\n", Label(i).c_str(),
                   status.c_str(), static_cast<long long>(row.FramesSaved()),
                   TimeText(row.health.lastSavedTime).c_str(), file.c_str());
    }
  }

  HeadlessOptions options_;
  std::unique_ptr<platform::ThreadWindowTarget> target_;
  platform::WindowHandle window_ = 0;
  std::unique_ptr<CameraController> controller_;
  std::unique_ptr<LiveServing> serving_;
  uint32_t retryTimer_ = 0;
  uint32_t healthTimer_ = 0;
  bool stopping_ = false;
};

}  // namespace

int RunHeadless(const HeadlessOptions& options) {
  const std::string problem = camera::SettingsFileProblem(options.settingsPath);
  if (!problem.empty()) {
    std::fprintf(stderr, "tollan: %s\n", problem.c_str());
    return 1;
  }
  camera::FileLock runLock;
  std::string lockError;
  if (!runLock.Acquire(camera::RunLockPath(options.settingsPath), false, &lockError)) {
    if (lockError == "held")
      std::fprintf(stderr, "Another recorder is already running with %s\n", options.settingsPath.c_str());
    else
      std::fprintf(stderr, "tollan: %s\n", lockError.c_str());
    return 1;
  }

  // Signals are taken by this thread alone; every thread started below inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);  // a closed terminal or SSH session stops in order too
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  auto handle = platform::MessageThread::Start(std::make_unique<HeadlessMainThread>(options));
  if (!handle) {
    std::fprintf(stderr, "tollan: could not start the recorder thread\n");
    return 1;
  }

  int received = 0;
  do {
    received = 0;
    sigwait(&signals, &received);
    if (received == SIGUSR1) platform::Post<HeadlessHealth>(handle->Id());
  } while (received == SIGUSR1);
  std::fprintf(stderr, "Stopping all cameras...\n");
  platform::Post<HeadlessShutdown>(handle->Id());
  // Workers get 25 s each and the log thread 5 s; past that the program ends anyway.
  if (!handle->Wait(120000)) {
    std::fprintf(stderr, "tollan: shutdown did not finish in time\n");
    return 1;
  }
  std::fprintf(stderr, "Stopped.\n");
  return 0;
}

}  // namespace recorder::app
