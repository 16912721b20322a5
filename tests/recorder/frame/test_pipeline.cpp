// The per-frame order: flips, rotation, motion on the clean picture, then the overlay.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <iostream>

#include "media/jpeg_codec.h"

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

// ---- the YUV path against the RGB path ----
namespace yuv {

using Bytes = std::vector<uint8_t>;

// A camera's picture in the given sampling: a scene with edges, gradients and colour.
Bytes CameraPicture(media::ChromaSampling sampling, int seed, int w = 320, int h = 240) {
  media::YuvImage planes;
  planes.width = w;
  planes.height = h;
  planes.sampling = sampling;
  planes.stride[0] = w;
  planes.stride[1] = planes.stride[2] = planes.ChromaWidth();
  planes.plane[0].resize(size_t(w) * h);
  for (int p = 1; p < 3; ++p) planes.plane[p].resize(size_t(planes.stride[p]) * planes.ChromaHeight());
  auto rgb = [&](int x, int y, int c) {
    const bool box = x > 60 + seed * 7 && x < 160 + seed * 7 && y > 50 && y < 150;
    const int base = c == 0 ? x * 255 / w : c == 1 ? y * 255 / h : (x + y) * 255 / (w + h);
    return box ? 255 - base / 2 : base;
  };
  auto Y = [&](int x, int y) { return 0.299 * rgb(x, y, 0) + 0.587 * rgb(x, y, 1) + 0.114 * rgb(x, y, 2); };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) planes.plane[0][size_t(y) * w + x] = uint8_t(std::lround(Y(x, y)));
  const int sx = planes.ChromaWidth() == w ? 1 : 2, sy = planes.ChromaHeight() == h ? 1 : 2;
  for (int cy = 0; cy < planes.ChromaHeight(); ++cy)
    for (int cx = 0; cx < planes.ChromaWidth(); ++cx) {
      double cb = 0, cr = 0;
      for (int y = std::min(cy * sy, h - sy); y < std::min(cy * sy, h - sy) + sy; ++y)
        for (int x = std::min(cx * sx, w - sx); x < std::min(cx * sx, w - sx) + sx; ++x) {
          cb += -0.168736 * rgb(x, y, 0) - 0.331264 * rgb(x, y, 1) + 0.5 * rgb(x, y, 2) + 128;
          cr += 0.5 * rgb(x, y, 0) - 0.418688 * rgb(x, y, 1) - 0.081312 * rgb(x, y, 2) + 128;
        }
      planes.plane[1][size_t(cy) * planes.stride[1] + cx] = uint8_t(std::lround(cb / (sx * sy)));
      planes.plane[2][size_t(cy) * planes.stride[2] + cx] = uint8_t(std::lround(cr / (sx * sy)));
    }
  Bytes jpeg;
  EXPECT_TRUE(media::EncodeJpegYuv(planes, 90, jpeg));
  return jpeg;
}

double Psnr(const FrameImage& a, const FrameImage& b) {
  if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    const double d = double(a.pixels[i]) - double(b.pixels[i]);
    sum += d * d;
  }
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 * double(a.pixels.size()) / sum);
}

struct PathRow {
  const char* name;
  media::ChromaSampling sampling;
  int flipH, flipV, rotation, overlay, background;
  int width = 320, height = 240;
};

void PrintTo(const PathRow& row, std::ostream* os) { *os << row.name; }

class YuvPath : public testing::TestWithParam<PathRow> {};

// The same camera pictures through both paths, each encoded at the camera's
// quality: the saved pictures differ by the codec's rounding only, and motion is
// the same within 2.
TEST_P(YuvPath, SavesWhatTheRgbPathSaves) {
  const PathRow& row = GetParam();
  camera::CameraRecord cam = Camera();
  cam.flipHorizontal = row.flipH;
  cam.flipVertical = row.flipV;
  cam.rotation = row.rotation;
  cam.overlayEnabled = row.overlay;
  cam.overlayBackground = row.background;
  cam.overlayVAlign = 2;  // bottom
  camera::SetText(cam.overlayText, "Gate 2 | 12/08/26 10:00");
  frame::MotionDetector rgbDetector, yuvDetector;
  double lowest = 99;
  for (int i = 0; i < 3; ++i) {
    const Bytes picture = CameraPicture(row.sampling, i, row.width, row.height);
    FrameRecord viaRgb, viaYuv;
    ASSERT_TRUE(media::DecodeJpeg(picture.data(), picture.size(), viaRgb.image));
    ASSERT_TRUE(media::DecodeJpegYuv(picture.data(), picture.size(), viaYuv.yuv));
    const auto a = frame::RunFramePipeline(viaRgb, cam, rgbDetector);
    const auto b = frame::RunFramePipeline(viaYuv, cam, yuvDetector);
    EXPECT_LE(std::abs(a.level - b.level), 2) << "frame " << i;
    Bytes savedRgb, savedYuv;
    ASSERT_TRUE(media::EncodeJpeg(viaRgb.image, cam.jpegQuality, savedRgb));
    ASSERT_TRUE(media::EncodeJpegYuv(viaYuv.yuv, cam.jpegQuality, savedYuv));
    FrameImage shownRgb, shownYuv;
    ASSERT_TRUE(media::DecodeJpeg(savedRgb.data(), savedRgb.size(), shownRgb));
    ASSERT_TRUE(media::DecodeJpeg(savedYuv.data(), savedYuv.size(), shownYuv));
    lowest = std::min(lowest, Psnr(shownRgb, shownYuv));
  }
  std::cout << row.name << ": lowest PSNR " << lowest << " dB\n";
  EXPECT_GE(lowest, 45.0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, YuvPath,
    testing::Values(PathRow{"plain420", media::ChromaSampling::k420, 0, 0, 0, 0, 0},
                    PathRow{"flips420", media::ChromaSampling::k420, 1, 1, 0, 0, 0},
                    PathRow{"quarterTurn420", media::ChromaSampling::k420, 0, 0, 1, 0, 0},
                    PathRow{"halfTurnFlip422", media::ChromaSampling::k422, 1, 0, 2, 0, 0},
                    PathRow{"quarterTurn422", media::ChromaSampling::k422, 0, 0, 3, 0, 0},
                    PathRow{"quarterTurn444", media::ChromaSampling::k444, 0, 1, 1, 0, 0},
                    PathRow{"solidOverlay420", media::ChromaSampling::k420, 0, 0, 0, 1, 0},
                    PathRow{"outlineOverlayTurned420", media::ChromaSampling::k420, 1, 0, 1, 1, 3},
                    PathRow{"shadowOverlay444", media::ChromaSampling::k444, 0, 0, 0, 1, 2},
                    PathRow{"oddSizeTurnedWithOverlay420", media::ChromaSampling::k420, 1, 0, 3, 1, 0, 321, 241},
                    PathRow{"oddSizeTurned422", media::ChromaSampling::k422, 0, 1, 1, 0, 0, 321, 241}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace yuv
