#pragma once
// The time a thread loop runs on. Every MessageThread owns one: its timers fall
// due by it, and its handlers read the time from it (intervals, time limits,
// file names and time stamps), so one clock decides all of a thread's timing.
//
// - SystemClock(): the steady clock for intervals and timers, time() for the calendar.
// - ManualClock: stands still until Advance(ms) moves it; every loop that runs on
//   it wakes and fires the timers that are now due. Tests use it to go through a
//   10-second wait without waiting ten seconds.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace platform {

class LoopClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~LoopClock() = default;

  // The loop's time: timers, intervals, time limits.
  virtual TimePoint Now() const = 0;
  // Calendar time in seconds, for names and time stamps.
  virtual std::time_t WallNow() const = 0;
  // How long the loop may sleep while its nearest timer falls due at `due`; -1: until woken.
  virtual int SleepMs(TimePoint due) const = 0;

  // A loop that runs on this clock; `wake` may be called from any thread when the time moved.
  virtual void Attach(const void* loop, std::function<void()> wake) {}
  virtual void Detach(const void* loop) {}
  // The loop's timers as they are set and go (fired or killed).
  virtual void TimerSet(const void* loop, uint32_t id, TimePoint due) {}
  virtual void TimerGone(const void* loop, uint32_t id) {}

  // Milliseconds from `then` to now.
  long long MsSince(TimePoint then) const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Now() - then).count();
  }
};

// The steady clock and time(): shared by every loop that is given no other clock.
std::shared_ptr<LoopClock> SystemClock();

class ManualClock : public LoopClock {
 public:
  explicit ManualClock(std::time_t wallStart = 1700000000);

  TimePoint Now() const override;
  std::time_t WallNow() const override;
  int SleepMs(TimePoint due) const override;
  void Attach(const void* loop, std::function<void()> wake) override;
  void Detach(const void* loop) override;
  void TimerSet(const void* loop, uint32_t id, TimePoint due) override;
  void TimerGone(const void* loop, uint32_t id) override;

  // Moves the time on; the loops on this clock fire the timers now due.
  void Advance(uint32_t ms);
  // Sets the calendar time from now on; the loop's time does not jump.
  void SetWallTime(std::time_t wall);
  // Waits (in real time, up to realWaitMs) until a loop on this clock holds a timer
  // that falls due exactly delayMs from now. False on time-out.
  bool WaitForTimer(uint32_t delayMs, int realWaitMs = 10000) const;
  // Timers pending on all loops of this clock.
  size_t PendingTimers() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  TimePoint now_;
  std::time_t wallBase_;
  TimePoint wallBaseAt_;
  std::map<const void*, std::function<void()>> loops_;
  std::map<std::pair<const void*, uint32_t>, TimePoint> timers_;
};

}  // namespace platform
