#include "recorder/net/stream_cutter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

using namespace recorder;

namespace {

using net::StreamCutter;
using Outcome = StreamCutter::Outcome;
using Bytes = std::vector<uint8_t>;

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

void PutSegment(Bytes& out, uint8_t marker, const Bytes& payload) {
  const size_t len = payload.size() + 2;
  out.insert(out.end(), {0xFF, marker, uint8_t(len >> 8), uint8_t(len & 0xFF)});
  out.insert(out.end(), payload.begin(), payload.end());
}

// A stand-in picture with the segment layout of a real one: SOI, APP0, an optional
// APP1 that carries `preview`, a table, the scan header, `scanSize` bytes of scan data
// and EOI. The scan data holds FF only as stuffed FF 00 or a restart marker, as a
// real encoder writes it.
Bytes Jpeg(uint8_t seed, size_t scanSize, const Bytes& preview = {}) {
  Bytes j = {0xFF, 0xD8};
  PutSegment(j, 0xE0, Str(std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14)));
  if (!preview.empty()) {
    Bytes exif = Str(std::string("Exif\0\0", 6));
    exif.insert(exif.end(), preview.begin(), preview.end());
    PutSegment(j, 0xE1, exif);
  }
  PutSegment(j, 0xDB, Bytes(65, seed));
  PutSegment(j, 0xDA, {0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
  uint32_t r = 0x9E3779B9u * (seed + 1u);
  for (size_t i = 0; i < scanSize; ++i) {
    r = r * 1664525u + 1013904223u;
    const uint8_t b = uint8_t(r >> 24);
    j.push_back(b);
    if (b == 0xFF) j.push_back((r >> 8) % 5 == 0 ? uint8_t(0xD0 + (r >> 16) % 8) : 0x00);
  }
  j.push_back(0xFF);
  j.push_back(0xD9);
  return j;
}

// Hands out scripted chunks, one per receive; an empty script means the peer closed.
struct Script {
  std::deque<Bytes> chunks;
  size_t offset = 0;  // into chunks.front(), so large chunks are not copied per receive
  int calls = 0;
  size_t largestAsk = 0;
  ssize_t error = 0;  // returned once the chunks run out (0 = closed)
  StreamCutter::ReceiveFn Fn() {
    return [this](uint8_t* dst, size_t max) -> ssize_t {
      ++calls;
      largestAsk = std::max(largestAsk, max);
      if (chunks.empty()) return error;
      const Bytes& c = chunks.front();
      size_t n = std::min(max, c.size() - offset);
      std::memcpy(dst, c.data() + offset, n);
      offset += n;
      if (offset == c.size()) chunks.pop_front(), offset = 0;
      return static_cast<ssize_t>(n);
    };
  }
  // `bytes` in chunks of at most `size`.
  void Chop(const Bytes& bytes, size_t size) {
    for (size_t i = 0; i < bytes.size(); i += size)
      chunks.emplace_back(bytes.begin() + long(i), bytes.begin() + long(std::min(bytes.size(), i + size)));
  }
};

// Notifications until the cutter reports something other than NeedMore (bounded).
Outcome Drive(StreamCutter& cutter, Script& s, Bytes& image, int limit = 8000) {
  Outcome o = Outcome::NeedMore;
  for (int i = 0; i < limit && o == Outcome::NeedMore; ++i) o = cutter.OnReadable(s.Fn(), image);
  return o;
}

TEST(StreamCutter, SnapshotResponseYieldsExactlyTheJpeg) {
  StreamCutter cutter;
  Bytes jpeg = Jpeg(0x11, 100);
  Script s;
  s.chunks.push_back(Cat({Str("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: 108\r\n\r\n"), jpeg}));
  Bytes image;
  EXPECT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::Image);
  EXPECT_EQ(image, jpeg);
  EXPECT_TRUE(cutter.imageSeen());
  EXPECT_EQ(cutter.fill(), 0u);  // the image ended exactly at the block end
}

TEST(StreamCutter, PartialDataWaitsAndTrailingBytesAreKept) {
  StreamCutter cutter;
  Bytes jpeg = Jpeg(0x22, 300);
  Bytes head = Str("--frame\r\nContent-Type: image/jpeg\r\n\r\n");
  Bytes all = Cat({head, jpeg, Str("\r\n--frame\r\n")});
  Script s;
  // Split inside the FF D8 marker, then inside the body, then after the end.
  size_t cut1 = head.size() + 1;
  size_t cut2 = head.size() + 150;
  s.chunks.push_back(Bytes(all.begin(), all.begin() + static_cast<long>(cut1)));
  s.chunks.push_back(Bytes(all.begin() + static_cast<long>(cut1), all.begin() + static_cast<long>(cut2)));
  s.chunks.push_back(Bytes(all.begin() + static_cast<long>(cut2), all.end()));
  Bytes image;
  EXPECT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::NeedMore);  // only FF of FF D8 so far
  EXPECT_EQ(cutter.fill(), cut1);
  EXPECT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::NeedMore);  // SOI found, no EOI
  EXPECT_FALSE(cutter.imageSeen());
  EXPECT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::Image);
  EXPECT_EQ(image, jpeg);
  EXPECT_EQ(cutter.fill(), 11u);  // "\r\n--frame\r\n" stays for the next part
}

// A second picture that came with the first is taken without waiting for more data,
// which a stalled camera would never send.
TEST(StreamCutter, ASecondImageInTheSameReceiveIsCutWithoutReceiving) {
  StreamCutter cutter;
  Bytes a = Jpeg(0x01, 50), b = Jpeg(0x02, 60);
  Script s;
  s.chunks.push_back(Cat({Str("--frame\r\n\r\n"), a, Str("\r\n--frame\r\n\r\n"), b}));
  s.chunks.push_back(Str("\r\n--frame"));
  Bytes image;
  EXPECT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::Image);
  EXPECT_EQ(image, a);
  EXPECT_EQ(s.calls, 1);  // one receive per notification
  EXPECT_EQ(cutter.CutHeld(image), Outcome::Image);
  EXPECT_EQ(image, b);
  EXPECT_EQ(s.calls, 1);
  EXPECT_EQ(cutter.CutHeld(image), Outcome::NeedMore);
  EXPECT_EQ(cutter.fill(), 0u);
  EXPECT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::NeedMore);
  EXPECT_EQ(cutter.fill(), 9u);
}

TEST(StreamCutter, EmbeddedPreviewDoesNotEndTheImage) {
  const Bytes preview = Jpeg(0x33, 300);
  const Bytes outer = Jpeg(0x44, 2000, preview);
  const Bytes tail = Str("\r\n--frame\r\n");
  // Receives of every size split the markers and length fields at every place.
  for (size_t size : {size_t(1), size_t(2), size_t(3), size_t(5), size_t(4096)}) {
    SCOPED_TRACE(size);
    StreamCutter cutter;
    Script s;
    s.Chop(Cat({Str("--frame\r\n\r\n"), outer, tail}), size);
    Bytes image;
    ASSERT_EQ(Drive(cutter, s, image), Outcome::Image);
    EXPECT_EQ(image, outer);
  }
}

TEST(StreamCutter, MalformedSegmentsFallBackToTheFirstEndMarker) {
  const Bytes preview = Jpeg(0x55, 40);
  struct Case {
    const char* name;
    Bytes before;  // bytes placed right after FF D8, where a marker segment must stand
  };
  const Case cases[] = {
      {"length 0", {0xFF, 0xE0, 0x00, 0x00}},
      {"length 1", {0xFF, 0xE0, 0x00, 0x01}},
      {"no marker", {0x00, 0xFF, 0xE0, 0x00, 0x02}},
      {"FF 00 is no marker", {0xFF, 0x00}},
      {"second start marker", {0xFF, 0xD8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes whole = Jpeg(0x66, 100, preview);
    Bytes frame = {0xFF, 0xD8};
    frame.insert(frame.end(), c.before.begin(), c.before.end());
    frame.insert(frame.end(), whole.begin() + 2, whole.end());
    // Ends where the plain search finds FF D9: at the end of the preview.
    const auto previewAt = std::search(frame.begin(), frame.end(), preview.begin(), preview.end());
    const Bytes expected(frame.begin(), previewAt + long(preview.size()));
    StreamCutter cutter;
    Script s;
    s.Chop(frame, 7);
    Bytes image;
    ASSERT_EQ(Drive(cutter, s, image), Outcome::Image);
    EXPECT_EQ(image, expected);
  }
}

TEST(StreamCutter, LargePicturesAreCutWholeFromFullReceives) {
  struct Case {
    const char* name;
    size_t scanSize;
    bool preview;
  };
  const Case cases[] = {{"20 KB", 20000, false}, {"1 MB", 1000000, false}, {"1 MB with preview", 1000000, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes small = Jpeg(1, 2000);
    std::vector<Bytes> pictures;
    Bytes stream = Str("HTTP/1.1 200 OK\r\n\r\n");
    for (uint8_t i = 0; i < 3; ++i) {
      pictures.push_back(Jpeg(uint8_t(10 + i), c.scanSize + i * 777, c.preview ? small : Bytes{}));
      stream = Cat({stream, Str("--frame\r\nContent-Type: image/jpeg\r\n\r\n"), pictures.back(), Str("\r\n")});
    }
    StreamCutter cutter;
    Script s;
    s.chunks.push_back(stream);
    for (const Bytes& expected : pictures) {
      Bytes image;
      ASSERT_EQ(Drive(cutter, s, image), Outcome::Image);
      EXPECT_EQ(image, expected);
    }
    EXPECT_EQ(s.largestAsk, StreamCutter::kReceiveSize);
    // Every receive but the last was a full one: the pictures came without waiting.
    EXPECT_EQ(size_t(s.calls), (stream.size() - 2 + StreamCutter::kReceiveSize - 1) / StreamCutter::kReceiveSize);
  }
}

TEST(StreamCutter, EoiBeforeSoiIsIgnoredAndGarbageBeforeSoiDropped) {
  StreamCutter cutter;
  Bytes jpeg = Jpeg(0x55, 10);
  Script s;
  s.chunks.push_back(Cat({Bytes{0xFF, 0xD9, 0x00, 0xFF}, jpeg}));
  Bytes image;
  ASSERT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::Image);
  EXPECT_EQ(image, jpeg);
  EXPECT_EQ(cutter.fill(), 0u);
}

TEST(StreamCutter, ClosedAndErrorEmptyTheBuffer) {
  StreamCutter cutter;
  Script s;
  s.chunks.push_back(Str("HTTP/1.1 401 Unauthorized\r\n\r\n<html>no</html>"));
  Bytes image;
  EXPECT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::NeedMore);
  EXPECT_GT(cutter.fill(), 0u);
  EXPECT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::Closed);  // zero bytes: peer closed
  EXPECT_EQ(cutter.fill(), 0u);

  s.chunks.push_back(Str("abc"));
  s.error = -1;
  EXPECT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::NeedMore);
  EXPECT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::Closed);
  EXPECT_EQ(cutter.fill(), 0u);

  // A receiver that reports more than it may deliver is a failure, not an overrun.
  auto liar = [](uint8_t*, size_t max) -> ssize_t { return static_cast<ssize_t>(max + 1); };
  EXPECT_EQ(cutter.OnReadable(liar, image), Outcome::Closed);
  EXPECT_EQ(cutter.fill(), 0u);
  EXPECT_TRUE(image.empty());
}

// Feeds full blocks of marker-free bytes until the cutter reports something else.
Outcome FillWithoutImage(StreamCutter& cutter, int* receives) {
  auto filler = [receives](uint8_t* dst, size_t max) -> ssize_t {
    ++*receives;
    std::memset(dst, 0x41, max);
    return static_cast<ssize_t>(max);
  };
  Bytes image;
  for (int i = 0; i < 5000; ++i) {
    Outcome o = cutter.OnReadable(filler, image);
    if (o != Outcome::NeedMore) return o;
  }
  return Outcome::NeedMore;
}

constexpr size_t kMiB = size_t(1) << 20;

TEST(StreamCutter, FullBufferWithoutImageExits) {
  StreamCutter cutter;
  int receives = 0;
  EXPECT_EQ(FillWithoutImage(cutter, &receives), Outcome::BufferFullExit);
  // 16 MiB / 4096 = 4096 receives fill the buffer; the next notification finds it full.
  EXPECT_EQ(receives, 4096);
  EXPECT_EQ(cutter.fill(), 0u);
}

TEST(StreamCutter, FullBufferAfterAnImageRestarts) {
  StreamCutter cutter;
  Script s;
  s.chunks.push_back(Jpeg(0x66, 30));
  Bytes image;
  ASSERT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::Image);
  int receives = 0;
  EXPECT_EQ(FillWithoutImage(cutter, &receives), Outcome::BufferFullRestart);
  EXPECT_EQ(receives, 4096);
  EXPECT_EQ(cutter.fill(), 0u);
  cutter.Reset();
  EXPECT_TRUE(cutter.imageSeen());  // never cleared while the worker lives

  // The buffer takes pictures again after being full.
  const Bytes next = Jpeg(0x67, 5000);
  s.chunks.push_back(next);
  EXPECT_EQ(Drive(cutter, s, image), Outcome::Image);
  EXPECT_EQ(image, next);
}

TEST(StreamCutter, PicturesUpTo16MiBFitAndLargerOnesFillTheBuffer) {
  const Bytes head = Jpeg(0x77, 0);  // segments up to the scan data, then FF D9
  struct Case {
    size_t size;  // whole picture, FF D8 through FF D9
    Outcome outcome;
  };
  // 4096 full receives reach 16 MiB, the most the buffer ever takes in.
  for (const Case& c : {Case{16 * kMiB, Outcome::Image}, Case{16 * kMiB + 1, Outcome::BufferFullExit}}) {
    SCOPED_TRACE(c.size);
    Bytes big(head.begin(), head.end() - 2);
    big.resize(c.size - 2, 0x5A);
    big.push_back(0xFF);
    big.push_back(0xD9);
    StreamCutter cutter;
    Script s;
    s.chunks.push_back(big);
    Bytes image;
    EXPECT_EQ(Drive(cutter, s, image), c.outcome);
    if (c.outcome == Outcome::Image) {
      EXPECT_EQ(image, big);
      EXPECT_EQ(cutter.fill(), 0u);
    } else {
      EXPECT_TRUE(image.empty());
    }
  }
}

}  // namespace
