#include <cstddef>  // frame_image.h uses size_t

#include "recorder/frame/frame_pipeline.h"

#include "recorder/frame/adjust.h"
#include "recorder/frame/overlay.h"

namespace recorder::frame {

using namespace camera;
using media::FrameImage;
using media::FrameRecord;

PipelineResult RunFramePipeline(FrameRecord& record, const camera::CameraRecord& camera, MotionDetector& detector) {
  PipelineResult result;
  FrameImage& image = record.image;
  // Flips, then the turn; composed into one pass over the pixels.
  ApplyOrientation(image, camera.flipHorizontal == 1, camera.flipVertical == 1, camera.rotation);

  // Motion is measured on the adjusted picture before the text goes on, so a clock
  // in the overlay never counts as motion.
  if (camera.motionEnabled != 0) {
    result.level = detector.Measure(image.pixels.data(), image.pixels.size(), image.width, image.height,
                                    camera.motionTriggerLevel);
    if (result.level > camera.motionTriggerLevel) {
      result.triggered = true;
      record.triggered = 1;
      const auto first = detector.GetFirstBlock();
      const auto last = detector.GetLastBlock();
      record.firstBlockColumn = first.first;
      record.firstBlockRow = first.second;
      record.lastBlockColumn = last.first;
      record.lastBlockRow = last.second;
    }
  }

  if (camera.overlayEnabled == 1) StampOverlay(image, camera);
  record.imageSize = int32_t(image.Size());
  return result;
}

}  // namespace recorder::frame
