// Writes a synthetic recording (50 frames unless told) as an MJPG file, reads it
// back and shows what a player would see: frame sizes and their recording times.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "media/mjpg.h"
#include "media/jpeg_codec.h"
#include "platform/ascii.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kDefaultFrames = 50;
constexpr int kQuality = 75;

// A diagonal gradient that scrolls, with a white box moving across it.
media::FrameImage MakeFrame(int index) {
  media::FrameImage img;
  img.width = kWidth;
  img.height = kHeight;
  img.bitsPerPixel = 24;
  img.pixels.resize(size_t(kWidth) * kHeight * 3);
  const int boxX = (index * 11) % (kWidth - 80);
  const int boxY = 60 + (index * 7) % (kHeight - 160);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* p = &img.pixels[(size_t(y) * kWidth + x) * 3];
      const bool box = x >= boxX && x < boxX + 80 && y >= boxY && y < boxY + 80;
      p[0] = box ? 255 : uint8_t((x + index * 4) & 0xFF);
      p[1] = box ? 255 : uint8_t((y + index * 2) & 0xFF);
      p[2] = box ? 255 : uint8_t(((x + y) / 2 + index * 6) & 0xFF);
    }
  }
  return img;
}

std::string LocalTime(uint32_t stamp) {
  const time_t t = static_cast<time_t>(stamp);
  struct tm tmv {};
  char text[64] = "?";
  if (localtime_r(&t, &tmv)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tmv);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  size_t pos = 0;
  const int frameCount = argc == 3 ? platform::ascii::ReadInt32(argv[2], pos).value_or(0) : kDefaultFrames;
  if ((argc != 2 && argc != 3) || frameCount <= 0) {
    std::fprintf(stderr, "usage: %s OUTPUT.mjpg [FRAMES]\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    return 1;
  }

  const uint32_t base = static_cast<uint32_t>(std::time(nullptr));
  std::vector<std::vector<uint8_t>> written;  // frame bytes as they should be on disk
  std::vector<uint32_t> stamps;
  for (int i = 0; i < frameCount; ++i) {
    std::vector<uint8_t> jpeg;
    if (!media::EncodeJpeg(MakeFrame(i), kQuality, jpeg)) {
      std::fprintf(stderr, "frame %d: encoding failed\n", i);
      ::close(fd);
      return 1;
    }
    const uint32_t stamp = base + uint32_t(i);
    if (media::mjpg::WriteFrame(fd, jpeg.data(), jpeg.size(), stamp) != media::mjpg::WriteResult::Ok) {
      std::fprintf(stderr, "frame %d: writing failed\n", i);
      ::close(fd);
      return 1;
    }
    std::vector<uint8_t> frameBytes;
    media::mjpg::BuildFrame(jpeg.data(), jpeg.size(), stamp, frameBytes);
    written.push_back(std::move(frameBytes));
    stamps.push_back(stamp);
  }
  if (::close(fd) != 0) {
    std::perror("close");
    return 1;
  }

  std::vector<media::mjpg::FrameSpan> frames;
  std::vector<uint8_t> bytes;
  if (!media::mjpg::ReadAllFrames(path, frames, &bytes)) {
    std::fprintf(stderr, "%s: cannot read back\n", path.c_str());
    return 1;
  }
  std::printf("file: %s\n", path.c_str());
  std::printf("frames written: %d, frames read: %zu\n", frameCount, frames.size());

  bool ok = frames.size() == written.size();
  size_t total = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    const media::mjpg::FrameSpan& f = frames[i];
    const uint8_t* data = bytes.data() + f.start;
    bool same = i < written.size() && f.length == written[i].size() &&
                std::equal(data, data + f.length, written[i].begin()) && f.hasTimestamp &&
                f.timestamp == stamps[i];
    media::FrameImage img;
    const bool decoded = media::DecodeJpeg(data, f.length, img);
    same = same && decoded && img.width == kWidth && img.height == kHeight && img.bitsPerPixel == 24;
    total += f.length;
    if (i < 3 || i + 3 >= frames.size() || !same) {
      std::printf("  frame %2zu: %6zu bytes  time %u  (%s)%s\n", i, f.length, f.timestamp,
                  LocalTime(f.timestamp).c_str(), same ? "" : "  MISMATCH");
    } else if (i == 3) {
      std::printf("  ...\n");
    }
    ok = ok && same;
  }
  if (!frames.empty())
    std::printf("average frame size: %zu bytes, total file size: %zu bytes\n", total / frames.size(),
                bytes.size());
  ok = ok && total == bytes.size();
  std::printf("%s\n", ok ? "read back: identical" : "read back: DIFFERS from what was written");
  return ok ? 0 : 1;
}
