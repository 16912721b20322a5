#include "recorder/web/live_camera.h"

#include <chrono>

namespace recorder::web {

void LiveCamera::Publish(Picture picture) {
  if (!picture || picture->empty()) return;
  Picture previous;  // freed outside the lock
  {
    std::lock_guard<std::mutex> lock(mutex_);
    previous = std::move(picture_);
    picture_ = std::move(picture);
    ++pictureNumber_;
  }
  if (Watched()) changed_.notify_all();
}

void LiveCamera::Publish(std::vector<uint8_t>&& jpeg) {
  if (jpeg.empty()) return;
  Publish(std::make_shared<const std::vector<uint8_t>>(std::move(jpeg)));
}

void LiveCamera::NoteMotion(int32_t level, bool triggered, int64_t wallTime) {
  motionLevel_.store(level, std::memory_order_relaxed);
  if (triggered) lastMotion_.store(wallTime, std::memory_order_relaxed);
}

void LiveCamera::SetInfo(std::string title, std::string status) {
  std::lock_guard<std::mutex> lock(mutex_);
  title_ = std::move(title);
  status_ = std::move(status);
}

LiveCamera::Info LiveCamera::ReadInfo() const {
  Info info;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    info.title = title_;
    info.status = status_;
    info.pictureNumber = pictureNumber_;
  }
  info.framesSaved = framesSaved_.load(std::memory_order_relaxed);
  info.motionLevel = motionLevel_.load(std::memory_order_relaxed);
  info.lastMotion = lastMotion_.load(std::memory_order_relaxed);
  return info;
}

Picture LiveCamera::Latest(uint64_t* number) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (number) *number = pictureNumber_;
  return picture_;
}

Picture LiveCamera::WaitNewer(uint64_t after, int waitMs, uint64_t* number) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return pictureNumber_ > after && picture_; });
  if (pictureNumber_ <= after || !picture_) return nullptr;
  if (number) *number = pictureNumber_;
  return picture_;
}

void LiveCamera::WakeAll() {
  { std::lock_guard<std::mutex> lock(mutex_); }
  changed_.notify_all();
}

void LiveBoard::SetCameras(std::vector<std::shared_ptr<LiveCamera>> cameras) {
  std::lock_guard<std::mutex> lock(mutex_);
  cameras_.swap(cameras);
}

std::vector<std::shared_ptr<LiveCamera>> LiveBoard::Cameras() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cameras_;
}

std::shared_ptr<LiveCamera> LiveBoard::Camera(size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index < cameras_.size() ? cameras_[index] : nullptr;
}

}  // namespace recorder::web
