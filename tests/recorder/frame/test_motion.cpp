// Motion detector: measurement, grid editing and the overlays it draws.
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRect>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/frame/motion_detector.h"

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

// ---------------------------------------------------------------- grid and blocks

TEST(MotionGrid, EditingCommands) {
  MotionDetector d;
  EXPECT_EQ(d.CopyGrid(), std::vector<uint8_t>(400, 0));
  d.FillGrid();
  EXPECT_EQ(d.CopyGrid(), std::vector<uint8_t>(400, 1));
  std::vector<uint8_t> g(400);
  for (size_t i = 0; i < g.size(); ++i) g[i] = uint8_t(i * 7);
  d.SetGrid(g.data());
  EXPECT_EQ(d.CopyGrid(), g);
  d.SetGrid(nullptr);
  d.SetGrid(std::vector<uint8_t>(399, 0).data(), 399);
  EXPECT_EQ(d.CopyGrid(), g) << "no grid or a short grid leaves it alone";
  d.ClearGrid();
  EXPECT_EQ(d.CopyGrid(), std::vector<uint8_t>(400, 0));

  d.SetBlocks({1, 2}, {3, 4});
  EXPECT_EQ(d.GetFirstBlock(), Block(1, 2));
  EXPECT_EQ(d.GetLastBlock(), Block(3, 4));
  d.ResetBlocks();
  EXPECT_EQ(d.GetFirstBlock(), Block(-1, -1));
  EXPECT_EQ(d.GetLastBlock(), Block(-1, -1));
}

TEST(MotionGrid, ToggleMapsScreenCellsToGridBytes) {
  MotionDetector d;
  const QRect rect(10, 20, 400, 300);  // cells 20 x 15
  d.ToggleBlockAt(QPoint(10, 319), rect);  // bottom-left pixel
  EXPECT_EQ(d.Grid()[0], 1);
  d.ToggleBlockAt(QPoint(29, 305), rect);  // same cell
  EXPECT_EQ(d.Grid()[0], 0);
  d.ToggleBlockAt(QPoint(10, 20), rect);  // top-left
  EXPECT_EQ(d.Grid()[19], 1);
  d.ToggleBlockAt(QPoint(409, 20), rect);  // top-right
  EXPECT_EQ(d.Grid()[399], 1);
  d.ToggleBlockAt(QPoint(10 + 70, 20 + 50), rect);  // column 3, screen row 3
  EXPECT_EQ(d.Grid()[3 * 20 + 16], 1);

  std::vector<uint8_t> g(400, 0);
  g[19] = 7;
  d.SetGrid(g.data());
  d.ToggleBlockAt(QPoint(10, 20), rect);
  EXPECT_EQ(d.Grid()[19], 0) << "any non-zero byte becomes 0";

  // Off the picture: nothing changes, nothing outside the grid is written.
  d.ClearGrid();
  for (QPoint p : {QPoint(9, 20), QPoint(410, 20), QPoint(10, 19), QPoint(10, 320), QPoint(-5000, 99999)})
    d.ToggleBlockAt(p, rect);
  d.ToggleBlockAt(QPoint(0, 0), QRect(0, 0, 0, 0));
  EXPECT_EQ(d.CopyGrid(), std::vector<uint8_t>(400, 0));

  // Cells of fractional width: 30 wide gives 1.5 per cell.
  d.ToggleBlockAt(QPoint(2, 0), QRect(0, 0, 30, 30));  // 2 / 1.5 -> column 1
  d.ToggleBlockAt(QPoint(3, 0), QRect(0, 0, 30, 30));  // 3 / 1.5 -> column 2
  EXPECT_EQ(d.Grid()[1 * 20 + 19], 1);
  EXPECT_EQ(d.Grid()[2 * 20 + 19], 1);
  d.ToggleBlockAt(QPoint(29, 29), QRect(0, 0, 30, 30));
  EXPECT_EQ(d.Grid()[19 * 20 + 0], 1);
}

// ---------------------------------------------------------------- drawing

QImage Canvas(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::black);
  return img;
}
bool IsRed(const QImage& img, int x, int y) { return img.pixel(x, y) == qRgb(255, 0, 0); }
bool IsBlack(const QImage& img, int x, int y) { return img.pixel(x, y) == qRgb(0, 0, 0); }
int CountRed(const QImage& img) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += IsRed(img, x, y);
  return n;
}

TEST(MotionDraw, RectangleFramesTheFirstAndLastBlocks) {
  MotionDetector d;
  Frame black(400, 400), moved(400, 400);
  moved.FillBlock(3, 15, 20, 20, 0, kG, 0);
  moved.FillBlock(10, 2, 20, 20, 0, kG, 0);
  Measure(d, black);
  Measure(d, moved, 50);

  QImage img = Canvas(400, 400);
  {
    QPainter p(&img);
    d.DrawMotionRectangle(p, QRect(0, 0, 400, 400));
    d.DrawMotionRectangle(p, QRect(0, 0, 400, 400));  // repaint draws the same
  }
  // Columns 3..10 -> x 60..219; screen rows 4..17 -> y 80..359.
  for (auto [x, y] : {std::pair{60, 80}, {219, 80}, {60, 359}, {219, 359}, {61, 81}, {218, 358}, {140, 80}, {60, 200}})
    EXPECT_TRUE(IsRed(img, x, y)) << x << "," << y;
  for (auto [x, y] : {std::pair{62, 82}, {217, 357}, {59, 80}, {220, 80}, {60, 79}, {60, 360}, {140, 200}})
    EXPECT_TRUE(IsBlack(img, x, y)) << x << "," << y;
  EXPECT_EQ(CountRed(img), (2 * (160 + 280) - 4) + (2 * (158 + 278) - 4)) << "two one-pixel frames, nothing else";
  EXPECT_EQ(d.GetFirstBlock(), Block(10, 2)) << "drawing leaves the blocks as stored";

  // Offset client rectangle moves the frame with it.
  QImage off = Canvas(420, 420);
  {
    QPainter p(&off);
    d.DrawMotionRectangle(p, QRect(10, 15, 400, 400));
  }
  EXPECT_TRUE(IsRed(off, 70, 95));
  EXPECT_TRUE(IsBlack(off, 60, 80));

  // No first block: nothing at all.
  d.ResetBlocks();
  QImage none = Canvas(400, 400);
  {
    QPainter p(&none);
    d.DrawMotionRectangle(p, QRect(0, 0, 400, 400));
  }
  EXPECT_EQ(CountRed(none), 0);
}

TEST(MotionDraw, GridLinesAndIgnoreCrosses) {
  MotionDetector d;
  QImage img = Canvas(410, 410);  // cells 20.5: lines at 0, 20, 41, 61, ...
  {
    QPainter p(&img);
    d.DrawGridLines(p, QRect(0, 0, 410, 410));
  }
  const QRgb grey = qRgb(128, 128, 128);
  EXPECT_EQ(img.pixel(5, 0), grey);
  EXPECT_EQ(img.pixel(5, 20), grey);
  EXPECT_EQ(img.pixel(5, 41), grey);
  EXPECT_EQ(img.pixel(5, 61), grey) << "61.5 is truncated, not rounded";
  EXPECT_EQ(img.pixel(5, 62), qRgb(0, 0, 0));
  EXPECT_EQ(img.pixel(61, 5), grey);
  EXPECT_EQ(img.pixel(10, 10), qRgb(0, 0, 0));
  EXPECT_EQ(img.pixel(5, 389), grey);  // k = 19: 389.5

  // Crosses only where the grid ignores, rows counted from the bottom.
  d.ToggleBlockAt(QPoint(0, 0), QRect(0, 0, 400, 400));  // byte 19: top-left cell
  EXPECT_EQ(d.Grid()[19], 1);
  QImage x = Canvas(400, 400);
  {
    QPainter p(&x);
    d.DrawIgnoreBlocks(p, QRect(0, 0, 400, 400));
  }
  EXPECT_TRUE(IsRed(x, 10, 10)) << "both diagonals meet in the middle";
  EXPECT_TRUE(IsRed(x, 5, 5));
  EXPECT_TRUE(IsRed(x, 15, 5));
  EXPECT_TRUE(IsBlack(x, 10, 3));
  EXPECT_TRUE(IsBlack(x, 10, 390)) << "bottom-left cell is byte 0, not ignored";
  EXPECT_TRUE(IsBlack(x, 30, 10));
  for (int y = 25; y < 400; ++y)
    for (int xx = 25; xx < 400; ++xx) ASSERT_TRUE(IsBlack(x, xx, y)) << xx << "," << y;
}

}  // namespace
