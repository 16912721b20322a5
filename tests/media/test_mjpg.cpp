#include "media/mjpg.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/bytes.h"
#include "media/jpeg_codec.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A real encoded picture; `seed` changes the content so frames differ in size.
Bytes Picture(int w, int h, int seed, int quality = 75) {
  media::FrameImage img;
  img.width = w;
  img.height = h;
  img.bitsPerPixel = 24;
  img.pixels.resize(size_t(w) * h * 3);
  uint32_t r = 12345u + uint32_t(seed);
  for (size_t i = 0; i < img.pixels.size(); ++i) {
    r = r * 1664525u + 1013904223u;
    img.pixels[i] = uint8_t((i / 3 % w) + seed * 9 + (r >> 28));
  }
  Bytes jpeg;
  EXPECT_TRUE(media::EncodeJpeg(img, quality, jpeg));
  return jpeg;
}

long Find(const Bytes& b, std::initializer_list<uint8_t> pat) {
  const Bytes p(pat);
  return platform::FindBytes(b.data(), b.size(), p.data(), p.size());
}

// Copies `bytes` into a heap block of exactly that size so any read past it trips
// the address sanitizer.
std::unique_ptr<uint8_t[]> Exact(const Bytes& bytes) {
  auto p = std::make_unique<uint8_t[]>(bytes.size());
  std::memcpy(p.get(), bytes.data(), bytes.size());
  return p;
}

class MjpgFile : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  static Bytes Slurp(const std::string& path) {
    Bytes out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
  }
  static void Spit(const std::string& path, const Bytes& b) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!b.empty()) {
      ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), f), b.size());
    }
    std::fclose(f);
  }
  test_support::ScopedTempDir dir_{"mjpg_test"};
};

// ---- building frames -------------------------------------------------------

TEST(MjpgBuild, CommentForShortAndTenDigitStamps) {
  const Bytes jpeg = Picture(64, 48, 1);
  const long dqt = Find(jpeg, {0xFF, 0xDB});
  ASSERT_GT(dqt, 0);

  Bytes frame;
  ASSERT_TRUE(media::mjpg::BuildFrame(jpeg.data(), jpeg.size(), 7, frame));
  ASSERT_EQ(frame.size(), jpeg.size() + 6);
  const Bytes seven = {0xFF, 0xFE, 0x00, 0x04, 0x37, 0x00};
  EXPECT_TRUE(std::equal(seven.begin(), seven.end(), frame.begin() + dqt));
  // Everything before and after the comment is the encoder's output unchanged.
  EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.begin() + dqt, frame.begin()));
  EXPECT_TRUE(std::equal(jpeg.begin() + dqt, jpeg.end(), frame.begin() + dqt + 6));
  EXPECT_EQ(frame[dqt + 6], 0xFF);
  EXPECT_EQ(frame[dqt + 7], 0xDB);

  ASSERT_TRUE(media::mjpg::BuildFrame(jpeg.data(), jpeg.size(), 4294967295u, frame));
  ASSERT_EQ(frame.size(), jpeg.size() + 15);
  const char* digits = "4294967295";
  const Bytes head = {0xFF, 0xFE, 0x00, 0x0D};
  EXPECT_TRUE(std::equal(head.begin(), head.end(), frame.begin() + dqt));
  EXPECT_EQ(0, std::memcmp(&frame[dqt + 4], digits, 10));
  EXPECT_EQ(frame[dqt + 14], 0x00);

  media::mjpg::FrameSpan span;
  ASSERT_TRUE(media::mjpg::CutFrame(frame.data(), frame.size(), span));
  EXPECT_TRUE(span.hasTimestamp);
  EXPECT_EQ(span.timestamp, 4294967295u);
  EXPECT_EQ(span.length, frame.size());
}

// A camera's own picture stored byte for byte: where the time stamp goes, and which
// pictures cannot be stored as they stand because readers would misread them.
struct StampRow {
  const char* name;
  std::function<Bytes(const Bytes&)> make;  // from an encoder's picture (APP0 of 18 bytes, then FF DB)
  long position;                            // -1: refused
  long trimmed;                             // bytes cut off the end
};

Bytes Insert(const Bytes& jpeg, size_t at, const Bytes& segment) {
  Bytes out(jpeg.begin(), jpeg.begin() + long(at));
  out.insert(out.end(), segment.begin(), segment.end());
  out.insert(out.end(), jpeg.begin() + long(at), jpeg.end());
  return out;
}

void PrintTo(const StampRow& row, std::ostream* os) { *os << row.name; }

class StampPositionOf : public testing::TestWithParam<StampRow> {};

TEST_P(StampPositionOf, CameraPicture) {
  const Bytes plain = Picture(64, 48, 1);
  ASSERT_EQ(platform::FindBytes(plain.data(), plain.size(), (const uint8_t*)"\xFF\xDB", 2, 0), 20);
  const Bytes jpeg = GetParam().make(plain);
  size_t length = jpeg.size(), position = 0;
  const bool ok = media::mjpg::StampPosition(jpeg.data(), length, position);
  ASSERT_EQ(ok, GetParam().position >= 0);
  if (!ok) return;
  EXPECT_EQ(long(position), GetParam().position);
  EXPECT_EQ(long(jpeg.size() - length), GetParam().trimmed);
  // Readers find our stamp and the whole picture, which still decodes.
  Bytes frame;
  ASSERT_TRUE(media::mjpg::BuildFrameAt(jpeg.data(), length, position, 1234567, frame));
  media::mjpg::FrameSpan span;
  ASSERT_TRUE(media::mjpg::CutFrame(frame.data(), frame.size(), span));
  EXPECT_EQ(span.timestamp, 1234567u);
  EXPECT_EQ(span.length, frame.size());
  media::FrameImage image;
  EXPECT_TRUE(media::DecodeJpeg(frame.data(), frame.size(), image));
}

const Bytes kCameraComment = {0xFF, 0xFE, 0x00, 0x06, 'c', 'a', 'm', '1'};

INSTANTIATE_TEST_SUITE_P(
    Rows, StampPositionOf,
    testing::Values(
        StampRow{"encoderPicture", [](const Bytes& j) { return j; }, 20, 0},
        StampRow{"cameraCommentStaysAfterOurs", [](const Bytes& j) { return Insert(j, 20, kCameraComment); }, 20, 0},
        StampRow{"fillBytesBeforeAMarker", [](const Bytes& j) { return Insert(j, 20, {0xFF, 0xFF}); }, 22, 0},
        StampRow{"lineBreakAfterTheEndIsCut", [](const Bytes& j) { return Insert(j, j.size(), {'\r', '\n'}); },
                 20, 2},
        StampRow{"previewPictureInAnAppSegment",
                 [](const Bytes& j) { return Insert(j, 20, {0xFF, 0xE1, 0x00, 0x08, 0xFF, 0xD8, 0x00, 0xFF, 0xD9, 0x00}); },
                 -1, 0},
        StampRow{"commentBytesInAnAppSegment",
                 [](const Bytes& j) { return Insert(j, 20, {0xFF, 0xE1, 0x00, 0x05, 0xFF, 0xFE, 0x00}); }, -1, 0},
        StampRow{"scanBeforeAnyTable", [](const Bytes&) { return Bytes{0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9}; },
                 -1, 0},
        StampRow{"segmentRunsPastTheEnd", [](const Bytes&) { return Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xF0, 0xFF, 0xD9}; },
                 -1, 0},
        StampRow{"bytesAfterTheEnd", [](const Bytes& j) { return Insert(j, j.size(), {'x'}); }, -1, 0},
        StampRow{"twoPicturesInOne", [](const Bytes& j) { return Insert(j, j.size(), j); }, -1, 0},
        StampRow{"noStartMarker", [](const Bytes& j) { return Bytes(j.begin() + 2, j.end()); }, -1, 0},
        StampRow{"cutShort", [](const Bytes& j) { return Bytes(j.begin(), j.begin() + 22); }, -1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MjpgBuild, CommentGoesBeforeTheFirstQuantTableOnly) {
  // A tiny hand-made stream with two FF DB markers: the comment lands before the first.
  const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xDB, 0x01, 0xFF, 0xDB, 0xFF, 0xD9};
  Bytes frame;
  ASSERT_TRUE(media::mjpg::BuildFrame(jpeg.data(), jpeg.size(), 0, frame));
  const Bytes expect = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xFE, 0x00, 0x04, '0', 0x00,
                        0xFF, 0xDB, 0x01, 0xFF, 0xDB, 0xFF, 0xD9};
  EXPECT_EQ(frame, expect);
}

TEST_F(MjpgFile, FrameWithoutQuantTableIsNotWritten) {
  const std::string path = Path("a.mjpg");
  const Bytes first = Picture(64, 48, 2);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(media::mjpg::WriteFrame(fd, first.data(), first.size(), 100), media::mjpg::WriteResult::Ok);
  const Bytes before = Slurp(path);

  const Bytes noDqt = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02, 0xFF, 0xD9};
  Bytes out = {9};
  EXPECT_FALSE(media::mjpg::BuildFrame(noDqt.data(), noDqt.size(), 5, out));
  EXPECT_EQ(out, Bytes{9});
  EXPECT_EQ(media::mjpg::WriteFrame(fd, noDqt.data(), noDqt.size(), 5), media::mjpg::WriteResult::NoQuantTable);
  // A lone FF at the very end is not half a marker.
  const Bytes loneFf = {0xFF, 0xD8, 0x00, 0xFF};
  EXPECT_EQ(media::mjpg::WriteFrame(fd, loneFf.data(), loneFf.size(), 5), media::mjpg::WriteResult::NoQuantTable);
  ::close(fd);
  EXPECT_EQ(Slurp(path), before);
}

// ---- reading frames --------------------------------------------------------

TEST_F(MjpgFile, WrittenFilesReadBackAndJoinedFilesKeepTheirStamps) {
  const std::string a = Path("a.mjpg"), b = Path("b.mjpg"), joined = Path("ab.mjpg");
  std::vector<Bytes> pictures;
  for (int i = 0; i < 5; ++i) pictures.push_back(Picture(80, 60, i));
  const uint32_t stamps[5] = {1000, 1001, 7, 4000000000u, 1700000000u};

  for (int part = 0; part < 2; ++part) {
    const int fd = ::open((part == 0 ? a : b).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    for (int i = part == 0 ? 0 : 2; i < (part == 0 ? 2 : 5); ++i)
      ASSERT_EQ(media::mjpg::WriteFrame(fd, pictures[i].data(), pictures[i].size(), stamps[i]),
                media::mjpg::WriteResult::Ok);
    ::close(fd);
  }
  Bytes both = Slurp(a);
  const Bytes tail = Slurp(b);
  both.insert(both.end(), tail.begin(), tail.end());
  Spit(joined, both);

  std::vector<media::mjpg::FrameSpan> frames;
  Bytes bytes;
  ASSERT_TRUE(media::mjpg::ReadAllFrames(joined, frames, &bytes));
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(bytes, both);
  size_t pos = 0;
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(frames[i].start, pos);  // frames lie end to end from offset 0
    EXPECT_TRUE(frames[i].hasTimestamp);
    EXPECT_EQ(frames[i].timestamp, stamps[i]);
    EXPECT_EQ(frames[i].next, frames[i].start + frames[i].length);
    pos = frames[i].next;
    // Each frame is a picture the decoder takes with the comment in place.
    media::FrameImage img;
    EXPECT_TRUE(media::DecodeJpeg(&bytes[frames[i].start], frames[i].length, img));
    EXPECT_EQ(img.width, 80);
  }
  EXPECT_EQ(pos, both.size());
}

TEST_F(MjpgFile, EmptyAndMissingFiles) {
  const std::string empty = Path("empty.mjpg");
  Spit(empty, {});
  std::vector<media::mjpg::FrameSpan> frames(3);
  EXPECT_TRUE(media::mjpg::ReadAllFrames(empty, frames));
  EXPECT_TRUE(frames.empty());
  EXPECT_FALSE(media::mjpg::ReadAllFrames(Path("missing.mjpg"), frames));

  media::mjpg::FrameSpan span;
  EXPECT_FALSE(media::mjpg::CutFrame(nullptr, 0, span));
}

TEST(MjpgCut, ReadStartingMidFrameFails) {
  Bytes file;
  for (int i = 0; i < 2; ++i) {
    const Bytes jpeg = Picture(64, 48, i);
    Bytes frame;
    ASSERT_TRUE(media::mjpg::BuildFrame(jpeg.data(), jpeg.size(), 50 + i, frame));
    file.insert(file.end(), frame.begin(), frame.end());
  }
  media::mjpg::FrameSpan span;
  ASSERT_TRUE(media::mjpg::CutFrame(file.data(), file.size(), span));
  // From the middle of the first frame the first FF D9 comes before the next FF D8.
  const size_t mid = span.length / 2;
  EXPECT_FALSE(media::mjpg::CutFrame(file.data() + mid, file.size() - mid, span));
  // Missing end marker, and missing start marker.
  EXPECT_FALSE(media::mjpg::CutFrame(file.data(), span.length - 2, span));
  const Bytes noSoi = {0x00, 0x11, 0xFF, 0xD9};
  EXPECT_FALSE(media::mjpg::CutFrame(noSoi.data(), noSoi.size(), span));
}

TEST_F(MjpgFile, FrameOverTheReadWindowReadsBack) {
  // Noise at top quality compresses badly: well over the first read window.
  const Bytes big = Picture(640, 480, 3, 100);
  ASSERT_GT(big.size(), media::mjpg::kReadWindow) << "picture too small for this test";
  const Bytes small = Picture(64, 48, 4);
  const std::string path = Path("big.mjpg");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(media::mjpg::WriteFrame(fd, small.data(), small.size(), 1), media::mjpg::WriteResult::Ok);
  ASSERT_EQ(media::mjpg::WriteFrame(fd, big.data(), big.size(), 2), media::mjpg::WriteResult::Ok);
  ::close(fd);

  std::vector<media::mjpg::FrameSpan> frames;
  Bytes bytes;
  ASSERT_TRUE(media::mjpg::ReadAllFrames(path, frames, &bytes));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].timestamp, 2u);
  EXPECT_EQ(frames[1].next, bytes.size());
  media::FrameImage img;
  ASSERT_TRUE(media::DecodeJpeg(&bytes[frames[1].start], frames[1].length, img));
  EXPECT_EQ(img.width, 640);
}

// One MJPG frame of exactly `total` bytes: a minimal JPEG whose body is filler.
Bytes FrameOfSize(size_t total, uint32_t stamp, uint8_t filler) {
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x03, 0x00};
  Bytes frame;
  EXPECT_TRUE(media::mjpg::BuildFrame(jpeg.data(), jpeg.size(), stamp, frame));
  frame.resize(total - 2, filler);
  frame.push_back(0xFF);
  frame.push_back(0xD9);
  return frame;
}

TEST_F(MjpgFile, FramesUpTo16MiBReadBackByteForByte) {
  constexpr size_t kW = media::mjpg::kReadWindow;
  // Around the first window the end marker lies inside it, is cut by its edge, or
  // lies just past it. A frame over the limit ends the reading, whatever follows.
  const size_t sizes[] = {kW - 1, kW, kW + 1, 3000, 1 << 20, media::mjpg::kMaxFrameSize,
                          media::mjpg::kMaxFrameSize + 1, 5000};
  const size_t readable = std::size(sizes) - 2;
  Bytes file;
  std::vector<Bytes> written;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    written.push_back(FrameOfSize(sizes[i], uint32_t(100 + i), uint8_t(0x10 + i)));
    file.insert(file.end(), written.back().begin(), written.back().end());
  }
  const std::string path = Path("sizes.mjpg");
  Spit(path, file);

  std::vector<media::mjpg::FrameSpan> frames;
  Bytes bytes;
  ASSERT_TRUE(media::mjpg::ReadAllFrames(path, frames, &bytes));
  ASSERT_EQ(frames.size(), readable);
  for (size_t i = 0; i < readable; ++i) {
    SCOPED_TRACE(sizes[i]);
    EXPECT_EQ(frames[i].length, sizes[i]);
    EXPECT_EQ(frames[i].timestamp, 100 + i);
    EXPECT_TRUE(std::equal(written[i].begin(), written[i].end(), bytes.begin() + long(frames[i].start)));
  }
}

TEST(MjpgCut, GrowingWindowStopsAt16MiBWithoutAnEndMarker) {
  // A reader that appends what it is asked for, in a block of exactly the bytes read,
  // so any look past them trips the address sanitizer.
  Bytes stream = {0x00, 0x00, 0xFF, 0xD8};
  stream.resize(media::mjpg::kMaxFrameSize + 1000000, 0x7F);
  media::mjpg::FrameSearch search;
  media::mjpg::FrameSpan span;
  size_t length = media::mjpg::kReadWindow, more = 0, reads = 0;
  media::mjpg::CutResult result;
  for (;;) {
    auto window = std::make_unique<uint8_t[]>(length);
    std::memcpy(window.get(), stream.data(), length);
    result = media::mjpg::ContinueCut(window.get(), length, search, span, &more);
    if (result != media::mjpg::CutResult::ReadMore || ++reads > 20) break;
    ASSERT_GT(more, 0u);
    length += more;
    ASSERT_LE(length, 2 + media::mjpg::kMaxFrameSize) << "asked to read past the frame limit";
  }
  EXPECT_EQ(result, media::mjpg::CutResult::NoFrame);
  EXPECT_EQ(length, 2 + media::mjpg::kMaxFrameSize);
  EXPECT_LT(reads, 10u);  // the window doubles rather than creeping
}

TEST(MjpgCut, GrowingWindowFindsWhatOneWindowFinds) {
  const Bytes cases[] = {
      {0x00, 0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x05, '1', '2', '3', 0x00, 0x01, 0xFF, 0xD9, 0xFF, 0xD8},
      {0xFF, 0xD8, 0xFF, 0xFF, 0xFE, 0x00, 0x04, '7', 0x00, 0xFF, 0xFF, 0xD9},  // markers after fill bytes
      {0xFF, 0xD8, 0xFF, 0xD8, 0x01, 0xFF, 0xD9, 0xFF, 0xFE, 0x00, 0x04, '9', 0x00},  // comment after the end
      {0xFF, 0xD8, 0x01, 0xFF, 0xD9, 0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x05, '1', '2', 0x00, 0xFF, 0xD9},
  };
  for (size_t k = 0; k < std::size(cases); ++k) {
    const Bytes& bytes = cases[k];
    media::mjpg::FrameSpan whole;
    ASSERT_TRUE(media::mjpg::CutFrame(bytes.data(), bytes.size(), whole)) << k;
    for (size_t step : {1, 2, 3}) {
      SCOPED_TRACE(testing::Message() << "case " << k << " step " << step);
      const size_t first = size_t(Find(bytes, {0xFF, 0xD8})) + 2;  // the first window holds FF D8
      media::mjpg::FrameSearch search;
      media::mjpg::FrameSpan span;
      size_t more = 0;
      media::mjpg::CutResult result = media::mjpg::CutResult::ReadMore;
      for (size_t length = first; result == media::mjpg::CutResult::ReadMore; length += step) {
        length = std::min(length, bytes.size());
        auto window = Exact(Bytes(bytes.begin(), bytes.begin() + long(length)));
        result = media::mjpg::ContinueCut(window.get(), length, search, span, &more);
        if (length == bytes.size()) break;
      }
      ASSERT_EQ(result, media::mjpg::CutResult::Frame);
      EXPECT_EQ(span.start, whole.start);
      EXPECT_EQ(span.length, whole.length);
      EXPECT_EQ(span.hasTimestamp, whole.hasTimestamp);
      EXPECT_EQ(span.timestamp, whole.timestamp);
    }
  }
}

TEST(MjpgCut, CommentLengthOutsideRangeGivesNoStamp) {
  for (uint8_t len : {0, 1, 2, 25, 0xFF}) {
    SCOPED_TRACE(int(len));
    const Bytes w = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, len, '1', '2', 0x00, 0xFF, 0xDB, 0xFF, 0xD9};
    media::mjpg::FrameSpan span;
    ASSERT_TRUE(media::mjpg::CutFrame(w.data(), w.size(), span));
    EXPECT_FALSE(span.hasTimestamp);
    EXPECT_EQ(span.timestamp, 0u);
  }
  // Lengths 3 and 24 are the edges that still count; only the low byte matters.
  for (uint8_t len : {3, 24}) {
    const Bytes w = {0xFF, 0xD8, 0xFF, 0xFE, 0x7F, len, '4', '2', 0x00, 0xFF, 0xD9};
    media::mjpg::FrameSpan span;
    ASSERT_TRUE(media::mjpg::CutFrame(w.data(), w.size(), span));
    EXPECT_TRUE(span.hasTimestamp);
    EXPECT_EQ(span.timestamp, len == 3 ? 4u : 42u);  // length 3 leaves room for one digit
  }
}

TEST(MjpgCut, CommentNearTheEndStaysInsideTheWindow) {
  media::mjpg::FrameSpan span;
  // The comment claims 22 text bytes but the picture ends two bytes later.
  const Bytes claim = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x18, '9', '8', 0xFF, 0xD9};
  auto a = Exact(claim);
  ASSERT_TRUE(media::mjpg::CutFrame(a.get(), claim.size(), span));
  EXPECT_EQ(span.timestamp, 98u);
  EXPECT_EQ(span.next, claim.size());

  // The window ends right after a comment marker: no length byte to read.
  const Bytes cut = {0xFF, 0xD8, 0x00, 0xFF, 0xD9, 0xFF, 0xFE};
  auto b = Exact(cut);
  ASSERT_TRUE(media::mjpg::CutFrame(b.get(), cut.size(), span));
  EXPECT_FALSE(span.hasTimestamp);
  EXPECT_EQ(span.length, 5u);

  // The comment marker is the frame's last bytes before FF D9.
  const Bytes tight = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0xFF, 0xD9};
  auto c = Exact(tight);
  ASSERT_TRUE(media::mjpg::CutFrame(c.get(), tight.size(), span));
  EXPECT_FALSE(span.hasTimestamp);
}

TEST(MjpgCut, FrameWithoutCommentDoesNotBorrowTheNextFramesStamp) {
  const Bytes two = {0xFF, 0xD8, 0x01, 0xFF, 0xD9,  // no comment
                     0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x05, '1', '2', '3', 0x00, 0xFF, 0xD9};
  media::mjpg::FrameSpan span;
  ASSERT_TRUE(media::mjpg::CutFrame(two.data(), two.size(), span));
  EXPECT_FALSE(span.hasTimestamp);
  EXPECT_EQ(span.next, 5u);
  ASSERT_TRUE(media::mjpg::CutFrame(two.data() + span.next, two.size() - span.next, span));
  EXPECT_TRUE(span.hasTimestamp);
  EXPECT_EQ(span.timestamp, 123u);
}

// ---- failed writes ---------------------------------------------------------

TEST_F(MjpgFile, ShortWriteLeavesOnlyWholeFrames) {
  const Bytes jpeg = Picture(160, 120, 5);
  Bytes frame;
  ASSERT_TRUE(media::mjpg::BuildFrame(jpeg.data(), jpeg.size(), 77, frame));
  const std::string path = Path("limited.mjpg");

  // The size limit applies to the whole process, so it is set in a child only.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlim_t limit = frame.size() + frame.size() / 2;  // room for 1.5 frames
    struct rlimit rl {limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(10);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    if (fd < 0) _exit(11);
    if (media::mjpg::WriteFrame(fd, jpeg.data(), jpeg.size(), 77) != media::mjpg::WriteResult::Ok) _exit(12);
    if (media::mjpg::WriteFrame(fd, jpeg.data(), jpeg.size(), 78) != media::mjpg::WriteResult::WriteError) _exit(13);
    ::close(fd);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Slurp(path), frame);  // exactly one whole frame, the partial one cut off
}

TEST_F(MjpgFile, FailedWriteWithoutAppendRewindsForTheNextFrame) {
  const Bytes jpeg = Picture(64, 48, 6);
  Bytes frame;
  ASSERT_TRUE(media::mjpg::BuildFrame(jpeg.data(), jpeg.size(), 9, frame));
  const std::string path = Path("rewind.mjpg");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlim_t limit = frame.size() + 10;
    struct rlimit rl {limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(10);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) _exit(11);
    if (media::mjpg::WriteFrame(fd, jpeg.data(), jpeg.size(), 9) != media::mjpg::WriteResult::Ok) _exit(12);
    if (media::mjpg::WriteFrame(fd, jpeg.data(), jpeg.size(), 9) != media::mjpg::WriteResult::WriteError) _exit(13);
    if (lseek(fd, 0, SEEK_CUR) != off_t(frame.size())) _exit(14);
    ::close(fd);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Slurp(path), frame);
}

TEST(MjpgWrite, ClosedDescriptorIsAWriteError) {
  const Bytes jpeg = Picture(32, 32, 7);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ::close(fds[0]);
  ::close(fds[1]);
  EXPECT_EQ(media::mjpg::WriteFrame(fds[1], jpeg.data(), jpeg.size(), 1), media::mjpg::WriteResult::WriteError);
}

// ---- the mjpginfo tool --------------------------------------------------------

int RunInfo(const std::string& args, std::string& output) {
  FILE* p = popen((std::string("'") + MJPGINFO_PROGRAM + "' " + args + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buffer[512];
  output.clear();
  while (size_t n = std::fread(buffer, 1, sizeof buffer, p)) output.append(buffer, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(MjpgFile, InfoToolReportsEmptyAndDamagedFilesAsFailures) {
  Bytes whole;
  for (uint32_t i = 0; i < 3; ++i) {
    Bytes frame;
    ASSERT_TRUE(media::mjpg::BuildFrame(Picture(64, 48, int(i)).data(), Picture(64, 48, int(i)).size(), 1000 + i, frame));
    whole.insert(whole.end(), frame.begin(), frame.end());
  }
  Bytes cut = whole;
  cut.resize(whole.size() - 100);  // the last frame lost its end
  Bytes stray = whole;
  const Bytes eoi = {0xFF, 0xD9};
  stray.insert(stray.begin(), eoi.begin(), eoi.end());  // a stray end marker before the first frame
  struct Case {
    const char* name;
    Bytes bytes;
    int status;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"whole.mjpg", whole, 0, "frames: 3,"},
      {"empty.mjpg", Bytes{}, 1, "holds no frame"},
      {"junk.mjpg", Bytes(5000, 0x42), 1, "holds no frame"},
      {"cut.mjpg", cut, 0, "bytes after the last whole frame"},
      {"stray.mjpg", stray, 1, "2 damaged bytes skipped, the first at offset 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Spit(Path(c.name), c.bytes);
    std::string output;
    EXPECT_EQ(RunInfo("'" + Path(c.name) + "'", output), c.status);
    EXPECT_NE(output.find(c.says), std::string::npos) << output;
  }
  std::string output;
  EXPECT_EQ(RunInfo("--help", output), 0);
  EXPECT_NE(output.find("usage: mjpginfo"), std::string::npos);
  EXPECT_EQ(RunInfo("", output), 2);
}

}  // namespace
