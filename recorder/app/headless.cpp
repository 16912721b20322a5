#include "recorder/app/headless.h"

#include <signal.h>

#include <cstdio>
#include <iostream>

#include "platform/message_thread.h"
#include "platform/window_registry.h"
#include "recorder/app/camera_controller.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"

namespace recorder::app {
namespace {

// Asks the headless main thread to shut down (posted by the signal waiter).
struct HeadlessShutdown : platform::ThreadMessage<platform::WM_USER + 600> {};

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
    controller_->AddObserver([this](const RowEvent& event) {
      if (event.kind == RowEvent::Kind::Changed && (event.changes & kRowStatus) &&
          event.row < controller_->CameraCount()) {
        std::fprintf(stderr, "camera %zu: %s\n", event.row, controller_->Row(event.row).status.c_str());
      }
    });
    controller_->onShutdownComplete = [this] { PostQuit(0); };
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
    controller_.reset();
    return 0;
  }

  void OnMessage(platform::Message& msg) override {
    if (platform::Is<HeadlessShutdown>(msg)) {
      controller_->Shutdown();
      return;
    }
    controller_->HandleMessage(msg);
  }

 private:
  HeadlessOptions options_;
  std::unique_ptr<platform::ThreadWindowTarget> target_;
  platform::WindowHandle window_ = 0;
  std::unique_ptr<CameraController> controller_;
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
