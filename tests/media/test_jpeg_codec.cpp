#include "media/jpeg_codec.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <thread>

#include "platform/bytes.h"

namespace {

using media::DecodeJpeg;
using media::EncodeJpeg;
using media::FrameImage;

// Colour channels survive JPEG only approximately.
constexpr int kTol = 24;

bool Near(int a, int b, int tol = kTol) { return std::abs(a - b) <= tol; }

// 24-bit bottom-up picture: the top half of the picture red, the bottom half blue.
FrameImage RedOverBlue(int w, int h) {
  FrameImage img;
  img.width = w;
  img.height = h;
  img.bitsPerPixel = 24;
  img.pixels.resize(size_t(w) * 3 * h);
  for (int row = 0; row < h; ++row) {  // row 0 is the bottom of the picture
    const bool bottomHalf = row < h / 2;
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &img.pixels[(size_t(row) * w + x) * 3];
      p[0] = bottomHalf ? 255 : 0;  // blue
      p[1] = 0;
      p[2] = bottomHalf ? 0 : 255;  // red
    }
  }
  return img;
}

// Compresses top-down pixels with the library directly, as a camera would.
std::vector<uint8_t> CompressDirect(const std::vector<uint8_t>& pixels, int w, int h, int pf, int samp) {
  tjhandle h2 = tjInitCompress();
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  const int rc = tjCompress2(h2, pixels.data(), w, 0, h, pf, &buf, &size, samp, 90, 0);
  std::vector<uint8_t> out;
  if (rc == 0) out.assign(buf, buf + size);
  tjFree(buf);
  tjDestroy(h2);
  return out;
}

// Top-down RGB picture, top half red and bottom half blue.
std::vector<uint8_t> CameraJpeg(int w, int h) {
  std::vector<uint8_t> rgb(size_t(w) * 3 * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(size_t(y) * w + x) * 3];
      const bool top = y < h / 2;
      p[0] = top ? 255 : 0;
      p[1] = 0;
      p[2] = top ? 0 : 255;
    }
  return CompressDirect(rgb, w, h, TJPF_RGB, TJSAMP_420);
}

bool HasDqt(const std::vector<uint8_t>& jpeg) {
  const uint8_t dqt[2] = {0xFF, 0xDB};
  return platform::FindBytes(jpeg.data(), jpeg.size(), dqt, 2) >= 0;
}

// ---- decoding --------------------------------------------------------------

TEST(JpegDecode, CameraPictureGivesBottomUpBgrRows) {
  const std::vector<uint8_t> jpeg = CameraJpeg(320, 240);
  ASSERT_FALSE(jpeg.empty());
  FrameImage img;
  ASSERT_TRUE(DecodeJpeg(jpeg.data(), jpeg.size(), img));
  EXPECT_EQ(img.width, 320);
  EXPECT_EQ(img.height, 240);
  EXPECT_EQ(img.bitsPerPixel, 24);
  ASSERT_EQ(img.pixels.size(), 230400u);
  // The first 960 bytes are the bottom row of the picture: blue, blue byte first.
  for (int x = 0; x < 320; x += 37) {
    const uint8_t* p = &img.pixels[size_t(x) * 3];
    EXPECT_TRUE(Near(p[0], 255) && Near(p[1], 0) && Near(p[2], 0))
        << "x=" << x << " got " << int(p[0]) << "," << int(p[1]) << "," << int(p[2]);
  }
  // The last row is the top of the picture: red, red byte last.
  const uint8_t* top = &img.pixels[size_t(239) * 960 + 160 * 3];
  EXPECT_TRUE(Near(top[0], 0) && Near(top[1], 0) && Near(top[2], 255));

  // The same image object decoding a smaller picture takes that picture's size.
  const std::vector<uint8_t> small = CameraJpeg(48, 32);
  ASSERT_TRUE(DecodeJpeg(small.data(), small.size(), img));
  EXPECT_EQ(img.width, 48);
  EXPECT_EQ(img.height, 32);
  EXPECT_EQ(img.pixels.size(), size_t(48) * 32 * 3);
}

TEST(JpegDecode, StrayBytesBeforeTheEndMarkerAreTolerated) {
  // Some cameras pad the scan; the library warns but the picture is whole.
  std::vector<uint8_t> jpeg = CameraJpeg(64, 48);
  ASSERT_GE(jpeg.size(), 2u);
  const std::vector<uint8_t> pad = {0xFF, 0xD0, 0x12, 0x34, 0x56};
  jpeg.insert(jpeg.end() - 2, pad.begin(), pad.end());
  tjhandle h = tjInitDecompress();
  std::vector<uint8_t> scratch(size_t(64) * 48 * 3);
  const int rc = tjDecompress2(h, jpeg.data(), jpeg.size(), scratch.data(), 64, 0, 48, TJPF_BGR, 0);
  const int code = tjGetErrorCode(h);
  tjDestroy(h);
  ASSERT_NE(rc, 0) << "padding no longer draws a warning; the case is moot";
  ASSERT_EQ(code, TJERR_WARNING);
  FrameImage img;
  ASSERT_TRUE(DecodeJpeg(jpeg.data(), jpeg.size(), img));
  EXPECT_EQ(img.pixels.size(), size_t(64) * 48 * 3);
}

TEST(JpegDecode, GreyscalePictureExpandsTo24Bits) {
  // Cameras in night mode send single-channel pictures.
  std::vector<uint8_t> grey(size_t(64) * 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) grey[size_t(y) * 64 + x] = y < 24 ? 200 : 40;
  const std::vector<uint8_t> jpeg = CompressDirect(grey, 64, 48, TJPF_GRAY, TJSAMP_GRAY);
  ASSERT_FALSE(jpeg.empty());
  FrameImage img;
  ASSERT_TRUE(DecodeJpeg(jpeg.data(), jpeg.size(), img));
  EXPECT_EQ(img.bitsPerPixel, 24);
  ASSERT_EQ(img.pixels.size(), size_t(64) * 48 * 3);
  const uint8_t* bottom = &img.pixels[size_t(32) * 3];
  const uint8_t* top = &img.pixels[(size_t(47) * 64 + 32) * 3];
  for (int c = 0; c < 3; ++c) {
    EXPECT_TRUE(Near(bottom[c], 40, 6)) << int(bottom[c]);
    EXPECT_TRUE(Near(top[c], 200, 6)) << int(top[c]);
  }
}

// Fills `img` so a failed decode visibly has to clear it.
void Prefill(FrameImage& img) {
  img.width = 2;
  img.height = 2;
  img.bitsPerPixel = 24;
  img.pixels.assign(12, 7);
}

TEST(JpegDecode, BadInputFailsWithoutPixels) {
  const std::vector<uint8_t> good = CameraJpeg(160, 120);
  FrameImage img;

  Prefill(img);
  EXPECT_FALSE(DecodeJpeg(nullptr, 0, img));
  EXPECT_TRUE(img.pixels.empty());
  EXPECT_EQ(img.width, 0);

  Prefill(img);
  EXPECT_FALSE(DecodeJpeg(good.data(), 0, img));
  EXPECT_TRUE(img.pixels.empty());

  std::vector<uint8_t> garbage(500);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 37 + 11);
  Prefill(img);
  EXPECT_FALSE(DecodeJpeg(garbage.data(), garbage.size(), img));
  EXPECT_TRUE(img.pixels.empty());

  // Cut short in the middle of the scan: no end-of-image marker.
  Prefill(img);
  EXPECT_FALSE(DecodeJpeg(good.data(), good.size() / 2, img));
  EXPECT_TRUE(img.pixels.empty());

  // Only the start-of-image and a few header bytes.
  Prefill(img);
  EXPECT_FALSE(DecodeJpeg(good.data(), 20, img));
  EXPECT_TRUE(img.pixels.empty());

  // A header whose table runs past the picture: the pictures after it still decode.
  std::vector<uint8_t> badTable = {0xFF, 0xD8, 0xFF, 0xDB, 0x55, 0x55};
  badTable.resize(200, 0x55);
  badTable.insert(badTable.end(), {0xFF, 0xD9});
  EXPECT_FALSE(DecodeJpeg(badTable.data(), badTable.size(), img));
  EXPECT_TRUE(DecodeJpeg(good.data(), good.size(), img));
  EXPECT_EQ(img.width, 160);
}

TEST(JpegDecode, AbsurdDimensionsAreRefusedBeforeAllocating) {
  std::vector<uint8_t> jpeg = CameraJpeg(64, 48);
  // Rewrite the frame header's height and width to 65000 x 65000 (about 12 GB).
  const uint8_t sof0[2] = {0xFF, 0xC0};
  const long sof = platform::FindBytes(jpeg.data(), jpeg.size(), sof0, 2);
  ASSERT_GE(sof, 0);
  for (int i : {5, 7}) {
    jpeg[size_t(sof) + i] = 0xFD;
    jpeg[size_t(sof) + i + 1] = 0xE8;
  }
  FrameImage img;
  EXPECT_FALSE(DecodeJpeg(jpeg.data(), jpeg.size(), img));
  EXPECT_TRUE(img.pixels.empty());
}

// ---- encoding --------------------------------------------------------------

TEST(JpegEncode, OutputIsTopDownRgbForOtherReaders) {
  // Checked with the library directly so a flip in both directions would not hide.
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(EncodeJpeg(RedOverBlue(320, 240), 90, jpeg));
  ASSERT_GE(jpeg.size(), 4u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
  EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
  EXPECT_TRUE(HasDqt(jpeg));

  tjhandle h = tjInitDecompress();
  std::vector<uint8_t> rgb(size_t(320) * 240 * 3);
  ASSERT_EQ(tjDecompress2(h, jpeg.data(), jpeg.size(), rgb.data(), 320, 0, 240, TJPF_RGB, 0), 0);
  tjDestroy(h);
  const uint8_t* topRow = &rgb[size_t(100) * 3];
  const uint8_t* bottomRow = &rgb[(size_t(239) * 320 + 100) * 3];
  EXPECT_TRUE(Near(topRow[0], 255) && Near(topRow[2], 0)) << int(topRow[0]) << "," << int(topRow[2]);
  EXPECT_TRUE(Near(bottomRow[0], 0) && Near(bottomRow[2], 255));
}

struct DepthCase {
  int bpp;
  // Fills one pixel of the given colour (r, g, b) in the frame's own layout.
  void (*put)(uint8_t* p, int r, int g, int b);
};

void Put8(uint8_t* p, int r, int, int) { p[0] = uint8_t(r); }
void Put16(uint8_t* p, int r, int g, int b) {
  const unsigned v = unsigned((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
  p[0] = uint8_t(v & 0xFF);
  p[1] = uint8_t(v >> 8);
}
void Put24(uint8_t* p, int r, int g, int b) {
  p[0] = uint8_t(b);
  p[1] = uint8_t(g);
  p[2] = uint8_t(r);
}
void Put32(uint8_t* p, int r, int g, int b) {
  Put24(p, r, g, b);
  p[3] = 0x5A;  // unused byte must not leak into the colours
}

TEST(JpegEncode, RoundTripOfEveryDepthKeepsSizeAndColours) {
  const DepthCase cases[] = {{8, Put8}, {16, Put16}, {24, Put24}, {32, Put32}};
  for (const DepthCase& c : cases) {
    SCOPED_TRACE(c.bpp);
    const int w = 96, h = 64, bytes = c.bpp / 8;
    FrameImage img;
    img.width = w;
    img.height = h;
    img.bitsPerPixel = c.bpp;
    img.pixels.resize(size_t(w) * h * bytes);
    // Left half orange-ish, right half teal; for 8 bits the red value is the grey.
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t* p = &img.pixels[(size_t(y) * w + x) * bytes];
        if (x < w / 2)
          c.put(p, 232, 120, 16);
        else
          c.put(p, 16, 160, 200);
      }
    const std::vector<uint8_t> original = img.pixels;
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(EncodeJpeg(img, 85, jpeg));
    EXPECT_EQ(img.pixels, original);  // the input is left alone
    EXPECT_TRUE(HasDqt(jpeg));

    FrameImage back;
    ASSERT_TRUE(DecodeJpeg(jpeg.data(), jpeg.size(), back));
    EXPECT_EQ(back.width, w);
    EXPECT_EQ(back.height, h);
    ASSERT_EQ(back.pixels.size(), size_t(w) * h * 3);
    const uint8_t* left = &back.pixels[(size_t(h / 2) * w + w / 4) * 3];
    const uint8_t* right = &back.pixels[(size_t(h / 2) * w + 3 * w / 4) * 3];
    if (c.bpp == 8) {
      for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(Near(left[k], 232)) << int(left[k]);
        EXPECT_TRUE(Near(right[k], 16)) << int(right[k]);
      }
    } else {
      EXPECT_TRUE(Near(left[0], 16) && Near(left[1], 120) && Near(left[2], 232))
          << int(left[0]) << "," << int(left[1]) << "," << int(left[2]);
      EXPECT_TRUE(Near(right[0], 200) && Near(right[1], 160) && Near(right[2], 16))
          << int(right[0]) << "," << int(right[1]) << "," << int(right[2]);
    }
  }
}

TEST(JpegEncode, QualityIsClampedAndZeroIsLowest) {
  const FrameImage img = RedOverBlue(160, 120);
  std::vector<uint8_t> q0, q1, q100, q150, qneg;
  ASSERT_TRUE(EncodeJpeg(img, 0, q0));
  ASSERT_TRUE(EncodeJpeg(img, 1, q1));
  ASSERT_TRUE(EncodeJpeg(img, 100, q100));
  ASSERT_TRUE(EncodeJpeg(img, 150, q150));
  ASSERT_TRUE(EncodeJpeg(img, -5, qneg));
  EXPECT_TRUE(HasDqt(q0));
  EXPECT_EQ(q0, q1);
  EXPECT_EQ(q0, qneg);
  EXPECT_EQ(q100, q150);
  EXPECT_LT(q0.size(), q100.size());
  FrameImage back;
  EXPECT_TRUE(DecodeJpeg(q0.data(), q0.size(), back));
}

TEST(JpegEncode, InvalidFrameImagesFail) {
  std::vector<uint8_t> jpeg{1, 2, 3};
  FrameImage img = RedOverBlue(32, 16);
  img.pixels.resize(img.pixels.size() - 1);  // one byte short of the header's promise
  EXPECT_FALSE(EncodeJpeg(img, 75, jpeg));

  img = RedOverBlue(32, 16);
  img.bitsPerPixel = 12;
  EXPECT_FALSE(EncodeJpeg(img, 75, jpeg));
  img.bitsPerPixel = 48;
  EXPECT_FALSE(EncodeJpeg(img, 75, jpeg));

  FrameImage empty;
  EXPECT_FALSE(EncodeJpeg(empty, 75, jpeg));
  EXPECT_EQ(jpeg, (std::vector<uint8_t>{1, 2, 3}));  // untouched on failure
}

TEST(JpegCodec, ThreadsUseTheCodecSideBySide) {
  // Each thread keeps its own library handles; sizes vary so buffers must grow.
  bool ok[4] = {false, false, false, false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &ok] {
      bool good = true;
      for (int i = 0; i < 12 && good; ++i) {
        const int w = 16 * (1 + (i + t) % 5), h = 8 * (1 + (i * 3 + t) % 4);
        std::vector<uint8_t> jpeg;
        FrameImage back;
        good = EncodeJpeg(RedOverBlue(w, h), 70, jpeg) && DecodeJpeg(jpeg.data(), jpeg.size(), back) &&
               back.width == w && back.height == h;
      }
      ok[t] = good;
    });
  for (auto& th : threads) th.join();
  for (bool b : ok) EXPECT_TRUE(b);
}

}  // namespace
