// The per-frame order: flips, rotation, motion on the clean picture, then the overlay.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "recorder/frame/frame_pipeline.h"
#include "recorder/frame/overlay.h"

using namespace recorder;

namespace {

using media::FrameImage;
using media::FrameRecord;

FrameRecord BlackRecord(int w = 320, int h = 240) {
  FrameRecord r;
  r.image.width = w, r.image.height = h, r.image.bitsPerPixel = 24;
  r.image.pixels.assign(r.image.Size(), 0);
  return r;
}

// Paints a white rectangle; rows counted from the buffer start (bottom of the picture).
void PaintWhite(FrameImage& img, int x0, int y0, int w, int h) {
  for (int y = y0; y < y0 + h; ++y)
    std::memset(img.pixels.data() + (size_t(y) * img.width + x0) * 3, 255, size_t(w) * 3);
}

camera::CameraRecord Camera() {
  camera::CameraRecord cam;
  cam.motionEnabled = 1;
  cam.motionTriggerLevel = 25;
  cam.overlayEnabled = 0;
  return cam;
}

TEST(Pipeline, MotionOffReportsMinusOneAndLeavesTheRecordUntriggered) {
  camera::CameraRecord cam = Camera();
  cam.motionEnabled = 0;
  frame::MotionDetector detector;
  FrameRecord a = BlackRecord();
  frame::RunFramePipeline(a, cam, detector);
  FrameRecord b = BlackRecord();
  PaintWhite(b.image, 0, 0, 320, 240);
  const auto result = frame::RunFramePipeline(b, cam, detector);
  EXPECT_EQ(result.level, -1);
  EXPECT_FALSE(result.triggered);
  EXPECT_EQ(b.triggered, 0);
  EXPECT_EQ(b.firstBlockColumn, -1);
  EXPECT_EQ(b.lastBlockRow, -1);
  EXPECT_EQ(b.imageSize, 320 * 3 * 240);
}

TEST(Pipeline, TriggerFillsTheRecordsBlocks) {
  camera::CameraRecord cam = Camera();
  frame::MotionDetector detector;
  FrameRecord first = BlackRecord();
  EXPECT_EQ(frame::RunFramePipeline(first, cam, detector).level, 0);  // nothing to compare with yet
  // Block (column 3, row 15) of a 320x240 frame: 16 x 12 pixels at x 48, y 180 from the bottom.
  FrameRecord second = BlackRecord();
  PaintWhite(second.image, 48, 180, 16, 12);
  const auto result = frame::RunFramePipeline(second, cam, detector);
  EXPECT_EQ(result.level, 255);
  EXPECT_TRUE(result.triggered);
  EXPECT_EQ(second.triggered, 1);
  EXPECT_EQ(second.firstBlockColumn, 3);
  EXPECT_EQ(second.firstBlockRow, 15);
  EXPECT_EQ(second.lastBlockColumn, 3);
  EXPECT_EQ(second.lastBlockRow, 15);
}

TEST(Pipeline, LevelEqualToTheTriggerDoesNotTrigger) {
  camera::CameraRecord cam = Camera();
  cam.motionTriggerLevel = 255;
  frame::MotionDetector detector;
  FrameRecord first = BlackRecord();
  frame::RunFramePipeline(first, cam, detector);
  FrameRecord second = BlackRecord();
  PaintWhite(second.image, 0, 0, 320, 240);
  const auto result = frame::RunFramePipeline(second, cam, detector);
  EXPECT_EQ(result.level, 255);
  EXPECT_FALSE(result.triggered);
  EXPECT_EQ(second.triggered, 0);
  EXPECT_EQ(second.firstBlockColumn, -1);
}

TEST(Pipeline, MotionIsMeasuredOnTheAdjustedPicture) {
  // A mirrored picture puts the change into the mirrored block: column 3 becomes 16.
  camera::CameraRecord cam = Camera();
  cam.flipHorizontal = 1;
  frame::MotionDetector detector;
  FrameRecord first = BlackRecord();
  frame::RunFramePipeline(first, cam, detector);
  FrameRecord second = BlackRecord();
  PaintWhite(second.image, 48, 180, 16, 12);
  frame::RunFramePipeline(second, cam, detector);
  EXPECT_EQ(second.firstBlockColumn, 16);
  EXPECT_EQ(second.firstBlockRow, 15);

  // Upside down too: row 15 becomes row 4.
  cam.flipVertical = 1;
  frame::MotionDetector detector2;
  FrameRecord a = BlackRecord();
  frame::RunFramePipeline(a, cam, detector2);
  FrameRecord b = BlackRecord();
  PaintWhite(b.image, 48, 180, 16, 12);
  frame::RunFramePipeline(b, cam, detector2);
  EXPECT_EQ(b.firstBlockColumn, 16);
  EXPECT_EQ(b.firstBlockRow, 4);
}

TEST(Pipeline, RotationChangesTheShapeAndImageSize) {
  camera::CameraRecord cam = Camera();
  cam.motionEnabled = 0;
  cam.rotation = 1;
  frame::MotionDetector detector;
  FrameRecord rec = BlackRecord(320, 240);
  rec.image.pixels[0] = 200;  // bottom-left pixel, blue byte
  frame::RunFramePipeline(rec, cam, detector);
  EXPECT_EQ(rec.image.width, 240);
  EXPECT_EQ(rec.image.height, 320);
  EXPECT_EQ(rec.imageSize, 240 * 3 * 320);
  EXPECT_EQ(rec.image.pixels[size_t(319) * 240 * 3], 200);  // now top-left
}

TEST(Pipeline, AnOverlayThatChangesEveryFrameNeverCountsAsMotion) {
  camera::CameraRecord cam = Camera();
  cam.motionTriggerLevel = 0;
  cam.overlayEnabled = 1;
  cam.overlayBackground = frame::kOverlaySolid;
  cam.overlayVAlign = frame::kVAlignCenter;
  cam.overlayBackColor = 0xFFFFFF;
  cam.overlayTextColor = 0x000000;
  cam.overlayFont.height = -60;
  frame::MotionDetector detector;
  const char* texts[] = {"i", "WWWWWW", "..", "MMMMMMMM"};
  std::vector<FrameImage> stamped;
  for (int k = 0; k < 4; ++k) {
    camera::SetText(cam.overlayText, texts[k]);
    FrameRecord rec = BlackRecord();
    const auto result = frame::RunFramePipeline(rec, cam, detector);
    EXPECT_EQ(result.level, 0) << "frame " << k;
    EXPECT_FALSE(result.triggered);
    EXPECT_NE(rec.image.pixels, BlackRecord().image.pixels) << "overlay missing on frame " << k;
    stamped.push_back(rec.image);
  }
  // The stamped pictures themselves differ strongly, so measuring after stamping would trigger.
  frame::MotionDetector check;
  check.Measure(stamped[0].pixels.data(), stamped[0].pixels.size(), 320, 240, 0);
  EXPECT_GT(check.Measure(stamped[1].pixels.data(), stamped[1].pixels.size(), 320, 240, 0), 0);
}

TEST(Pipeline, OverlayDisabledLeavesPixelsAlone) {
  camera::CameraRecord cam = Camera();
  cam.motionEnabled = 0;
  cam.overlayEnabled = 0;
  camera::SetText(cam.overlayText, "text");
  frame::MotionDetector detector;
  FrameRecord rec = BlackRecord(64, 48);
  frame::RunFramePipeline(rec, cam, detector);
  EXPECT_EQ(rec.image.pixels, BlackRecord(64, 48).image.pixels);
}

}  // namespace
