#include "recorder/net/stream_cutter.h"

#include <gtest/gtest.h>

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

// A small stand-in picture: SOI, some body bytes free of markers, EOI.
Bytes Jpeg(uint8_t fillByte, size_t bodySize) {
  Bytes j = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
  j.insert(j.end(), bodySize, fillByte);
  j.push_back(0xFF);
  j.push_back(0xD9);
  return j;
}

// Hands out scripted chunks, one per receive; an empty script means the peer closed.
struct Script {
  std::deque<Bytes> chunks;
  int calls = 0;
  ssize_t error = 0;  // returned once the chunks run out (0 = closed)
  StreamCutter::ReceiveFn Fn() {
    return [this](uint8_t* dst, size_t max) -> ssize_t {
      ++calls;
      if (chunks.empty()) return error;
      Bytes& c = chunks.front();
      size_t n = std::min(max, c.size());
      std::memcpy(dst, c.data(), n);
      c.erase(c.begin(), c.begin() + static_cast<long>(n));
      if (c.empty()) chunks.pop_front();
      return static_cast<ssize_t>(n);
    };
  }
};

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

TEST(StreamCutter, TwoImagesInOneBlockComeOnSuccessiveCalls) {
  StreamCutter cutter;
  Bytes a = Jpeg(0x01, 50), b = Jpeg(0x02, 60);
  Script s;
  s.chunks.push_back(Cat({Str("--frame\r\n\r\n"), a, Str("\r\n--frame\r\n\r\n"), b}));
  s.chunks.push_back(Str("\r\n--frame"));
  Bytes image;
  EXPECT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::Image);
  EXPECT_EQ(image, a);
  EXPECT_EQ(s.calls, 1);  // one receive per notification
  // The second picture is only taken on the next notification, after another receive.
  EXPECT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::Image);
  EXPECT_EQ(image, b);
  EXPECT_EQ(s.calls, 2);
  EXPECT_EQ(cutter.fill(), 9u);
}

TEST(StreamCutter, ThumbnailEndsTheCutEarly) {
  StreamCutter cutter;
  Bytes thumb = Jpeg(0x33, 20);
  Bytes app1 = {0xFF, 0xE1, 0x00, static_cast<uint8_t>(2 + thumb.size())};
  Bytes outer = Cat({Bytes{0xFF, 0xD8}, app1, thumb, Bytes(40, 0x44), Bytes{0xFF, 0xD9}});
  Script s;
  s.chunks.push_back(outer);
  Bytes image;
  ASSERT_EQ(cutter.OnReadable(s.Fn(), image), Outcome::Image);
  // From the outer SOI through the thumbnail's EOI.
  size_t expectedLen = 2 + app1.size() + thumb.size();
  EXPECT_EQ(image, Bytes(outer.begin(), outer.begin() + static_cast<long>(expectedLen)));
  EXPECT_EQ(cutter.fill(), outer.size() - expectedLen);
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
  for (int i = 0; i < 1000; ++i) {
    Outcome o = cutter.OnReadable(filler, image);
    if (o != Outcome::NeedMore) return o;
  }
  return Outcome::NeedMore;
}

TEST(StreamCutter, FullBufferWithoutImageExits) {
  StreamCutter cutter;
  int receives = 0;
  EXPECT_EQ(FillWithoutImage(cutter, &receives), Outcome::BufferFullExit);
  // 204800 / 4096 = 50 receives fill the buffer; the 51st notification finds it full.
  EXPECT_EQ(receives, 50);
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
  EXPECT_EQ(cutter.fill(), 0u);
  cutter.Reset();
  EXPECT_TRUE(cutter.imageSeen());  // never cleared while the worker lives
}

TEST(StreamCutter, PictureTooLargeForTheBufferIsNeverCut) {
  StreamCutter cutter;
  Bytes big = Jpeg(0x77, 210000);
  Script s;
  s.chunks.push_back(big);
  Bytes image;
  Outcome o = Outcome::NeedMore;
  for (int i = 0; i < 100 && o == Outcome::NeedMore; ++i) o = cutter.OnReadable(s.Fn(), image);
  EXPECT_EQ(o, Outcome::BufferFullExit);
  EXPECT_TRUE(image.empty());
}

TEST(StreamCutter, PictureJustUnderTheLimitIsCut) {
  // 50 full receives reach 204800 bytes, the most the buffer ever takes in.
  StreamCutter cutter;
  Bytes big = Jpeg(0x78, 204800 - 8);
  Script s;
  s.chunks.push_back(big);
  Bytes image;
  Outcome o = Outcome::NeedMore;
  for (int i = 0; i < 100 && o == Outcome::NeedMore; ++i) o = cutter.OnReadable(s.Fn(), image);
  EXPECT_EQ(o, Outcome::Image);
  EXPECT_EQ(image, big);
}

}  // namespace
