#include <cstddef>  // frame_image.h uses size_t

#include "recorder/frame/frame_pipeline.h"

#include "recorder/camera/option_rules.h"
#include "recorder/frame/adjust.h"
#include "recorder/frame/overlay.h"

namespace recorder::frame {

using namespace camera;
using media::FrameImage;
using media::FrameRecord;

bool StoresAsSent(const camera::CameraRecord& camera) { return camera.storeAsSent == 1 && !ChangesPicture(camera); }

PipelineResult RunFramePipeline(FrameRecord& record, const camera::CameraRecord& camera, MotionDetector& detector) {
  PipelineResult result;
  FrameImage& image = record.image;
  // A picture held as planes is changed there; one stored as sent has its Y plane
  // alone and is not changed at all.
  const bool onPlanes = record.yuv.LumaValid() && !image.Valid();
  const bool changeable = onPlanes ? record.yuv.Valid() : true;
  // Flips, then the turn; composed into one pass over the pixels.
  if (!onPlanes) {
    ApplyOrientation(image, camera.flipHorizontal == 1, camera.flipVertical == 1, camera.rotation);
  } else if (changeable) {
    // Saved pictures are 4:2:0 whatever the source's sampling, as the RGB path saves them.
    ToChroma420(record.yuv);
    ApplyOrientation(record.yuv, camera.flipHorizontal == 1, camera.flipVertical == 1, camera.rotation);
  }

  // Motion is measured on the adjusted picture before the text goes on, so a clock
  // in the overlay never counts as motion.
  if (camera.motionEnabled != 0) {
    if (onPlanes) {
      const media::YuvImage& yuv = record.yuv;
      result.level =
          detector.MeasureLuma(yuv.plane[0].data(), yuv.stride[0], yuv.width, yuv.height, camera.motionTriggerLevel);
    } else {
      result.level = detector.Measure(image.pixels.data(), image.pixels.size(), image.width, image.height,
                                      camera.motionTriggerLevel);
    }
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

  if (camera.overlayEnabled == 1 && !onPlanes)
    StampOverlay(image, camera);
  else if (camera.overlayEnabled == 1 && changeable)
    StampOverlay(record.yuv, camera);
  record.imageSize = int32_t(image.Size());
  return result;
}

}  // namespace recorder::frame
