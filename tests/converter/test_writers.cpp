// The AVI and WMV writers: the step that fails and its text, refusal after a
// failure, no file without frames, and pictures decoded straight from JPEG.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}
#include <turbojpeg.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>

#include "converter/avi_writer.h"
#include "converter/conversion.h"
#include "converter/encoded_stream.h"
#include "converter/wmv_writer.h"
#include "tests/converter/converter_test_support.h"

namespace {

using namespace converter;
using namespace converter_test;

using MakeWriter = std::function<std::unique_ptr<CVideoWriter>(const std::string& path)>;

MakeWriter Avi(uint32_t code, uint32_t rate = 10) {
  return [=](const std::string& path) { return std::make_unique<CAviWriter>(path, code, rate); };
}
MakeWriter Wmv(std::string guid, uint32_t rate = 10) {
  return [=](const std::string& path) { return std::make_unique<CWmvWriter>(path, guid, rate); };
}

const WmvProfile kNoVideoProfile{"{00000000-0000-0000-0000-000000000000}", "asf", AV_CODEC_ID_WMV2, false, 1};

struct WriterCase {
  const char* name;
  MakeWriter make;
  const char* file;       // in the test's folder; "missing/" makes it unwritable
  int bitsPerPixel;       // of the frames handed over
  int frames;             // handed over; the writer then is destroyed
  int stateAfterCreate;
  const char* lastError;  // after the frames
  int framesInFile;       // -1: no file
};

TEST(Writers, SetUpStepsTheirFailureTextsAndRefusalAfterAFailure) {
  const uint32_t iv50 = FourCc('I', 'V', '5', '0');
  const WriterCase cases[] = {
      {"avi", Avi(FourCc('D', 'I', 'V', 'X')), "a.avi", 24, 3, 1, "Method Succeeded", 3},
      {"avi without frames", Avi(FourCc('D', 'I', 'V', 'X')), "a.avi", 24, 0, 1, "Method Succeeded", -1},
      {"avi, codec without encoder", Avi(iv50), "a.avi", 24, 2, 1,
       "Unable to Create Compressed Stream: Check your CODEC options", -1},
      {"avi, unknown code", Avi(FourCc('Z', 'Z', 'Z', 'Z')), "a.avi", 24, 2, 1,
       "Unable to Create Compressed Stream: Check your CODEC options", -1},
      {"avi, folder missing", Avi(FourCc('D', 'I', 'V', 'X')), "missing/a.avi", 24, 2, 1,
       "Unable to Create the Movie File", -1},
      {"avi, rate 0", Avi(FourCc('D', 'I', 'V', 'X'), 0), "a.avi", 24, 2, 1, "Unable to Create the Movie File", -1},
      {"avi, 12-bit frames", Avi(FourCc('D', 'I', 'V', 'X')), "a.avi", 12, 2, 1, "Unable to Set Video Stream Format",
       -1},
      {"wmv", Wmv(kWmvProfileGuid), "w.wmv", 24, 3, 1, "Method Succeeded", 3},
      {"wmv, GUID in small letters", Wmv("{29b00c2b-09a9-48bd-ad09-cdae117d1da7}"), "w.wmv", 24, 1, 1,
       "Method Succeeded", 1},
      {"wmv without frames", Wmv(kWmvProfileGuid), "w.wmv", 24, 0, 1, "Method Succeeded", -1},
      {"wmv, unknown profile", Wmv("{00000000-0000-0000-0000-000000000001}"), "w.wmv", 24, 2, 0,
       "Unable to Load System Profile", -1},
      {"wmv, profile without video",
       [](const std::string& path) { return std::make_unique<CWmvWriter>(path, &kNoVideoProfile, 10); }, "w.wmv",
       24, 2, 0, "Profile Does not Accept Video input", -1},
      {"wmv, 12-bit frames", Wmv(kWmvProfileGuid), "w.wmv", 12, 2, 1, "Unable to Set Media Type", -1},
      {"wmv, folder missing", Wmv(kWmvProfileGuid), "missing/w.wmv", 24, 2, 1, "Unable to Initialize Writing", -1},
      {"wmv, rate 0", Wmv(kWmvProfileGuid, 0), "w.wmv", 24, 2, 1, "Unable to Set Media Type", -1},
  };
  for (const WriterCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name).find("without encoder") != std::string::npos && CAviWriter::CodecInstalled(iv50))
      continue;
    test_support::ScopedTempDir folder{"converter"};
    const std::string path = folder.Path(c.file);
    auto writer = c.make(path);
    EXPECT_EQ(writer->GetState(), c.stateAfterCreate);
    const bool fails = std::string(c.lastError) != "Method Succeeded";
    for (int i = 0; i < c.frames; ++i) {
      const media::FrameImage img = Picture(64, 48, i);  // big enough for the 12-bit rows too
      // Every frame after a failure is refused too, and the text stays the first failure's.
      EXPECT_EQ(writer->AppendFrame(img.width, img.height, img.pixels.data(), c.bitsPerPixel), !fails) << "frame " << i;
    }
    EXPECT_EQ(writer->GetLastError(), c.lastError);
    EXPECT_EQ(writer->GetState(), fails ? 0 : (c.frames > 0 ? 2 : 1));
    writer.reset();
    if (c.framesInFile < 0) {
      EXPECT_FALSE(std::filesystem::exists(path));
    } else {
      EXPECT_EQ(FrameCount(path, folder), c.framesInFile);
    }
  }
}

TEST(Writers, WmvFrameTimesAreRoundedDownMillisecondsWithoutWrapping) {
  const struct {
    uint64_t frame;
    uint32_t rate;
    uint64_t ms;
  } cases[] = {
      {0, 30, 0}, {1, 30, 33}, {2, 30, 66}, {3, 30, 100}, {29, 30, 966}, {30, 30, 1000}, {5, 1, 5000},
      {4294968, 10, 429496800},      // k x 1000 no longer fits 32 bits
      {12960000, 30, 432000000},     // five days at 30 frames a second
  };
  for (const auto& c : cases) EXPECT_EQ(FrameTimeMs(c.frame, c.rate), c.ms) << c.frame << " at " << c.rate;
}

// Peak signal-to-noise ratio of one plane of two pictures, in dB.
double Psnr(const AVFrame* a, const AVFrame* b, int plane, int w, int h) {
  double sum = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double d = double(a->data[plane][y * a->linesize[plane] + x]) - b->data[plane][y * b->linesize[plane] + x];
      sum += d * d;
    }
  return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / (sum / (double(w) * h)));
}

// A JPEG of a picture with the given chroma subsampling (TJSAMP_*).
Bytes JpegWith(int w, int h, int subsamp) {
  const media::FrameImage img = Picture(w, h, 3);
  tjhandle t = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  Bytes jpeg;
  if (tjCompress2(t, img.pixels.data(), w, w * 3, h, TJPF_BGR, &out, &size,
                  subsamp, 90, TJFLAG_BOTTOMUP) == 0)
    jpeg.assign(out, out + size);
  tjFree(out);
  tjDestroy(t);
  return jpeg;
}

// Decoding straight into the encoder's planes gives the picture the way through
// 24-bit pixels gives, where it is taken; other JPEGs go the way through pixels.
TEST(Writers, JpegDecodedStraightToPlanesLooksLikeTheWayThroughPixels) {
  const struct {
    const char* name;
    int w, h;
    Bytes jpeg;
    CEncodedStream::JpegFill fill;
  } cases[] = {
      {"4:2:0", 160, 120, JpegWith(160, 120, TJSAMP_420), CEncodedStream::JpegFill::Done},
      // 4:2:0 encoders take even sizes only, so an odd one is cut and goes through pixels.
      {"4:2:0, odd size", 161, 121, JpegWith(161, 121, TJSAMP_420), CEncodedStream::JpegFill::NotDirect},
      {"grey", 160, 120, JpegWith(160, 120, TJSAMP_GRAY), CEncodedStream::JpegFill::Done},
      {"4:4:4", 160, 120, JpegWith(160, 120, TJSAMP_444), CEncodedStream::JpegFill::NotDirect},
      {"4:2:2", 160, 120, JpegWith(160, 120, TJSAMP_422), CEncodedStream::JpegFill::NotDirect},
      {"another size", 160, 120, JpegWith(96, 64, TJSAMP_420), CEncodedStream::JpegFill::NotDirect},
      {"no picture", 160, 120, Bytes{0xFF, 0xD8, 0x00, 0x00, 0xFF, 0xD9}, CEncodedStream::JpegFill::Undecodable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::ScopedTempDir folder{"converter"};
    CEncodedStream direct, viaPixels;
    for (CEncodedStream* s : {&direct, &viaPixels}) {
      EncoderSettings settings;
      settings.codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
      ASSERT_TRUE(s->AllocatePicture() && s->CreateContainer("avi") && s->AddStream(nullptr) &&
                  s->OpenEncoder(settings, c.w, c.h) && s->AllocatePictureBuffer());
    }
    ASSERT_EQ(direct.PictureFromJpeg(c.jpeg.data(), c.jpeg.size()), c.fill);
    if (c.fill != CEncodedStream::JpegFill::Done) continue;
    media::FrameImage img;
    ASSERT_TRUE(media::DecodeJpeg(c.jpeg.data(), c.jpeg.size(), img));
    ASSERT_TRUE(viaPixels.PictureFromPixels(img.width, img.height, img.pixels.data(), 24));
    const int w = direct.Width(), h = direct.Height();
    EXPECT_GT(Psnr(direct.Picture(), viaPixels.Picture(), 0, w, h), 45.0);
    EXPECT_GT(Psnr(direct.Picture(), viaPixels.Picture(), 1, (w + 1) / 2, (h + 1) / 2), 38.0);
    EXPECT_GT(Psnr(direct.Picture(), viaPixels.Picture(), 2, (w + 1) / 2, (h + 1) / 2), 38.0);
  }
}

}  // namespace
