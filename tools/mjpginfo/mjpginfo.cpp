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

const char* const kUsage =
    "usage: mjpginfo FILE.mjpg ...\n"
    "Prints each file's frame count, size, largest frame and first and last time stamps.\n"
    "Exit status 1 when a file cannot be read, holds no frame, or has bytes after its\n"
    "last whole frame (a cut-off recording); 2 for a wrong command line.\n";

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc < 2) {
    std::fputs(kUsage, stderr);
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
    if (frames.empty()) {
      std::printf("  no frames\n");
      std::fprintf(stderr, "%s: holds no frame\n", argv[i]);
      status = 1;
      continue;
    }
    const auto& first = frames.front();
    const auto& last = frames.back();
    std::printf("  first time stamp: %u (%s)\n  last time stamp:  %u (%s)\n", first.timestamp,
                LocalTimeText(first.timestamp).c_str(), last.timestamp, LocalTimeText(last.timestamp).c_str());
    if (last.next < bytes.size()) {
      const size_t extra = bytes.size() - last.next;
      std::printf("  %zu bytes after the last whole frame\n", extra);
      std::fprintf(stderr, "%s: %zu bytes after the last whole frame (offset %zu)\n", argv[i], extra, last.next);
      status = 1;
    }
  }
  return status;
}
