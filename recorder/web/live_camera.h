#pragma once
// What the HTTP server shows of each camera, filled by the camera's worker and
// the controller, read by the server's connection threads. The only data that
// crosses threads outside messages: a picture is an immutable shared buffer, so a
// worker hands over bytes it already holds without copying, and a slow viewer
// keeps at most the one picture it is sending alive.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace recorder::web {

using Picture = std::shared_ptr<const std::vector<uint8_t>>;

class LiveCamera {
 public:
  // ---- the worker's side (cheap: one atomic read when nobody watches)
  // True while a stream or a snapshot request waits for pictures: a frame that was
  // not encoded for saving is then encoded for viewers.
  bool Watched() const { return watchers_.load(std::memory_order_relaxed) > 0; }
  // Whether the recorder serves live pictures at all: without it nothing is published.
  bool Serving() const { return serving_.load(std::memory_order_relaxed); }
  // The newest JPEG picture; wakes the viewers waiting for one.
  void Publish(Picture picture);
  void Publish(std::vector<uint8_t>&& jpeg);
  void NoteMotion(int32_t level, bool triggered, int64_t wallTime);
  void NoteSaved() { framesSaved_.fetch_add(1, std::memory_order_relaxed); }

  // ---- the controller's side
  void SetInfo(std::string title, std::string status);
  void SetServing(bool serving) { serving_.store(serving, std::memory_order_relaxed); }

  // ---- the server's side
  struct Info {
    std::string title;
    std::string status;
    int64_t framesSaved = 0;
    int32_t motionLevel = 0;
    int64_t lastMotion = 0;  // calendar seconds; 0 for never
    uint64_t pictureNumber = 0;
  };
  Info ReadInfo() const;
  // The newest picture and its number (0 and null before the first).
  Picture Latest(uint64_t* number = nullptr) const;
  // Waits until a picture newer than `after` is there, at most waitMs; null on time-out.
  Picture WaitNewer(uint64_t after, int waitMs, uint64_t* number);
  // Wakes every waiter (the server is stopping).
  void WakeAll();
  void AddWatcher() { watchers_.fetch_add(1, std::memory_order_relaxed); }
  void RemoveWatcher() { watchers_.fetch_sub(1, std::memory_order_relaxed); }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Picture picture_;
  uint64_t pictureNumber_ = 0;
  std::string title_;
  std::string status_;
  std::atomic<int> watchers_{0};
  std::atomic<bool> serving_{false};
  std::atomic<int64_t> framesSaved_{0};
  std::atomic<int32_t> motionLevel_{0};
  std::atomic<int64_t> lastMotion_{0};
};

// The cameras in list order, as the controller last published them.
class LiveBoard {
 public:
  void SetCameras(std::vector<std::shared_ptr<LiveCamera>> cameras);
  std::vector<std::shared_ptr<LiveCamera>> Cameras() const;
  std::shared_ptr<LiveCamera> Camera(size_t index) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<LiveCamera>> cameras_;
};

}  // namespace recorder::web
