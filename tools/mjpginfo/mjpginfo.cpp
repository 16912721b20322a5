// Prints what an MJPG file holds: frame count, sizes and first and last time stamps.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "media/mjpg.h"

namespace {

std::string LocalTimeText(uint32_t stamp) {
  std::time_t t = stamp;
  std::tm local{};
  char text[64] = "";
  if (localtime_r(&t, &local)) std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mjpginfo FILE.mjpg ...\n");
    return 2;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<media::mjpg::FrameSpan> frames;
    std::vector<uint8_t> bytes;
    if (!media::mjpg::ReadAllFrames(argv[i], frames, &bytes)) {
      std::fprintf(stderr, "%s: cannot be read\n", argv[i]);
      status = 1;
      continue;
    }
    size_t largest = 0;
    for (const auto& f : frames) largest = f.length > largest ? f.length : largest;
    std::printf("%s\n  frames: %zu, file bytes: %zu, largest frame: %zu bytes\n", argv[i], frames.size(), bytes.size(),
                largest);
    if (!frames.empty()) {
      const auto& first = frames.front();
      const auto& last = frames.back();
      std::printf("  first time stamp: %u (%s)\n  last time stamp:  %u (%s)\n", first.timestamp,
                  LocalTimeText(first.timestamp).c_str(), last.timestamp, LocalTimeText(last.timestamp).c_str());
    }
  }
  return status;
}
