#pragma once
// A camera worker's saved-frame figures and when to report them to the main
// window: at once for the first frame, so a new row shows figures soon, then at
// most once a second.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

#include "platform/loop_clock.h"
#include "recorder/camera/messages.h"

namespace recorder::recording {

class HealthTally {
 public:
  // Counts one frame saved at `now` (the worker's clock) and `wallNow` (calendar
  // seconds); true with `report` filled when a report is due.
  bool NoteSaved(const std::string& currentFile, platform::LoopClock::TimePoint now, std::time_t wallNow,
                 camera::WorkerHealth& report) {
    ++framesSaved_;
    lastSavedTime_ = static_cast<int64_t>(wallNow);
    if (reported_ && now - lastReport_ < std::chrono::seconds(1)) return false;
    reported_ = true;
    lastReport_ = now;
    report.framesSaved = framesSaved_;
    report.lastSavedTime = lastSavedTime_;
    report.currentFile = currentFile;
    return true;
  }

 private:
  int64_t framesSaved_ = 0;
  int64_t lastSavedTime_ = 0;
  bool reported_ = false;
  platform::LoopClock::TimePoint lastReport_{};
};

}  // namespace recorder::recording
