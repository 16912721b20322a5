#include "recorder/recording/camera_watch.h"

#include "recorder/camera/events.h"

namespace recorder::recording {

std::string GapText(std::chrono::milliseconds gap) {
  const long long s = std::chrono::duration_cast<std::chrono::seconds>(gap).count();
  if (s < 120) return std::to_string(s) + " s";
  if (s < 3 * 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  return std::to_string(s / 3600) + " h " + std::to_string(s / 60 % 60) + " min";
}

void OfflineWatch::Start(Clock::time_point now) {
  started_ = true;
  offline_ = false;
  lastPicture_ = now;
}

std::optional<WatchEvent> OfflineWatch::OnPicture(Clock::time_point now) {
  const Clock::time_point last = lastPicture_;
  lastPicture_ = now;
  started_ = true;
  if (!offline_) return std::nullopt;
  offline_ = false;
  return WatchEvent{camera::kEventCameraBackOnline,
                    GapText(std::chrono::duration_cast<std::chrono::milliseconds>(now - last))};
}

std::optional<WatchEvent> OfflineWatch::Poll(Clock::time_point now) {
  if (!started_ || offline_ || now - lastPicture_ < offlineAfter_) return std::nullopt;
  offline_ = true;
  return WatchEvent{camera::kEventCameraOffline, GapText(offlineAfter_)};
}

OfflineWatch::Clock::time_point OfflineWatch::NextCheck() const {
  if (!started_ || offline_) return Clock::time_point::max();
  return lastPicture_ + offlineAfter_;
}

std::optional<WatchEvent> MotionEpisodes::OnFrame(bool triggered, Clock::time_point now, const std::string& path) {
  if (triggered) {
    lastTrigger_ = now;
    if (active_) return std::nullopt;
    active_ = true;
    startPath_ = path;
    return WatchEvent{camera::kEventMotionStarted, path};
  }
  return Poll(now);
}

std::optional<WatchEvent> MotionEpisodes::Poll(Clock::time_point now) {
  if (!active_ || now - lastTrigger_ < quiet_) return std::nullopt;
  active_ = false;
  return WatchEvent{camera::kEventMotionEnded, startPath_};
}

}  // namespace recorder::recording
