#pragma once
// Shared pieces of the network worker tests: a stand-in log thread that records
// events, a main window that collects messages, and a temporary folder.
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_thread.h"
#include "tests/test_support.h"
#include "platform/window_registry.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"

namespace worker_test {

struct LoggedEvent {
  int32_t code;
  std::string argument;
};

// Records LOG_EVENT messages the way the log thread receives them.
class EventSink {
 public:
  EventSink() {
    auto thread = std::make_unique<SinkThread>(this);
    handle_ = platform::MessageThread::Start(std::move(thread));
  }
  ~EventSink() {
    platform::PostThreadMessage(handle_->Id(), recorder::camera::to_log::ThreadStop::kNumber, 0, 0);
    handle_->Wait(5000);
  }
  platform::ThreadId Id() const { return handle_->Id(); }
  std::vector<LoggedEvent> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  size_t CountOf(int32_t code) {
    size_t n = 0;
    for (const auto& e : Events()) n += e.code == code;
    return n;
  }

 private:
  class SinkThread : public platform::MessageThread {
   public:
    explicit SinkThread(EventSink* owner) : owner_(owner) {}

   protected:
    void OnMessage(platform::Message& msg) override {
      if (msg.id == recorder::camera::to_log::ThreadStop::kNumber) {
        PostQuit(0);
        return;
      }
      if (msg.id != recorder::camera::to_log::LogEvent::kNumber) return;
      auto text = msg.Take<std::string>();
      std::lock_guard<std::mutex> lock(owner_->mutex_);
      owner_->events_.push_back({int32_t(msg.wParam), text ? text->value : std::string()});
    }

   private:
    EventSink* owner_;
  };

  std::mutex mutex_;
  std::vector<LoggedEvent> events_;
  platform::ThreadHandlePtr handle_;
};

// Polls a condition for up to timeoutMs; the waits bound the test, they assert no speed.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

}  // namespace worker_test
