#pragma once
// Process-wide registry of window targets. A window handle is a plain number;
// posting to a handle that was unregistered fails.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/message.h"

namespace platform {

// Something that can receive window messages. Deliver() is called on the
// posting thread (under the registry lock) and must only queue the message
// for the owner's thread; it returns false when it cannot take it.
class WindowTarget {
 public:
  virtual ~WindowTarget() = default;
  virtual bool Deliver(Message&& msg) = 0;
  bool Visible() const { return visible_.load(); }
  void SetVisible(bool v) { visible_.store(v); }

 private:
  std::atomic<bool> visible_{false};
};

// Registers a target; the target must outlive its registration.
WindowHandle RegisterWindow(WindowTarget* target);
// After this returns, no Deliver() call on the target is running or will start.
void UnregisterWindow(WindowHandle handle);

// A window target that forwards every window message to a thread's queue as a
// thread message with the same number (used by headless controllers).
class ThreadWindowTarget : public WindowTarget {
 public:
  explicit ThreadWindowTarget(ThreadId thread) : thread_(thread) {}
  bool Deliver(Message&& msg) override;

 private:
  ThreadId thread_;
};

// A window target that collects messages for tests and simple consumers.
class CollectingWindowTarget : public WindowTarget {
 public:
  bool Deliver(Message&& msg) override;
  // Moves out everything received so far.
  std::vector<Message> TakeAll();
  size_t Count();
  // Waits until at least n messages arrived in total (not yet taken) or the time-out passed.
  bool WaitForCount(size_t n, int timeoutMs);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Message> messages_;
};

}  // namespace platform
