#pragma once
// What a camera worker's frame path tells the event log beyond its failures:
// "Camera offline" when a running camera has given no picture for the offline
// time and "Camera back online" with the length of the gap, and "Motion started"
// / "Motion ended" once per motion episode with the path of the frame that
// started it. Both classes only decide; the worker passes the loop's clock in,
// calls them from its frame path and its timer, and logs what they return.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace recorder::recording {

// A log event to report: its code and argument.
struct WatchEvent {
  int32_t code = 0;
  std::string detail;
};

class OfflineWatch {
 public:
  using Clock = std::chrono::steady_clock;
  explicit OfflineWatch(std::chrono::milliseconds offlineAfter) : offlineAfter_(offlineAfter) {}

  // The worker starts: the wait for the first picture begins.
  void Start(Clock::time_point now);
  // A picture arrived (decoded). "Camera back online" when the camera was offline.
  std::optional<WatchEvent> OnPicture(Clock::time_point now);
  // Called from a timer at NextCheck() (or later): "Camera offline" once when the
  // camera has given no picture for the offline time.
  std::optional<WatchEvent> Poll(Clock::time_point now);
  // When Poll has something to decide next; time_point::max() while offline.
  Clock::time_point NextCheck() const;
  bool offline() const { return offline_; }

 private:
  std::chrono::milliseconds offlineAfter_;
  Clock::time_point lastPicture_{};
  bool started_ = false;
  bool offline_ = false;
};

class MotionEpisodes {
 public:
  using Clock = std::chrono::steady_clock;
  // An episode ends after this long without a triggering frame.
  explicit MotionEpisodes(std::chrono::milliseconds quiet = std::chrono::seconds(10)) : quiet_(quiet) {}

  // Every frame the motion detector measured: triggered or not, and the path the
  // frame went to (or would have gone to). "Motion started" on the first trigger
  // of an episode, "Motion ended" on the first frame after the quiet time.
  std::optional<WatchEvent> OnFrame(bool triggered, Clock::time_point now, const std::string& path);
  // From a timer, for a camera whose frames stopped: ends a quiet episode.
  std::optional<WatchEvent> Poll(Clock::time_point now);
  // When Poll can end the episode; time_point::max() without one.
  Clock::time_point NextCheck() const { return active_ ? lastTrigger_ + quiet_ : Clock::time_point::max(); }
  bool active() const { return active_; }

 private:
  std::chrono::milliseconds quiet_;
  bool active_ = false;
  Clock::time_point lastTrigger_{};
  std::string startPath_;
};

// "75 s", "2 min 5 s", "3 h 0 min": the length of a gap as the log gives it.
std::string GapText(std::chrono::milliseconds gap);

}  // namespace recorder::recording
