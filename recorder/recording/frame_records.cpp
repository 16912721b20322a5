#include "recorder/recording/frame_records.h"

#include <utility>

#include "recorder/camera/messages.h"

namespace recorder::recording {

std::unique_ptr<media::FrameRecord> FrameRecords::Take() {
  std::unique_ptr<media::FrameRecord> record = std::move(spare_);
  if (!record) return std::make_unique<media::FrameRecord>();
  media::FrameImage pixels = std::move(record->image);
  media::YuvImage planes = std::move(record->yuv);
  *record = media::FrameRecord{};
  record->image = std::move(pixels);
  record->yuv = std::move(planes);
  // The buffers stay for reuse, but nothing in them belongs to the new frame: a
  // source fills the image or the planes, and the other stays empty.
  record->image.width = record->image.height = 0;
  record->yuv.width = record->yuv.height = 0;
  return record;
}

void FrameRecords::ShowOrKeep(platform::WindowHandle liveView, std::unique_ptr<media::FrameRecord> record,
                              int32_t level) {
  if (!platform::IsWindowVisible(liveView)) {
    spare_ = std::move(record);
    return;
  }
  const int32_t triggered = record->triggered;
  platform::Post<media::ShowFrameRecord>(liveView, std::move(record));
  platform::Post<camera::to_live_view::MotionLevel>(liveView, level, triggered);
}

}  // namespace recorder::recording
