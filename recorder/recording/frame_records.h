#pragma once
// The frame record a camera worker fills, reused from frame to frame: a frame
// that no live view shows goes back to be filled again, its pixel buffer kept.
#include <cstdint>
#include <memory>

#include "media/frame_messages.h"
#include "platform/message.h"

namespace recorder::recording {

class FrameRecords {
 public:
  // A cleared record to fill; the last one kept, with its pixel and plane buffers
  // (sizes cleared), if any.
  std::unique_ptr<media::FrameRecord> Take();
  // Keeps a record that was not handed on.
  void Keep(std::unique_ptr<media::FrameRecord> record) { spare_ = std::move(record); }
  // Hands the frame and its motion level to the live view while it is visible;
  // keeps it otherwise.
  void ShowOrKeep(platform::WindowHandle liveView, std::unique_ptr<media::FrameRecord> record, int32_t level);

 private:
  std::unique_ptr<media::FrameRecord> spare_;
};

}  // namespace recorder::recording
