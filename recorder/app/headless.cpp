#include "recorder/app/headless.h"

#include <signal.h>

#include <cstdio>
#include <iostream>
#include <thread>

#include "platform/message_thread.h"
#include "platform/window_registry.h"
#include "recorder/app/camera_controller.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"

namespace recorder::app {
namespace {

// The headless main thread's own messages.
struct HeadlessShutdown : platform::ThreadMessage<platform::WM_USER + 600> {};
struct HeadlessShutdownDone : platform::ThreadMessage<platform::WM_USER + 601> {};

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
    controller_->onRowChanged = [this](size_t row) {
      if (row < controller_->CameraCount()) {
        std::fprintf(stderr, "camera %zu: %s\n", row, controller_->Row(row).status.c_str());
      }
    };
    controller_->LoadSettings();
    controller_->StartLogThread(options_.logFilePath, [](const std::string& line) {
      std::fprintf(stderr, "%s\n", line.c_str());
    });
    std::fprintf(stderr, "Recording %zu camera(s); stop with Ctrl+C.\n", controller_->CameraCount());
    controller_->StartAll(true);
    return true;
  }

  int ExitInstance() override {
    if (window_) platform::UnregisterWindow(window_);
    if (waiter_.joinable()) waiter_.join();
    return 0;
  }

  void OnMessage(platform::Message& msg) override {
    if (platform::Is<HeadlessShutdown>(msg)) {
      if (shuttingDown_) return;
      shuttingDown_ = true;
      // The waits run on a background thread so that status messages are still handled.
      auto plan = controller_->BeginShutdown();
      const platform::ThreadId self = Id();
      waiter_ = std::thread([plan = std::move(plan), self] {
        CameraController::RunShutdownWaits(plan);
        platform::Post<HeadlessShutdownDone>(self);
      });
      return;
    }
    if (platform::Is<HeadlessShutdownDone>(msg)) {
      controller_->FinishShutdown();
      PostQuit(0);
      return;
    }
    if (!shuttingDown_ || !platform::Is<camera::to_main_window::CamStopped>(msg)) controller_->HandleMessage(msg);
  }

 private:
  HeadlessOptions options_;
  std::unique_ptr<platform::ThreadWindowTarget> target_;
  platform::WindowHandle window_ = 0;
  std::unique_ptr<CameraController> controller_;
  std::thread waiter_;
  bool shuttingDown_ = false;
};

}  // namespace

int RunHeadless(const HeadlessOptions& options) {
  // Signals are taken by this thread alone; every thread started below inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  auto handle = platform::MessageThread::CreateSuspended(std::make_unique<HeadlessMainThread>(options));
  if (!handle) {
    std::fprintf(stderr, "tollan: could not start the recorder thread\n");
    return 1;
  }
  platform::MessageThread::Resume(handle);

  int received = 0;
  sigwait(&signals, &received);
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
