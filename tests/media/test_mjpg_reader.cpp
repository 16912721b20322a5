#include "media/mjpg_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media/mjpg.h"
#include "tests/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using media::CMjpgReader;

// A frame of exactly `total` bytes with a time-stamp comment; the body is filler
// without FF, so the only markers are the frame's own.
Bytes Frame(size_t total, uint32_t stamp, uint8_t filler = 0x11) {
  const Bytes head = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x03, 0x00};
  Bytes frame;
  EXPECT_TRUE(media::mjpg::BuildFrame(head.data(), head.size(), stamp, frame));
  EXPECT_GE(total, frame.size() + 2);
  frame.resize(total - 2, filler);
  frame.push_back(0xFF);
  frame.push_back(0xD9);
  return frame;
}

// A frame without any comment.
Bytes Bare(size_t total) {
  Bytes frame = {0xFF, 0xD8};
  frame.resize(total - 2, 0x22);
  frame.push_back(0xFF);
  frame.push_back(0xD9);
  return frame;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class ReaderFile : public ::testing::Test {
 protected:

  std::string Write(const Bytes& bytes, const std::string& name = "f.mjpg") {
    const std::string path = dir_.Path(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ::close(fd);
    return path;
  }

  test_support::ScopedTempDir dir_{"mjpg_reader"};
};

struct Seen {
  uint64_t start;
  size_t length;
  uint32_t stamp;
  bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{" << s.start << ", " << s.length << ", " << s.stamp << "}";
}

// Checks the frame just read against the file's bytes and the reader's offsets.
Seen Check(const CMjpgReader& reader, const Bytes& file, const Bytes& jpeg, uint32_t stamp) {
  const uint64_t start = reader.GetFrameStart();
  EXPECT_EQ(reader.GetPosition(), start + jpeg.size());
  EXPECT_LE(start + jpeg.size(), file.size());
  if (start + jpeg.size() <= file.size()) {
    EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.end(), file.begin() + long(start)));
  }
  return {start, jpeg.size(), stamp};
}

TEST_F(ReaderFile, ReadsFramesInOrderAsTheWindowShowsThem) {
  const Bytes a = Frame(300, 1000), b = Frame(500, 2000), bare = Bare(200);
  const Bytes stray = {0x00, 0xFF, 0x00, 0xD8, 0xFF};
  struct Row {
    const char* name;
    Bytes file;
    std::vector<Seen> frames;
    uint64_t skipped = 0;  // damaged bytes read past
  } rows[] = {
      {"empty file", {}, {}},
      {"frames end to end", Cat({a, b}), {{0, 300, 1000}, {300, 500, 2000}}},
      {"stray bytes before and between frames", Cat({stray, a, stray, stray, b}),
       {{5, 300, 1000}, {315, 500, 2000}}, 15},
      {"end marker before the first start marker", Cat({Bytes{0x00, 0xFF, 0xD9}, a}), {{3, 300, 1000}}, 3},
      {"frame cut off by the start of the next", Cat({Bytes(a.begin(), a.begin() + 100), b}), {{100, 500, 2000}},
       100},
      {"frame without comment takes the next frame's stamp", Cat({bare, b, bare}),
       {{0, 200, 2000}, {200, 500, 2000}, {700, 200, 0}}},
      {"comment in stray bytes before the frame", Cat({Bytes{0xFF, 0xFE, 0x00, 0x04, '7', 0x00}, bare}),
       {{6, 200, 7}}, 6},
      {"comment length low byte 2", Cat({Bytes{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x02, '5', 0x00, 0xFF, 0xD9}}),
       {{0, 10, 0}}},
      {"comment length low byte 25", Cat({Bytes{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x19, '5', 0x00, 0xFF, 0xD9}, Bare(40)}),
       {{0, 10, 0}, {10, 40, 0}}},
      {"comment length 3, high byte ignored", Cat({Bytes{0xFF, 0xD8, 0xFF, 0xFE, 0x7F, 0x03, '5', '6', 0xFF, 0xD9}}),
       {{0, 10, 5}}},
      {"blanks before the digits", Cat({Bytes{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x07, ' ', '\t', '4', '2', 0x00, 0xFF, 0xD9}}),
       {{0, 13, 42}}},
      {"comment text past the end of the file", Cat({Bare(30), Bytes{0xFF, 0xFE, 0x00, 0x18, '9'}}), {{0, 30, 0}}, 5},
      {"file ends inside a frame: its end, not damage", Cat({a, Bytes(b.begin(), b.end() - 1)}), {{0, 300, 1000}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = Write(row.file);
    CMjpgReader reader;
    ASSERT_TRUE(reader.Open(path));
    std::vector<Seen> seen;
    Bytes jpeg;
    uint32_t stamp = 99;
    while (reader.ReadNextFrame(jpeg, &stamp) && seen.size() < 10) seen.push_back(Check(reader, row.file, jpeg, stamp));
    EXPECT_EQ(seen, row.frames);
    EXPECT_EQ(reader.GetDamage().bytesSkipped, row.skipped);
    EXPECT_EQ(reader.GetPosition(), row.file.size());
  }
}

// One step of navigation and the frame it should show (-1 = none).
enum class Op { Next, Prev, Seek };
struct Step {
  Op op;
  int fraction;
  int frame;
};

TEST_F(ReaderFile, NavigationLandsOnTheFramesTheOffsetsGive) {
  // Frame starts: equal 10000-byte frames at 0, 10000, ...; short 1500-byte frames
  // at 0, 1500, ...; and one whose start marker the first backward block cuts.
  std::vector<Bytes> equal, shortFrames;
  for (int i = 0; i < 5; ++i) equal.push_back(Frame(10000, 100 + i));
  for (int i = 0; i < 5; ++i) shortFrames.push_back(Frame(1500, 200 + i));
  const std::vector<Bytes> cut = {Frame(5000, 300), Frame(4097, 301), Frame(3000, 302)};
  struct Row {
    const char* name;
    std::vector<Bytes> frames;
    std::vector<Step> steps;
  } rows[] = {
      {"one frame: seek to the end finds nothing", {Frame(800, 5)}, {{Op::Seek, 86400, -1}, {Op::Seek, 0, 0}}},
      {"previous on the first frame reads it again", equal, {{Op::Next, 0, 0}, {Op::Prev, 0, 0}, {Op::Prev, 0, 0}}},
      {"previous steps back one long frame", equal,
       {{Op::Next, 0, 0}, {Op::Next, 0, 1}, {Op::Next, 0, 2}, {Op::Prev, 0, 1}, {Op::Prev, 0, 0}}},
      {"previous takes the earliest start in its block", shortFrames,
       {{Op::Seek, 86400, 4}, {Op::Prev, 0, 2}, {Op::Prev, 0, 0}}},
      {"previous sees a marker cut by its block's start", cut, {{Op::Seek, 86400, 2}, {Op::Prev, 0, 1}}},
      {"seek 0 and 86400 on equal frames", equal,
       {{Op::Seek, 86400, 4}, {Op::Next, 0, -1}, {Op::Seek, 0, 0}, {Op::Seek, 43200, 2}}},
      {"seek past the scale finds nothing", equal, {{Op::Seek, 86401 * 2, -1}, {Op::Seek, -5, 0}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes file;
    std::vector<uint64_t> starts;
    for (const Bytes& f : row.frames) {
      starts.push_back(file.size());
      file.insert(file.end(), f.begin(), f.end());
    }
    const std::string path = Write(file);
    CMjpgReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.GetFirstFrameSize(), starts.size() > 1 ? starts[1] : 0);
    for (size_t i = 0; i < row.steps.size(); ++i) {
      SCOPED_TRACE(i);
      const Step& step = row.steps[i];
      Bytes jpeg;
      uint32_t stamp = 0;
      const uint64_t before = reader.GetFrameStart();
      bool ok = step.op == Op::Next   ? reader.ReadNextFrame(jpeg, &stamp)
                : step.op == Op::Prev ? reader.ReadPreviousFrame(jpeg, &stamp)
                                      : reader.SeekToFraction(step.fraction, jpeg, &stamp);
      if (step.frame < 0) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(reader.GetFrameStart(), before);
        continue;
      }
      ASSERT_TRUE(ok);
      EXPECT_EQ(reader.GetFrameStart(), starts[size_t(step.frame)]);
      EXPECT_EQ(jpeg, row.frames[size_t(step.frame)]);
      if (size_t(step.frame) + 1 == row.frames.size()) {
        EXPECT_EQ(reader.GetPositionFraction(), 86400);
      }
    }
  }
}

TEST_F(ReaderFile, SeekPassesAStartMarkerCutByABlockEdge) {
  // Blocks read by a seek follow each other without overlap: a frame whose FF D8 is
  // split by the first block's end is passed over for the next one.
  const Bytes first = Cat({Frame(1000, 1), Frame(1000, 9)});
  const size_t length = 1 << 20;
  const int fraction = 43200;
  const uint64_t target = uint64_t(double(length) * (fraction * (1.0 / 86400))) - 1000;
  Bytes file = first;
  file.resize(target + 4095, 0x00);
  const Bytes split = Frame(3000, 2), after = Frame(3000, 3);
  file.insert(file.end(), split.begin(), split.end());
  file.insert(file.end(), after.begin(), after.end());
  file.resize(length, 0x00);
  CMjpgReader reader;
  ASSERT_TRUE(reader.Open(Write(file)));
  Bytes jpeg;
  uint32_t stamp = 0;
  ASSERT_TRUE(reader.SeekToFraction(fraction, jpeg, &stamp));
  EXPECT_EQ(stamp, 3u);
  EXPECT_EQ(reader.GetFrameStart(), target + 4095 + split.size());
}

TEST_F(ReaderFile, FramesGrowTheWindowUpTo16MiB) {
  constexpr size_t kMax = media::mjpg::kMaxFrameSize;
  struct Row {
    const char* name;
    std::vector<size_t> sizes;
    std::vector<size_t> read;  // the frames read, in order
  } rows[] = {
      {"1 MB frame between small ones", {3000, 1 << 20, 3000}, {0, 1, 2}},
      {"first frame over the first window", {1 << 20, 1 << 20}, {0, 1}},
      {"a 16 MiB frame", {kMax, 3000}, {0, 1}},
      {"a frame over 16 MiB is skipped as damage", {3000, kMax + 1, 3000}, {0, 2}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes file;
    std::vector<Bytes> frames;
    for (size_t i = 0; i < row.sizes.size(); ++i) {
      frames.push_back(Frame(row.sizes[i], uint32_t(10 + i), uint8_t(0x30 + i)));
      file.insert(file.end(), frames.back().begin(), frames.back().end());
    }
    CMjpgReader reader;
    ASSERT_TRUE(reader.Open(Write(file)));
    EXPECT_EQ(reader.GetFirstFrameSize(), row.sizes[0]);
    Bytes jpeg;
    uint32_t stamp = 0;
    size_t n = 0;
    uint64_t skipped = 0;
    while (reader.ReadNextFrame(jpeg, &stamp)) {
      ASSERT_LT(n, row.read.size());
      const size_t k = row.read[n];
      EXPECT_TRUE(jpeg == frames[k]) << "frame " << k << " differs";
      EXPECT_EQ(stamp, 10 + k);
      ++n;
    }
    EXPECT_EQ(n, row.read.size());
    for (size_t i = 0; i < frames.size(); ++i)
      if (std::find(row.read.begin(), row.read.end(), i) == row.read.end()) skipped += frames[i].size();
    EXPECT_EQ(reader.GetDamage().bytesSkipped, skipped);
    EXPECT_EQ(reader.GetDamage().framesSkipped, frames.size() - row.read.size());
    if (row.read.size() == row.sizes.size()) {
      // The end of the scale lands on the last frame, and a step back on the one
      // before (a first frame, so no earlier start shares its block).
      ASSERT_TRUE(reader.SeekToFraction(86400, jpeg, &stamp));
      EXPECT_TRUE(jpeg == frames.back());
      if (frames.size() == 2) {
        ASSERT_TRUE(reader.ReadPreviousFrame(jpeg, &stamp));
        EXPECT_TRUE(jpeg == frames[0]);
      }
    }
  }
}

TEST_F(ReaderFile, FilesOver4GBSeekByTheirRealOffsets) {
  // Sparse: holes of zeros between frames; one frame straddles 2^32.
  const uint64_t straddle = (uint64_t(1) << 32) - 100;
  const Bytes a = Frame(6000, 1), a2 = Frame(6000, 2), b = Frame(9000, 3), c = Frame(7000, 4), d = Frame(6000, 5);
  const uint64_t dAt = (uint64_t(9) << 29);  // 4.5 GiB
  const std::string path = dir_.Path("big.mjpg");
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    auto put = [&](uint64_t at, const Bytes& bytes) {
      EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), off_t(at)), ssize_t(bytes.size()));
    };
    put(0, a);
    put(a.size(), a2);
    put(straddle, b);
    put(straddle + b.size(), c);
    put(dAt, d);
    ::close(fd);
  }
  CMjpgReader reader;
  ASSERT_TRUE(reader.Open(path));
  const uint64_t length = dAt + d.size();
  ASSERT_EQ(reader.GetLength(), length);
  EXPECT_EQ(reader.GetFirstFrameSize(), a.size());

  Bytes jpeg;
  uint32_t stamp = 0;
  const int before = int((double(straddle) + a.size()) / double(length) * 86400);
  ASSERT_TRUE(reader.SeekToFraction(before, jpeg, &stamp));
  EXPECT_EQ(stamp, 3u);
  EXPECT_EQ(reader.GetFrameStart(), straddle);
  EXPECT_EQ(reader.GetPosition(), straddle + b.size());
  EXPECT_EQ(jpeg, b);
  ASSERT_TRUE(reader.ReadNextFrame(jpeg, &stamp));
  EXPECT_EQ(stamp, 4u);
  ASSERT_TRUE(reader.ReadPreviousFrame(jpeg, &stamp));
  EXPECT_EQ(reader.GetFrameStart(), straddle);
  EXPECT_EQ(reader.GetPositionFraction(), int(double(straddle + b.size()) / double(length) * 86400));

  ASSERT_TRUE(reader.SeekToFraction(86400, jpeg, &stamp));
  EXPECT_EQ(stamp, 5u);
  EXPECT_EQ(reader.GetFrameStart(), dAt);
  EXPECT_EQ(reader.GetPositionFraction(), 86400);
}

TEST_F(ReaderFile, AnyBytesGiveOnlyWholeFramesOfTheFile) {
  // Bytes drawn mostly from the marker bytes, read in random order of operations:
  // whatever a read returns is a run of the file from FF D8 up to the first FF D9.
  uint32_t r = 2024;
  auto next = [&r] { return r = r * 1664525u + 1013904223u, r >> 8; };
  const uint8_t alphabet[] = {0xFF, 0xFF, 0xFF, 0xD8, 0xD9, 0xFE, 0x00, 0x03, 0x18, '7', ' '};
  for (int round = 0; round < 300; ++round) {
    Bytes file(next() % 12000);
    for (uint8_t& b : file) b = alphabet[next() % std::size(alphabet)];
    const std::string path = Write(file);
    CMjpgReader reader;
    ASSERT_TRUE(reader.Open(path));
    for (int op = 0; op < 40; ++op) {
      Bytes jpeg;
      uint32_t stamp = 0;
      const unsigned kind = next() % 3;
      const bool ok = kind == 0   ? reader.ReadNextFrame(jpeg, &stamp)
                      : kind == 1 ? reader.ReadPreviousFrame(jpeg, &stamp)
                                  : reader.SeekToFraction(int(next() % 90000) - 1000, jpeg, &stamp);
      if (!ok) continue;
      SCOPED_TRACE(testing::Message() << "round " << round << " op " << op);
      const uint64_t start = reader.GetFrameStart();
      ASSERT_GE(jpeg.size(), 4u);
      ASSERT_LE(start + jpeg.size(), file.size());
      EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.end(), file.begin() + long(start)));
      EXPECT_EQ(jpeg[0], 0xFF);
      EXPECT_EQ(jpeg[1], 0xD8);
      EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
      EXPECT_EQ(jpeg.back(), 0xD9);
      const uint8_t eoi[2] = {0xFF, 0xD9};
      EXPECT_EQ(std::search(jpeg.begin(), jpeg.end(), eoi, eoi + 2), jpeg.end() - 2);
      EXPECT_EQ(reader.GetPosition(), start + jpeg.size());
      EXPECT_LE(reader.GetPositionFraction(), 86400);
    }
  }
}

TEST_F(ReaderFile, OpenTakesRegularFilesAndHonoursSharing) {
  const std::string path = Write(Frame(500, 9));
  const std::string fifo = dir_.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int writer = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);  // as the recorder holds its file
  struct Row {
    std::string path;
    CMjpgReader::Sharing sharing;
    bool opens;
  } rows[] = {
      {path, CMjpgReader::Sharing::ReadWrite, true},
      {path, CMjpgReader::Sharing::ReadOnly, false},
      {dir_.Path(), CMjpgReader::Sharing::ReadWrite, false},
      {fifo, CMjpgReader::Sharing::ReadWrite, false},
      {dir_.Path("missing"), CMjpgReader::Sharing::ReadWrite, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path + (row.sharing == CMjpgReader::Sharing::ReadOnly ? " read-only" : ""));
    CMjpgReader reader;
    EXPECT_EQ(reader.Open(row.path, row.sharing), row.opens);
    Bytes jpeg;
    EXPECT_EQ(reader.ReadNextFrame(jpeg), row.opens);
    if (!row.opens) {
      EXPECT_EQ(reader.GetLength(), 0u);
      EXPECT_EQ(reader.GetPosition(), 0u);
      EXPECT_FALSE(reader.ReadPreviousFrame(jpeg));
      EXPECT_FALSE(reader.SeekToFraction(0, jpeg));
    }
  }
  ::close(writer);
  CMjpgReader reader;
  EXPECT_TRUE(reader.Open(path, CMjpgReader::Sharing::ReadOnly));
}

}  // namespace
