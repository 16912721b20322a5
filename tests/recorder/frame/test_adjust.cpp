// Flips and rotation of frame images, checked pixel by pixel for every depth.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "recorder/frame/adjust.h"

using namespace recorder;

namespace {

using media::FrameImage;

// Every pixel gets bytes that identify its row and column, so any misplaced pixel shows.
FrameImage Patterned(int w, int h, int bits) {
  FrameImage img;
  img.width = w;
  img.height = h;
  img.bitsPerPixel = bits;
  img.pixels.resize(img.Size());
  const int bpp = bits / 8;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      for (int k = 0; k < bpp; ++k)
        img.pixels[(size_t(r) * w + c) * bpp + k] = uint8_t((r * 31 + c * 7 + k * 101) ^ (c >> 3) ^ (r << 2));
  return img;
}

std::vector<uint8_t> Pixel(const FrameImage& img, int row, int col) {
  const int bpp = img.bitsPerPixel / 8;
  const auto* p = img.pixels.data() + (size_t(row) * img.width + col) * bpp;
  return std::vector<uint8_t>(p, p + bpp);
}

class AdjustDepth : public ::testing::TestWithParam<int> {};

TEST_P(AdjustDepth, HorizontalFlipMirrorsColumnsAndKeepsOddMiddle) {
  const FrameImage before = Patterned(7, 3, GetParam());
  FrameImage img = before;
  frame::FlipHorizontal(img);
  ASSERT_EQ(img.width, 7);
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(Pixel(img, r, 3), Pixel(before, r, 3)) << "middle column moved, row " << r;
    for (int c = 0; c < 7; ++c) EXPECT_EQ(Pixel(img, r, c), Pixel(before, r, 6 - c)) << r << "," << c;
  }
}

TEST_P(AdjustDepth, VerticalFlipMirrorsRowsAndKeepsOddMiddle) {
  const FrameImage before = Patterned(4, 5, GetParam());
  FrameImage img = before;
  frame::FlipVertical(img);
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(Pixel(img, r, c), Pixel(before, 4 - r, c)) << r << "," << c;
}

TEST_P(AdjustDepth, FlippingTwiceGivesTheSamePixels) {
  for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {5, 3}, {8, 7}}) {
    const FrameImage before = Patterned(w, h, GetParam());
    FrameImage img = before;
    frame::FlipHorizontal(img);
    if (w > 1) {
      EXPECT_NE(img.pixels, before.pixels);
    }
    frame::FlipHorizontal(img);
    EXPECT_EQ(img.pixels, before.pixels);
    frame::FlipVertical(img);
    frame::FlipVertical(img);
    EXPECT_EQ(img.pixels, before.pixels);
  }
}

// The mapping table: source row i (from the buffer start), column j goes to
// 90: (w-1-j, i); 180: (h-1-i, w-1-j); 270: (j, h-1-i).
void ExpectRotation(const FrameImage& before, const FrameImage& after, int degrees) {
  const int w = before.width, h = before.height;
  if (degrees == 180) {
    ASSERT_EQ(after.width, w);
    ASSERT_EQ(after.height, h);
  } else {
    ASSERT_EQ(after.width, h);
    ASSERT_EQ(after.height, w);
  }
  ASSERT_EQ(after.pixels.size(), before.pixels.size());
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) {
      int row = 0, col = 0;
      if (degrees == 90) row = w - 1 - j, col = i;
      if (degrees == 180) row = h - 1 - i, col = w - 1 - j;
      if (degrees == 270) row = j, col = h - 1 - i;
      ASSERT_EQ(Pixel(after, row, col), Pixel(before, i, j)) << degrees << " src " << i << "," << j;
    }
}

TEST_P(AdjustDepth, RotationFollowsTheMappingForEveryChoice) {
  const FrameImage before = Patterned(45, 37, GetParam());  // not square, not a tile multiple
  for (auto [choice, degrees] : {std::pair{1, 90}, {90, 90}, {2, 180}, {180, 180}, {3, 270}, {270, 270}}) {
    FrameImage img = before;
    frame::Rotate(img, choice);
    ExpectRotation(before, img, degrees);
  }
}

TEST_P(AdjustDepth, QuarterTurnOf320x240PutsFormerBottomLeftAtTopLeft) {
  const FrameImage before = Patterned(320, 240, GetParam());
  FrameImage img = before;
  frame::Rotate(img, 1);
  ASSERT_EQ(img.width, 240);
  ASSERT_EQ(img.height, 320);
  // Top-left of the result is the last buffer row, column 0; bottom-left of the source is row 0, column 0.
  EXPECT_EQ(Pixel(img, 319, 0), Pixel(before, 0, 0));
  // Clockwise: the former top-left ends at the top-right.
  EXPECT_EQ(Pixel(img, 319, 239), Pixel(before, 239, 0));
  ExpectRotation(before, img, 90);
}

TEST_P(AdjustDepth, TurnsComposeToIdentity) {
  const FrameImage before = Patterned(12, 9, GetParam());
  FrameImage img = before;
  for (int k = 0; k < 4; ++k) frame::Rotate(img, 1);
  EXPECT_EQ(img.width, 12);
  EXPECT_EQ(img.pixels, before.pixels);
  frame::Rotate(img, 90);
  frame::Rotate(img, 270);
  EXPECT_EQ(img.pixels, before.pixels);
  frame::Rotate(img, 2);
  frame::Rotate(img, 180);
  EXPECT_EQ(img.pixels, before.pixels);
}

TEST_P(AdjustDepth, OtherChoicesLeaveTheFrameUntouched) {
  const FrameImage before = Patterned(10, 6, GetParam());
  for (int choice : {0, 4, -1, 45, 360}) {
    FrameImage img = before;
    frame::Rotate(img, choice);
    EXPECT_EQ(img.width, 10);
    EXPECT_EQ(img.height, 6);
    EXPECT_EQ(img.pixels, before.pixels) << choice;
  }
}

TEST_P(AdjustDepth, OnePassOrientationEqualsFlipsThenTurn) {
  const FrameImage before = Patterned(13, 6, GetParam());
  for (int fh = 0; fh < 2; ++fh)
    for (int fv = 0; fv < 2; ++fv)
      for (int choice : {0, 1, 2, 3, 90, 180, 270, 7}) {
        FrameImage expected = before;
        if (fh) frame::FlipHorizontal(expected);
        if (fv) frame::FlipVertical(expected);
        frame::Rotate(expected, choice);
        FrameImage actual = before;
        frame::ApplyOrientation(actual, fh, fv, choice);
        EXPECT_EQ(actual.width, expected.width);
        EXPECT_EQ(actual.height, expected.height);
        EXPECT_EQ(actual.pixels, expected.pixels) << "flipH " << fh << " flipV " << fv << " choice " << choice;
      }
}

// Flips then the turn, placed pixel by pixel: flipV takes row i to h-1-i, flipH takes
// column j to w-1-j, and the turn follows the mapping table above.
FrameImage Reference(const FrameImage& before, bool flipH, bool flipV, int degrees) {
  const int w = before.width, h = before.height, bpp = before.bitsPerPixel / 8;
  FrameImage after = before;
  if (degrees == 90 || degrees == 270) std::swap(after.width, after.height);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) {
      const int fi = flipV ? h - 1 - i : i, fj = flipH ? w - 1 - j : j;
      int row = fi, col = fj;
      if (degrees == 90) row = w - 1 - fj, col = fi;
      if (degrees == 180) row = h - 1 - fi, col = w - 1 - fj;
      if (degrees == 270) row = fj, col = h - 1 - fi;
      std::memcpy(after.pixels.data() + (size_t(row) * after.width + col) * bpp,
                  before.pixels.data() + (size_t(i) * w + j) * bpp, bpp);
    }
  return after;
}

TEST_P(AdjustDepth, EveryOrientationMatchesThePerPixelMapping) {
  // A single pixel, a single column and row, widths that leave every remainder (0 to 7
  // pixels) once the flip has taken four pixels from each end at a time, and sizes with
  // partial tiles at the right and top edges.
  const std::pair<int, int> sizes[] = {{1, 1},  {1, 7},  {7, 1},   {12, 5},   {21, 2},  {43, 3},
                                       {46, 2}, {33, 65}, {130, 67}, {257, 3}, {128, 2}};
  const std::pair<int, int> turns[] = {{0, 0}, {1, 90}, {2, 180}, {3, 270}};
  for (auto [w, h] : sizes) {
    const FrameImage before = Patterned(w, h, GetParam());
    for (int fh = 0; fh < 2; ++fh)
      for (int fv = 0; fv < 2; ++fv)
        for (auto [choice, degrees] : turns) {
          SCOPED_TRACE(testing::Message() << w << "x" << h << " flipH " << fh << " flipV " << fv << " turn "
                                          << degrees);
          const FrameImage expected = Reference(before, fh, fv, degrees);
          FrameImage fused = before;
          frame::ApplyOrientation(fused, fh, fv, choice);
          FrameImage stepwise = before;
          if (fh) frame::FlipHorizontal(stepwise);
          if (fv) frame::FlipVertical(stepwise);
          frame::Rotate(stepwise, choice);
          for (const FrameImage* actual : {&fused, &stepwise}) {
            EXPECT_EQ(actual->width, expected.width);
            EXPECT_EQ(actual->height, expected.height);
            EXPECT_EQ(actual->pixels, expected.pixels) << (actual == &fused ? "one pass" : "step by step");
          }
        }
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, AdjustDepth, ::testing::Values(8, 16, 24, 32));

TEST(AdjustGuards, UnsupportedDepthsAndShortBuffersAreLeftAlone) {
  // A 12-bit frame (1 byte per pixel by the size rule) and a 24-bit frame with a short buffer.
  FrameImage odd;
  odd.width = 4, odd.height = 4, odd.bitsPerPixel = 12;
  odd.pixels.assign(16, 0);
  odd.pixels[0] = 9;
  FrameImage shortBuf = Patterned(8, 8, 24);
  shortBuf.pixels.resize(shortBuf.pixels.size() - 1);
  FrameImage empty;
  for (FrameImage* img : {&odd, &shortBuf, &empty}) {
    const FrameImage before = *img;
    frame::FlipHorizontal(*img);
    frame::FlipVertical(*img);
    frame::Rotate(*img, 1);
    frame::ApplyOrientation(*img, true, true, 1);
    frame::ApplyOrientation(*img, true, true, 0);  // both flips alone take the one-pass path too
    EXPECT_EQ(img->pixels, before.pixels);
    EXPECT_EQ(img->width, before.width);
    EXPECT_EQ(img->height, before.height);
  }
}

TEST(AdjustGuards, LongerBufferKeepsItsTail) {
  FrameImage img = Patterned(6, 4, 24);
  const FrameImage reference = img;
  img.pixels.push_back(0xAB);
  frame::Rotate(img, 3);
  ASSERT_EQ(img.pixels.size(), reference.pixels.size() + 1);
  EXPECT_EQ(img.pixels.back(), 0xAB);
  img.pixels.pop_back();
  ExpectRotation(reference, img, 270);
}

}  // namespace
