#pragma once
// A thread that owns a message queue and runs one poll() loop over an eventfd
// (the queue), its timer deadlines and the sockets it watches. Everything the
// thread does happens in its handlers, one at a time.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/message.h"

namespace platform {

// Internal message numbers used by the loop itself (outside the WM_USER range).
constexpr uint32_t MSG_QUIT = 0x0012;

// A handle another thread can wait on; stays valid after the thread object is gone.
class ThreadHandle {
 public:
  explicit ThreadHandle(ThreadId id) : id_(id) {}
  ThreadId Id() const { return id_; }
  // Waits until the thread has exited. Returns false on time-out.
  bool Wait(int timeoutMs);
  bool Finished();
  void MarkFinished(int exitCode);
  int ExitCode();

 private:
  ThreadId id_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool finished_ = false;
  int exitCode_ = 0;
};
using ThreadHandlePtr = std::shared_ptr<ThreadHandle>;

class MessageThread {
 public:
  MessageThread();
  virtual ~MessageThread();
  MessageThread(const MessageThread&) = delete;
  MessageThread& operator=(const MessageThread&) = delete;

  // Starts a thread object suspended: its id and handle exist and it accepts posts,
  // but its loop runs only after Resume(). The platform owns the object from here
  // on and deletes it on the thread when its loop has ended. Returns the handle,
  // or nullptr on failure (the object is then deleted).
  static ThreadHandlePtr CreateSuspended(std::unique_ptr<MessageThread> thread);
  // Lets a suspended thread run. Safe to call once per thread.
  static void Resume(const ThreadHandlePtr& handle);

  ThreadId Id() const { return id_; }
  ThreadHandlePtr Handle() const { return handle_; }

 protected:
  // Runs first on the new thread; typically posts the start message to itself.
  // Returning false ends the thread at once.
  virtual bool InitInstance() { return true; }
  // Runs after the loop ended; the returned value is the exit code (by default
  // the code given with the quit message).
  virtual int ExitInstance() { return exitCode_; }
  // A thread message (not the quit message).
  virtual void OnMessage(Message& msg) {}
  // A thread timer fired. Timers are one-shot: the timer is already gone.
  virtual void OnTimer(uint32_t timerId) {}
  // A watched socket is ready; revents as poll() reports them.
  virtual void OnSocketReady(int fd, short revents) {}

  // One-shot timer with a fresh id at every set (never 0). A delay of 0 fires on the next loop turn.
  uint32_t SetTimer(uint32_t delayMs);
  void KillTimer(uint32_t timerId);

  // Watches a socket for the given poll events until unwatched; readiness arrives
  // as OnSocketReady on this thread. Watching again replaces the events.
  void WatchSocket(int fd, short events);
  void UnwatchSocket(int fd);

  // Handles the messages waiting now (not timers or sockets that become due later).
  // Returns false when a quit message was among them; the quit is then posted again
  // so that the loop still ends, and the caller should abandon its work.
  bool PumpPending();

  // Whether a stop waits: this thread has quit, or a quit message or a message
  // numbered stopMessage is queued. Handles nothing and leaves the queue as it is.
  // Called by this thread's own handlers.
  bool StopWaiting(uint32_t stopMessage) const;

  // Posts the quit message to this thread: the loop ends after the current handler.
  void PostQuit(int exitCode = 0);

 private:
  friend struct ThreadQueueAccess;
  void Run();
  bool HandleOne(Message& msg);  // false for quit

  ThreadId id_ = 0;
  ThreadHandlePtr handle_;
  int exitCode_ = 0;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
