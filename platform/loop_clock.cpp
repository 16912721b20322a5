#include "platform/loop_clock.h"

#include <algorithm>
#include <vector>

namespace platform {

namespace {

class SteadyClock : public LoopClock {
 public:
  TimePoint Now() const override { return std::chrono::steady_clock::now(); }
  std::time_t WallNow() const override { return std::time(nullptr); }
  int SleepMs(TimePoint due) const override {
    const auto now = Now();
    if (due <= now) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
    return static_cast<int>(std::min<long long>(ms, 24LL * 3600 * 1000));
  }
};

}  // namespace

std::shared_ptr<LoopClock> SystemClock() {
  static const std::shared_ptr<LoopClock> clock = std::make_shared<SteadyClock>();
  return clock;
}

ManualClock::ManualClock(std::time_t wallStart)
    : now_(TimePoint{} + std::chrono::hours(1)), wallBase_(wallStart), wallBaseAt_(now_) {}

LoopClock::TimePoint ManualClock::Now() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

std::time_t ManualClock::WallNow() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wallBase_ + std::chrono::duration_cast<std::chrono::seconds>(now_ - wallBaseAt_).count();
}

int ManualClock::SleepMs(TimePoint due) const { return due <= Now() ? 0 : -1; }

void ManualClock::Attach(const void* loop, std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(mutex_);
  loops_[loop] = std::move(wake);
}

void ManualClock::Detach(const void* loop) {
  std::lock_guard<std::mutex> lock(mutex_);
  loops_.erase(loop);
  for (auto it = timers_.begin(); it != timers_.end();) it = it->first.first == loop ? timers_.erase(it) : std::next(it);
  changed_.notify_all();
}

void ManualClock::TimerSet(const void* loop, uint32_t id, TimePoint due) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_[{loop, id}] = due;
  changed_.notify_all();
}

void ManualClock::TimerGone(const void* loop, uint32_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_.erase({loop, id});
  changed_.notify_all();
}

void ManualClock::Advance(uint32_t ms) {
  std::vector<std::function<void()>> wakes;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ += std::chrono::milliseconds(ms);
    for (const auto& [loop, wake] : loops_) wakes.push_back(wake);
  }
  for (const auto& wake : wakes) wake();
}

void ManualClock::SetWallTime(std::time_t wall) {
  std::lock_guard<std::mutex> lock(mutex_);
  wallBase_ = wall;
  wallBaseAt_ = now_;
}

bool ManualClock::WaitForTimer(uint32_t delayMs, int realWaitMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(realWaitMs), [&] {
    return std::any_of(timers_.begin(), timers_.end(),
                       [&](const auto& t) { return t.second - now_ == std::chrono::milliseconds(delayMs); });
  });
}

size_t ManualClock::PendingTimers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timers_.size();
}

}  // namespace platform
