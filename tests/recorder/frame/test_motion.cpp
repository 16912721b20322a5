// Motion detector: luminance and measurement against the grid.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "media/jpeg_codec.h"
#include "recorder/frame/motion_detector.h"
#include "tools/testcam/testcam_server.h"

using namespace recorder;

namespace {

using frame::MotionDetector;
using Block = MotionDetector::Block;

// A 24-bit bottom-up frame; y counts from the start of the buffer.
struct Frame {
  int w, h;
  std::vector<uint8_t> px;
  Frame(int width, int height, uint8_t b = 0, uint8_t g = 0, uint8_t r = 0)
      : w(width), h(height), px(size_t(width) * height * 3) {
    for (size_t i = 0; i < px.size(); i += 3) {
      px[i] = b;
      px[i + 1] = g;
      px[i + 2] = r;
    }
  }
  void Set(int x, int y, uint8_t b, uint8_t g, uint8_t r) {
    uint8_t* p = &px[3 * (size_t(w) * y + x)];
    p[0] = b;
    p[1] = g;
    p[2] = r;
  }
  // Paints every pixel of grid block (c, r) for block size bw x bh.
  void FillBlock(int c, int r, int bw, int bh, uint8_t b, uint8_t g, uint8_t rr) {
    for (int y = r * bh; y < (r + 1) * bh; ++y)
      for (int x = c * bw; x < (c + 1) * bw; ++x) Set(x, y, b, g, rr);
  }
};

int Measure(MotionDetector& d, const Frame& f, int trigger = 0) {
  return d.Measure(f.px.data(), f.px.size(), f.w, f.h, trigger);
}

// Pure green 255: 0.587 x 255 = 149.685, so its whole luminance is 149.
constexpr uint8_t kG = 255;
constexpr int kGreenY = 149;

// ---------------------------------------------------------------- luminance

TEST(MotionLuminance, MatchesTruncatedDoubleForEveryColour) {
  int mismatches = 0;
  for (int r = 0; r < 256; ++r)
    for (int g = 0; g < 256; ++g)
      for (int b = 0; b < 256; ++b) {
        const int expected = static_cast<int>(0.299 * r + 0.587 * g + 0.114 * b);
        if (MotionDetector::Luminance(uint8_t(b), uint8_t(g), uint8_t(r)) != expected) ++mismatches;
      }
  EXPECT_EQ(mismatches, 0);
}

TEST(MotionLuminance, FrameDifferenceUsesTruncatedWholeValues) {
  // Red 97 -> 29.003, red 100 -> 29.9, red 101 -> 30.199.
  MotionDetector d;
  Frame r97(40, 40, 0, 0, 97), r100(40, 40, 0, 0, 100), r101(40, 40, 0, 0, 101);
  Measure(d, r97);
  EXPECT_EQ(Measure(d, r100), 0) << "29.003 and 29.9 both truncate to 29 (rounding would differ)";
  EXPECT_EQ(Measure(d, r101), 1) << "29.9 and 30.199 truncate to 29 and 30";
  // Byte order is blue, green, red: the same byte as blue weighs 0.114.
  Frame blue100(40, 40, 100, 0, 0);
  EXPECT_EQ(Measure(d, blue100), 30 - 11);
}

// ---------------------------------------------------------------- measuring

TEST(MotionMeasure, IdenticalFramesAndFirstFrameGiveNothing) {
  std::mt19937 rng(7);
  Frame f(320, 240);
  for (auto& b : f.px) b = uint8_t(rng());
  MotionDetector d;
  EXPECT_EQ(Measure(d, f), 0) << "first frame has nothing to compare with";
  EXPECT_EQ(d.GetFirstBlock().first, -1);
  EXPECT_EQ(Measure(d, f), 0);
  EXPECT_EQ(d.GetFirstBlock().first, -1);
}

TEST(MotionMeasure, SizeChangeStartsAfreshAndNextFrameComparesToIt) {
  MotionDetector d;
  Frame small(40, 40), big(80, 80, 0, kG, 0), bigBlack(80, 80);
  Measure(d, small);
  EXPECT_EQ(Measure(d, big), 0);
  EXPECT_EQ(d.GetFirstBlock().first, -1);
  EXPECT_EQ(Measure(d, bigBlack), kGreenY) << "measured against the first frame of the new size";
  // Same byte count with width and height swapped is a different picture too.
  Frame wide(80, 40), tall(40, 80, 0, kG, 0);
  Measure(d, wide);
  EXPECT_EQ(Measure(d, tall), 0);
  EXPECT_EQ(Measure(d, Frame(40, 80)), kGreenY);
}

TEST(MotionMeasure, SamplesEveryFourthPixelAndDividesByTheCount) {
  // 640 x 500: blocks 32 x 25, columns 0,4..28 (8), rows 0,4..24 (7): 56 samples.
  MotionDetector d;
  Frame base(640, 500);
  Measure(d, base);

  Frame f = base;
  f.Set(1, 0, 0, kG, 0);  // between sampled columns
  f.Set(0, 1, 0, kG, 0);  // between sampled rows
  EXPECT_EQ(Measure(d, f), 0);
  Measure(d, base);

  f = base;
  f.Set(0, 24, 0, kG, 0);  // last sampled row of block (0, 0)
  EXPECT_EQ(Measure(d, f, 0), kGreenY / 56);
  EXPECT_EQ(d.GetFirstBlock(), Block(0, 0)) << "row 0 is the start of the buffer";
  Measure(d, base);

  f = base;
  f.Set(28 + 32 * 5, 4 + 25 * 7, 0, kG, 0);  // a sample in block (5, 7)
  f.Set(32 * 5, 25 * 7, 0, kG, 0);           // and another in the same block
  EXPECT_EQ(Measure(d, f, 0), 2 * kGreenY / 56);
  EXPECT_EQ(d.GetFirstBlock(), Block(5, 7));
  EXPECT_EQ(d.GetLastBlock(), Block(5, 7));
}

TEST(MotionMeasure, TriggerLevelIsStrict) {
  MotionDetector d;
  Frame black(200, 200), moved(200, 200);
  moved.FillBlock(4, 6, 10, 10, 0, kG, 0);
  Measure(d, black);
  EXPECT_EQ(Measure(d, moved, kGreenY), kGreenY) << "level is reported even without a trigger";
  EXPECT_EQ(d.GetFirstBlock().first, -1) << "equal to the trigger level does not trigger";
  Measure(d, black);
  EXPECT_EQ(Measure(d, moved, kGreenY - 1), kGreenY);
  EXPECT_EQ(d.GetFirstBlock(), Block(4, 6));
  EXPECT_EQ(d.GetLastBlock(), Block(4, 6));
}

TEST(MotionMeasure, FirstAndLastFollowVisitingOrderNotBoundingBox) {
  MotionDetector d;
  Frame black(400, 400), moved(400, 400);
  moved.FillBlock(3, 15, 20, 20, 0, kG, 0);
  moved.FillBlock(10, 2, 20, 20, 0, kG, 0);
  moved.FillBlock(12, 9, 20, 20, 0, 0, 30);  // below the trigger level: Y 8
  Measure(d, black);
  EXPECT_EQ(Measure(d, moved, 50), kGreenY);
  EXPECT_EQ(d.GetFirstBlock(), Block(10, 2)) << "row 2 is visited before row 15";
  EXPECT_EQ(d.GetLastBlock(), Block(3, 15));
  // A quiet frame clears the first block but leaves the last as stored.
  EXPECT_EQ(Measure(d, moved, 50), 0);
  EXPECT_EQ(d.GetFirstBlock().first, -1);
}

TEST(MotionMeasure, IgnoredBlocksTakeNoPartAndGridChangesApplyAtOnce) {
  MotionDetector d;
  Frame a(200, 200), b(200, 200, 255, 255, 255);
  d.FillGrid();
  Measure(d, a);
  EXPECT_EQ(Measure(d, b), 0);
  EXPECT_EQ(Measure(d, a), 0);
  EXPECT_EQ(d.GetFirstBlock().first, -1);

  // Ignored blocks still had their samples kept, so a cleared grid measures
  // the very next frame against them.
  d.ClearGrid();
  EXPECT_GT(Measure(d, b, 100), 100);
  EXPECT_EQ(d.GetFirstBlock(), Block(0, 0));
  EXPECT_EQ(d.GetLastBlock(), Block(19, 19));

  // Only block (2, 3) moves; ignoring exactly that block hides it.
  std::vector<uint8_t> grid(400, 0);
  grid[2 * 20 + 3] = 9;  // any non-zero byte ignores
  d.SetGrid(grid.data());
  Frame c = b;
  c.FillBlock(2, 3, 10, 10, 0, 0, 0);
  EXPECT_EQ(Measure(d, c), 0);
  grid[2 * 20 + 3] = 0;
  grid[3 * 20 + 2] = 1;  // the transposed index must not hide it
  d.SetGrid(grid.data());
  EXPECT_GT(Measure(d, b), 0);
  EXPECT_EQ(d.GetFirstBlock(), Block(2, 3));
}

TEST(MotionMeasure, PixelsBeyondTheLastWholeBlockAreNeverSampled) {
  // Width 330: blocks are 16 wide, columns 320..329 lie outside every block.
  MotionDetector d;
  Frame base(330, 40), edge(330, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 320; x < 330; ++x) edge.Set(x, y, 255, 255, 255);
  Measure(d, base);
  EXPECT_EQ(Measure(d, edge), 0);
  // Control: the last sampled column of block 19 is 304 + 12 = 316, one of
  // its four sampled columns (blocks are 2 high: one sampled row).
  for (int y = 0; y < 40; ++y) edge.Set(316, y, 0, kG, 0);
  EXPECT_EQ(Measure(d, edge), kGreenY / 4);
  EXPECT_EQ(d.GetFirstBlock(), Block(19, 0));
  // Rows above 20 x blockHeight likewise: height 41 leaves row 40 out.
  Frame tallBase(40, 41), tallTop(40, 41);
  for (int x = 0; x < 40; ++x) tallTop.Set(x, 40, 255, 255, 255);
  Measure(d, tallBase);
  EXPECT_EQ(Measure(d, tallTop), 0);
}

// ---------------------------------------------------------------- odd frames

TEST(MotionOddFrames, TinyEmptyAndNegativeSizesGiveZero) {
  MotionDetector d;
  for (auto [w, h] : {std::pair{10, 10}, {19, 100}, {100, 19}, {1, 1}}) {
    Frame a(w, h), b(w, h, 255, 255, 255);
    EXPECT_EQ(Measure(d, a), 0) << w << "x" << h;
    EXPECT_EQ(Measure(d, b), 0) << w << "x" << h;
    EXPECT_EQ(d.GetFirstBlock().first, -1);
  }
  uint8_t byte = 0;
  EXPECT_EQ(d.Measure(nullptr, 0, 0, 0, 0), 0);
  EXPECT_EQ(d.Measure(nullptr, 1000, 100, 100, 0), 0);
  EXPECT_EQ(d.Measure(&byte, 1, -40, 40, 0), 0);
  EXPECT_EQ(d.Measure(&byte, 1, -40, -40, 0), 0);
  EXPECT_EQ(d.Measure(&byte, 1, 0x7fffffff, 0x7fffffff, 0), 0);
  // After all that a normal frame pair still works.
  Frame a(40, 40), b(40, 40, 0, kG, 0);
  Measure(d, a);
  EXPECT_EQ(Measure(d, b), kGreenY);
}

// Buffers exactly as long as given, so any read past them is an ASan error.
std::unique_ptr<uint8_t[]> Exact(size_t n, uint8_t value) {
  std::unique_ptr<uint8_t[]> p(new uint8_t[n]);
  std::fill(p.get(), p.get() + n, value);
  return p;
}

TEST(MotionOddFrames, ShortBuffersAreReadOnlyAsFarAsTheyGo) {
  // An 8-bit 64 x 48 frame handed in as if 24-bit: a third of the bytes.
  const int w = 64, h = 48;
  const size_t n = size_t(w) * h;
  MotionDetector d;
  auto a = Exact(n, 0), b = Exact(n, 0), c = Exact(n, 200);
  EXPECT_EQ(d.Measure(a.get(), n, w, h, 0), 0);
  EXPECT_EQ(d.Measure(b.get(), n, w, h, 0), 0) << "same bytes, no motion";
  EXPECT_GT(d.Measure(c.get(), n, w, h, 0), 0) << "the bytes that are there are still measured";
  EXPECT_EQ(d.GetFirstBlock(), Block(0, 0));
  // 3072 bytes hold 16 rows of 192: block rows 0..7 (blocks are 2 high).
  EXPECT_EQ(d.GetLastBlock(), Block(19, 7)) << "no block above the buffer's end";

  // A short previous frame: what it lacked is not compared, even when the
  // next frame is whole and differs there.
  MotionDetector e;
  Frame whole(w, h), upper(w, h);
  for (int y = h / 2; y < h; ++y)
    for (int x = 0; x < w; ++x) upper.Set(x, y, 255, 255, 255);
  const size_t half = whole.px.size() / 2;
  auto shortPrev = Exact(half, 0);
  e.Measure(shortPrev.get(), half, w, h, 0);
  EXPECT_EQ(Measure(e, upper), 0);
  EXPECT_GT(Measure(e, whole), 0) << "a whole previous frame compares everywhere";

  // Far too short for any real format: refused, never measured.
  auto tiny = Exact(100, 0), tiny2 = Exact(100, 255);
  MotionDetector f;
  EXPECT_EQ(f.Measure(tiny.get(), 100, 640, 480, 0), 0);
  EXPECT_EQ(f.Measure(tiny2.get(), 100, 640, 480, 0), 0);
}

}  // namespace

// ---- motion on the JPEG's own luma against the RGB luminance ----
namespace luma {

using Bytes = std::vector<uint8_t>;

// A picture as a camera encodes it: 4:2:0 at quality 75.
Bytes Encode(const std::vector<uint8_t>& bgrTopDown, int w, int h) {
  media::FrameImage image;
  image.width = w;
  image.height = h;
  image.bitsPerPixel = 24;
  image.pixels.resize(bgrTopDown.size());
  // Frame images are bottom-up.
  for (int y = 0; y < h; ++y)
    std::copy_n(&bgrTopDown[size_t(y) * w * 3], size_t(w) * 3, &image.pixels[size_t(h - 1 - y) * w * 3]);
  Bytes jpeg;
  EXPECT_TRUE(media::EncodeJpeg(image, 75, jpeg));
  return jpeg;
}

// A textured static scene with sensor noise of +-`noise` in every frame and the
// brightness raised by `lift(i)` in frame i.
std::vector<Bytes> Scene(int frames, int noise, const std::function<int(int)>& lift) {
  const int w = 320, h = 240;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> jitter(-noise, noise);
  std::vector<Bytes> out;
  for (int i = 0; i < frames; ++i) {
    std::vector<uint8_t> bgr(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
          const int texture = ((x / 8 + y / 8) % 2) * 60 + x * 80 / w + c * 20;
          bgr[(size_t(y) * w + x) * 3 + c] = uint8_t(std::clamp(texture + 40 + lift(i) + jitter(random), 0, 255));
        }
    out.push_back(Encode(bgr, w, h));
  }
  return out;
}

std::vector<Bytes> TestCameraFrames(bool noise) {
  testcam::Options o;
  o.width = 320;
  o.height = 240;
  o.motion = true;
  o.noise = noise;
  testcam::Server server(o);
  EXPECT_TRUE(server.Start());
  std::vector<Bytes> frames = server.Frames();
  server.Stop();
  return frames;
}

struct SequenceRow {
  const char* name;
  std::function<std::vector<Bytes>()> frames;
  // Largest level difference allowed. Pictures of full-range random colours are the
  // one exception to 2: after 4:2:0 subsampling most of their pixels decode to
  // colours outside the RGB cube, which the RGB path clips and the Y plane does not.
  int tolerance = 2;
};

void PrintTo(const SequenceRow& row, std::ostream* os) { *os << row.name; }

class LumaMotion : public testing::TestWithParam<SequenceRow> {};

// Levels differ by at most the row's tolerance (2), and at every trigger level a
// frame triggers on the luma exactly when it does on RGB, unless its RGB level sits
// within that tolerance of it.
TEST_P(LumaMotion, MatchesTheRgbLuminanceWithinTwo) {
  const std::vector<Bytes> frames = GetParam().frames();
  ASSERT_GE(frames.size(), 8u);
  MotionDetector rgb, fromLuma;
  int maxDifference = 0, maxLevel = 0, nearTrigger = 0;
  std::vector<std::pair<int, int>> levels;
  for (size_t i = 0; i < frames.size(); ++i) {
    media::FrameImage image;
    media::YuvImage planes;
    ASSERT_TRUE(media::DecodeJpeg(frames[i].data(), frames[i].size(), image));
    ASSERT_TRUE(media::DecodeJpegLuma(frames[i].data(), frames[i].size(), planes));
    ASSERT_EQ(planes.width, image.width);
    const int a = rgb.Measure(image.pixels.data(), image.pixels.size(), image.width, image.height, 255);
    const int b = fromLuma.MeasureLuma(planes.plane[0].data(), planes.stride[0], planes.width, planes.height, 255);
    maxDifference = std::max(maxDifference, std::abs(a - b));
    maxLevel = std::max(maxLevel, a);
    levels.emplace_back(a, b);
  }
  const int tolerance = GetParam().tolerance;
  EXPECT_LE(maxDifference, tolerance);
  EXPECT_GT(maxLevel, 0) << "a sequence without any motion shows nothing";
  for (int trigger = 0; trigger <= 100; ++trigger)
    for (const auto& [a, b] : levels) {
      if (std::abs(a - trigger) <= tolerance) {
        nearTrigger += (a > trigger) != (b > trigger);
        continue;
      }
      EXPECT_EQ(a > trigger, b > trigger) << "levels " << a << "/" << b << " at trigger " << trigger;
    }
  std::cout << GetParam().name << ": " << frames.size() << " frames, highest level " << maxLevel
            << ", largest difference " << maxDifference << ", decisions differing near a trigger level "
            << nearTrigger << "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, LumaMotion,
    testing::Values(SequenceRow{"testCameraMovingScene", [] { return TestCameraFrames(false); }},
                    SequenceRow{"testCameraColourNoise", [] { return TestCameraFrames(true); }, 6},
                    SequenceRow{"noisyStaticScene", [] { return Scene(16, 12, [](int) { return 0; }); }},
                    SequenceRow{"lightingChange",
                                [] { return Scene(16, 3, [](int i) { return i < 8 ? i * 4 : 32 + (i - 7) * 12; }); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace luma
