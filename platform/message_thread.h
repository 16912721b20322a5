#pragma once
// A thread that owns a message queue and runs one poll() loop over an eventfd
// (the queue), its timer deadlines and the sockets it watches.
//
// Rules of the loop:
// - Everything the thread does happens in its handlers (OnMessage, OnTimer,
//   OnSocketReady), one at a time; state reached only from them needs no lock.
// - Messages from one sender are handled in the order posted; timers fire when
//   due; socket readiness arrives as a notification like any message.
// - A handler never runs inside another handler's call chain: nothing here
//   handles queued messages on demand, so a handler's state cannot change under it.
// - A handler may post, set and kill timers, watch sockets and quit. It must not
//   block: no sleeps and no waits on other threads. A wait is a timer; the
//   handler returns and the work goes on when the timer fires.
// - A long step (a directory listing, a slow connect) asks StopWaiting() between
//   items and, when a stop is queued, ends early and returns to the loop, which
//   then handles the stop.
// - The thread owns its clock (platform/loop_clock.h): timers fall due by it and
//   handlers read the time only from it (Clock()), never from the system directly,
//   so a test that gives the thread a ManualClock steps through every wait.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/loop_clock.h"
#include "platform/message.h"

namespace platform {

// The quit message; outside the WM_USER range, so it never meets a program's number.
constexpr uint32_t kQuitMessage = 0x0012;

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

// Joins every message thread whose loop has finished, so that what the thread
// still does after its handle is marked finished (thread-local clean-up of the
// libraries it used, such as Qt's per-thread data) is over. Call it before
// destroying what that clean-up needs: a program calls it before its Qt
// application object goes away. Threads still running are left alone. Returns
// how many were joined. Finished threads are also joined as new ones start.
size_t JoinFinishedThreads();

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
  // CreateSuspended and Resume in one call, for a thread nobody must know of before it runs.
  static ThreadHandlePtr Start(std::unique_ptr<MessageThread> thread);

  // The clock the thread's timers and handlers run on; the system clock unless
  // another is set before the thread starts. A null clock keeps the current one.
  void SetClock(std::shared_ptr<LoopClock> clock);
  const LoopClock& Clock() const { return *clock_; }
  const std::shared_ptr<LoopClock>& SharedClock() const { return clock_; }

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

  // Whether a stop waits: this thread has quit, or a quit message or a message
  // numbered stopMessage is queued. Handles nothing and leaves the queue as it is.
  // Called by this thread's own handlers.
  bool StopWaiting(uint32_t stopMessage) const;

  // Ends the loop after the current handler.
  void PostQuit(int exitCode = 0);

 private:
  friend struct ThreadQueueAccess;
  void Run();
  bool HandleOne(Message& msg);  // false for quit

  ThreadId id_ = 0;
  ThreadHandlePtr handle_;
  int exitCode_ = 0;
  std::shared_ptr<LoopClock> clock_;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
