// Overlay text: placement, colours, background modes and the saved picture.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "media/jpeg_codec.h"
#include "recorder/frame/overlay.h"

using namespace recorder;

namespace {

using media::FrameImage;
using frame::OverlaySettings;

FrameImage Filled(int w, int h, int bits, uint8_t value) {
  FrameImage img;
  img.width = w, img.height = h, img.bitsPerPixel = bits;
  img.pixels.assign(img.Size(), value);
  return img;
}

camera::LogFont Font(int height, const char* face = "DejaVu Sans", int weight = 400) {
  camera::LogFont f;
  f.height = height;
  f.weight = weight;
  f.faceName.fill(0);
  std::memcpy(f.faceName.data(), face, std::min<size_t>(std::strlen(face), 31));
  return f;
}

OverlaySettings Settings(const std::string& text, int background, uint32_t textColor, uint32_t backColor,
                         int height = 20) {
  OverlaySettings s;
  s.text = text;
  s.font = Font(height);
  s.background = background;
  s.textColor = textColor;
  s.backColor = backColor;
  return s;
}

// Colour of a 24-bit pixel at (x, y from the top) as 0x00BBGGRR.
uint32_t ColorAt(const FrameImage& img, int x, int yTop) {
  const uint8_t* p = img.pixels.data() + (size_t(img.height - 1 - yTop) * img.width + x) * 3;
  return uint32_t(p[2]) | (uint32_t(p[1]) << 8) | (uint32_t(p[0]) << 16);
}

// Pixels (x, y from the top) of a 24-bit frame that have the given colour.
std::set<std::pair<int, int>> PixelsOf(const FrameImage& img, uint32_t colour) {
  std::set<std::pair<int, int>> out;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x)
      if (ColorAt(img, x, y) == colour) out.insert({x, y});
  return out;
}

std::pair<int, int> TextSize(const OverlaySettings& s) {
  const QFontMetrics m(frame::BuildFont(s.font));
  return {m.horizontalAdvance(QString::fromUtf8(s.text.c_str())), m.height()};
}

constexpr uint32_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kGrey = 0x808080;

// ---------------------------------------------------------------- placement

TEST(OverlayPosition, AlignmentsFollowTheTable) {
  EXPECT_EQ(frame::ComputeOverlayPosition(320, 240, 100, 40, frame::kHAlignCenter, frame::kVAlignCenter).y, 100);
  auto p = frame::ComputeOverlayPosition(320, 240, 100, 40, frame::kHAlignCenter, frame::kVAlignCenter);
  EXPECT_EQ(p.x, 110);
  p = frame::ComputeOverlayPosition(320, 240, 100, 40, frame::kHAlignRight, frame::kVAlignBottom);
  EXPECT_EQ(p.x, 220);
  EXPECT_EQ(p.y, 200);
  p = frame::ComputeOverlayPosition(320, 240, 100, 40, frame::kHAlignLeft, frame::kVAlignTop);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
  p = frame::ComputeOverlayPosition(320, 240, 100, 40, 9, 9);  // unknown values act as LEFT/TOP
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
  // Wider than the frame: halving truncates toward zero (-51 / 2 = -25).
  p = frame::ComputeOverlayPosition(100, 10, 151, 31, frame::kHAlignCenter, frame::kVAlignCenter);
  EXPECT_EQ(p.x, -25);
  EXPECT_EQ(p.y, -10);
}

TEST(OverlayFont, DescriptionMapsToFont) {
  camera::LogFont lf = Font(-13, "DejaVu Sans", 700);
  QFont f = frame::BuildFont(lf);
  EXPECT_EQ(f.pixelSize(), 13);
  EXPECT_EQ(f.weight(), QFont::Bold);
  EXPECT_FALSE(f.italic());
  EXPECT_EQ(f.styleStrategy() & QFont::NoAntialias, QFont::NoAntialias);
  lf = Font(20, "DejaVu Sans", 400);
  lf.italic = lf.underline = lf.strikeOut = 1;
  f = frame::BuildFont(lf);
  EXPECT_EQ(f.pixelSize(), 20);
  EXPECT_EQ(f.weight(), QFont::Normal);
  EXPECT_TRUE(f.italic() && f.underline() && f.strikeOut());
  EXPECT_EQ(frame::BuildFont(Font(0)).pixelSize(), 13);
  EXPECT_EQ(frame::BuildFont(Font(-2000000000)).pixelSize(), 1024);  // damaged settings stay sane
}

TEST(OverlayFont, MissingFaceFallsBackToAnInstalledFamily) {
  const QFont f = frame::BuildFont(Font(-13, "NoSuchFaceAnywhere"));
  EXPECT_EQ(f.family(), QString(frame::kFallbackFontFamily));
  camera::LogFont unterminated = Font(-13);
  unterminated.faceName.fill('A');  // no NUL inside the 32 bytes
  EXPECT_EQ(frame::BuildFont(unterminated).family(), QString(frame::kFallbackFontFamily));
}

// Rows (from the top) that hold text-coloured pixels lie in the text's band.
TEST(OverlayStamp, TextLandsInTheExpectedRowBand) {
  for (int vAlign : {frame::kVAlignTop, frame::kVAlignCenter, frame::kVAlignBottom}) {
    OverlaySettings s = Settings("Motion 12:34 |", frame::kOverlayTransparent, kRed, kGreen, 24);
    s.vAlign = vAlign;
    s.hAlign = frame::kHAlignLeft;
    FrameImage img = Filled(320, 240, 24, 0x80);
    ASSERT_TRUE(frame::StampText(img, s));
    const auto [tw, th] = TextSize(s);
    const auto pos = frame::ComputeOverlayPosition(320, 240, tw, th, s.hAlign, vAlign);
    const auto red = PixelsOf(img, kRed);
    ASSERT_GT(red.size(), 20u) << "no text drawn for vAlign " << vAlign;
    int minY = 1 << 30, maxY = -1;
    for (auto [x, y] : red) {
      minY = std::min(minY, y);
      maxY = std::max(maxY, y);
      EXPECT_LT(x, tw + 1);
    }
    EXPECT_GE(minY, pos.y) << vAlign;
    EXPECT_LT(maxY, pos.y + th) << vAlign;
    // The band is not just somewhere inside: it spans most of the text height.
    EXPECT_GE(maxY - minY, th / 2) << vAlign;
    // Every pixel is text-coloured or untouched.
    EXPECT_EQ(red.size() + PixelsOf(img, kGrey).size(), size_t(320 * 240));

    // The saved picture shows the same band after encoding and decoding.
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(media::EncodeJpeg(img, 95, jpeg));
    FrameImage decoded;
    ASSERT_TRUE(media::DecodeJpeg(jpeg.data(), jpeg.size(), decoded));
    ASSERT_EQ(decoded.height, 240);
    int reddish = 0;
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x) {
        const uint32_t c = ColorAt(decoded, x, y);
        if ((c & 0xFF) > 200 && ((c >> 8) & 0xFF) < 90 && ((c >> 16) & 0xFF) < 90) {
          ++reddish;
          EXPECT_TRUE(y >= pos.y - 2 && y < pos.y + th + 2) << "decoded text pixel at row " << y;
        }
      }
    EXPECT_GT(reddish, 10);
  }
}

TEST(OverlayStamp, TextIsUpright) {
  // "T": its bar is at the top of the glyph, so the topmost text row is the widest.
  OverlaySettings s = Settings("T", frame::kOverlayTransparent, kRed, kGreen, 40);
  s.vAlign = frame::kVAlignCenter;
  FrameImage img = Filled(200, 100, 24, 0);
  ASSERT_TRUE(frame::StampText(img, s));
  std::map<int, int> perRow;
  for (auto [x, y] : PixelsOf(img, kRed)) ++perRow[y];
  ASSERT_GE(perRow.size(), 10u);
  EXPECT_GT(perRow.begin()->second, perRow.rbegin()->second * 3);
}

TEST(OverlayStamp, ColourValueIsRedInTheLowByteForEveryDepth) {
  OverlaySettings s = Settings("HHHH", frame::kOverlayTransparent, 0x0000FF, 0, 16);
  FrameImage img24 = Filled(80, 40, 24, 0);
  ASSERT_TRUE(frame::StampText(img24, s));
  bool sawRed = false;
  for (size_t i = 0; i < img24.pixels.size(); i += 3)
    if (img24.pixels[i] == 0 && img24.pixels[i + 1] == 0 && img24.pixels[i + 2] == 255) sawRed = true;
  EXPECT_TRUE(sawRed);

  FrameImage img32 = Filled(80, 40, 32, 0x11);
  ASSERT_TRUE(frame::StampText(img32, s));
  int red32 = 0;
  for (size_t i = 0; i < img32.pixels.size(); i += 4) {
    EXPECT_EQ(img32.pixels[i + 3], 0x11) << "fourth byte must stay";
    if (img32.pixels[i] == 0 && img32.pixels[i + 1] == 0 && img32.pixels[i + 2] == 255) ++red32;
  }
  EXPECT_GT(red32, 0);

  FrameImage img16 = Filled(80, 40, 16, 0);
  ASSERT_TRUE(frame::StampText(img16, s));
  int red16 = 0;
  for (size_t i = 0; i < img16.pixels.size(); i += 2) {
    const unsigned v = img16.pixels[i] | (img16.pixels[i + 1] << 8);
    if (v != 0) {
      EXPECT_EQ(v, 0x7C00u);  // RGB555 red
    }
    red16 += v == 0x7C00;
  }
  EXPECT_GT(red16, 0);

  FrameImage img8 = Filled(80, 40, 8, 0);
  ASSERT_TRUE(frame::StampText(img8, s));
  int grey8 = 0;
  for (uint8_t v : img8.pixels) {
    if (v != 0) {
      EXPECT_EQ(v, 76);  // luminance of pure red
    }
    grey8 += v == 76;
  }
  EXPECT_GT(grey8, 0);
}

// ---------------------------------------------------------------- background modes

// The glyph mask: where the text alone paints, from a transparent stamp.
std::set<std::pair<int, int>> Mask(const OverlaySettings& base, int w, int h) {
  OverlaySettings s = base;
  s.background = frame::kOverlayTransparent;
  s.textColor = kRed;
  FrameImage img = Filled(w, h, 24, 0);
  EXPECT_TRUE(frame::StampText(img, s));
  return PixelsOf(img, kRed);
}

std::set<std::pair<int, int>> Shifted(const std::set<std::pair<int, int>>& m, int dx, int dy) {
  std::set<std::pair<int, int>> out;
  for (auto [x, y] : m) out.insert({x + dx, y + dy});
  return out;
}

TEST(OverlayModes, OutlineDrawsSixRimCopiesButNotStraightLeftAndRight) {
  OverlaySettings s = Settings("Hello -.l|", frame::kOverlayOutline, kRed, kGreen, 15);
  s.vAlign = frame::kVAlignCenter;
  const auto mask = Mask(s, 200, 60);
  ASSERT_FALSE(mask.empty());
  std::set<std::pair<int, int>> rim;
  for (auto [dx, dy] : {std::pair{-1, -1}, {1, -1}, {-1, 1}, {0, -1}, {0, 1}, {1, 1}})
    for (auto p : Shifted(mask, dx, dy)) rim.insert(p);

  FrameImage img = Filled(200, 60, 24, 0);  // black
  ASSERT_TRUE(frame::StampText(img, s));
  int onlySideways = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 200; ++x) {
      const std::pair<int, int> p{x, y};
      const uint32_t expected = mask.count(p) ? kRed : rim.count(p) ? kGreen : 0;
      ASSERT_EQ(ColorAt(img, x, y), expected) << x << "," << y;
      // Pixels reached only by a left or right shift must stay untouched.
      if (!mask.count(p) && !rim.count(p) && (mask.count({x - 1, y}) || mask.count({x + 1, y}))) ++onlySideways;
    }
  EXPECT_GT(onlySideways, 0) << "the text must exercise the missing side positions";
}

TEST(OverlayModes, ShadowIsBackColourOffsetDownRightUnderTheText) {
  OverlaySettings s = Settings("Shadow W", frame::kOverlayShadow, kRed, kBlue, 18);
  s.vAlign = frame::kVAlignCenter;
  const auto mask = Mask(s, 160, 50);
  const auto shadow = Shifted(mask, 1, 1);
  FrameImage img = Filled(160, 50, 24, 0);
  ASSERT_TRUE(frame::StampText(img, s));
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 160; ++x) {
      const uint32_t expected = mask.count({x, y}) ? kRed : shadow.count({x, y}) ? kBlue : 0;
      ASSERT_EQ(ColorAt(img, x, y), expected) << x << "," << y;
    }
}

TEST(OverlayModes, SolidFillsTheTextRectangleOnly) {
  OverlaySettings s = Settings("Solid", frame::kOverlaySolid, kRed, kGreen, 18);
  s.vAlign = frame::kVAlignBottom;
  s.hAlign = frame::kHAlignRight;
  FrameImage img = Filled(120, 60, 24, 0);
  ASSERT_TRUE(frame::StampText(img, s));
  const auto [tw, th] = TextSize(s);
  const int x0 = 120 - tw, y0 = 60 - th;
  int text = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 120; ++x) {
      const uint32_t c = ColorAt(img, x, y);
      if (x >= x0 && y >= y0) {
        EXPECT_TRUE(c == kRed || c == kGreen) << x << "," << y;
        text += c == kRed;
      } else {
        EXPECT_EQ(c, 0u) << x << "," << y;
      }
    }
  EXPECT_GT(text, 0);
}

TEST(OverlayModes, EmptyTextOrUnknownModeChangesNothing) {
  const FrameImage before = Filled(64, 32, 24, 0x40);
  for (int mode = 0; mode <= 3; ++mode) {
    FrameImage img = before;
    frame::StampText(img, Settings("", mode, kRed, kGreen));
    EXPECT_EQ(img.pixels, before.pixels) << mode;
  }
  for (int mode : {4, -1, 99}) {
    FrameImage img = before;
    EXPECT_FALSE(frame::StampText(img, Settings("text", mode, kRed, kGreen)));
    EXPECT_EQ(img.pixels, before.pixels) << mode;
  }
}

TEST(OverlayModes, OversizedTextIsClippedToTheFrame) {
  // Tiny frames, huge fonts and every alignment: nothing is written outside the buffer
  // (the sanitizer checks) and a partly visible text still paints.
  for (int h : {0, 1, 2}) {
    for (int v : {0, 1, 2}) {
      OverlaySettings s = Settings(std::string(200, 'W'), frame::kOverlayOutline, kRed, kGreen, 300);
      s.hAlign = h;
      s.vAlign = v;
      FrameImage img = Filled(16, 8, 24, 0);
      frame::StampText(img, s);
      EXPECT_EQ(img.pixels.size(), size_t(16 * 8 * 3));
    }
  }
  OverlaySettings s = Settings("WWWW", frame::kOverlaySolid, kRed, kGreen, 40);
  FrameImage img = Filled(10, 10, 24, 0);
  EXPECT_TRUE(frame::StampText(img, s));
  EXPECT_TRUE(PixelsOf(img, 0).empty()) << "a solid text covering the frame leaves no untouched pixel";
}

TEST(OverlayModes, InvalidFramesAreLeftAlone) {
  FrameImage shortBuf = Filled(32, 16, 24, 7);
  shortBuf.pixels.resize(100);
  const auto before = shortBuf.pixels;
  EXPECT_FALSE(frame::StampText(shortBuf, Settings("x", 0, kRed, kGreen)));
  EXPECT_EQ(shortBuf.pixels, before);
  FrameImage odd = Filled(32, 16, 12, 7);
  EXPECT_FALSE(frame::StampText(odd, Settings("x", 0, kRed, kGreen)));
}

TEST(OverlayRecord, StampOverlayExpandsTheRecordsTemplate) {
  camera::CameraRecord cam;
  cam.overlayFont = Font(-16);
  cam.overlayBackground = frame::kOverlaySolid;
  cam.overlayTextColor = kRed;
  cam.overlayBackColor = kGreen;
  camera::SetText(cam.overlayText, "%Y");
  const OverlaySettings s = frame::OverlaySettingsFrom(cam);
  EXPECT_EQ(s.text.size(), 4u);
  EXPECT_NE(s.text, "%Y");
  FrameImage img = Filled(100, 40, 24, 0);
  EXPECT_TRUE(frame::StampOverlay(img, cam));
  EXPECT_FALSE(PixelsOf(img, kGreen).empty());
}

}  // namespace

namespace {

// The same text stamped again must follow every change of its settings and of the
// frame size, even though the rendered text is kept between frames.
TEST(OverlayStamp, RepeatedTextFollowsEveryChangedSetting) {
  OverlaySettings s = Settings("HH", frame::kOverlayTransparent, kRed, kGreen, 16);
  FrameImage a = Filled(80, 40, 24, 0);
  ASSERT_TRUE(frame::StampText(a, s));
  EXPECT_FALSE(PixelsOf(a, kRed).empty());

  s.textColor = kBlue;
  FrameImage b = Filled(80, 40, 24, 0);
  ASSERT_TRUE(frame::StampText(b, s));
  EXPECT_TRUE(PixelsOf(b, kRed).empty());
  EXPECT_FALSE(PixelsOf(b, kBlue).empty());

  s.background = frame::kOverlaySolid;
  FrameImage c = Filled(80, 40, 24, 0);
  ASSERT_TRUE(frame::StampText(c, s));
  EXPECT_FALSE(PixelsOf(c, kGreen).empty());

  // Same settings on a wider frame: centred further right.
  FrameImage d = Filled(160, 40, 24, 0);
  ASSERT_TRUE(frame::StampText(d, s));
  const auto green = PixelsOf(d, kGreen);
  ASSERT_FALSE(green.empty());
  EXPECT_GT(green.begin()->first, 40);

  // Identical settings and size: identical pixels.
  FrameImage e = Filled(160, 40, 24, 0);
  ASSERT_TRUE(frame::StampText(e, s));
  EXPECT_EQ(e.pixels, d.pixels);
}

}  // namespace
