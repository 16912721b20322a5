#pragma once
// The fixed per-frame order of a camera worker: flips, rotation, motion, overlay.
#include "recorder/camera/camera_record.h"
#include "media/frame_image.h"
#include "recorder/frame/motion_detector.h"

namespace recorder::frame {

struct PipelineResult {
  int level = -1;          // motion level, -1 when detection is off
  bool triggered = false;  // level above the trigger level
};

// True when the camera asks for pictures stored as sent and nothing changes
// them: no flip, no rotation, no overlay.
bool StoresAsSent(const camera::CameraRecord& camera);

// A frame held as planes (record.yuv, no RGB image) is changed and measured there;
// one with its Y plane alone (stored as sent) is only measured. Otherwise the RGB
// image: adjusts the frame record's image in place (flipHorizontal, flipVertical, rotation),
// measures motion when motionEnabled (filling the record's triggered flag and blocks
// on a trigger), then stamps the overlay when overlayEnabled. Sets imageSize.
// The save decision and the alarm sound stay with the caller.
PipelineResult RunFramePipeline(media::FrameRecord& record, const camera::CameraRecord& camera, MotionDetector& detector);

}  // namespace recorder::frame
