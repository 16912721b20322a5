// Prints what an MJPG file holds: frame count, sizes, first and last time stamps,
// and what the frame reader had to skip in a damaged file.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "media/mjpg_reader.h"

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
    "Prints each file's frame count, size, largest frame, first and last time stamps\n"
    "and the bytes skipped as damaged. A last frame cut off by the end of the file (a\n"
    "recording stopped by a power loss) is the file's normal end.\n"
    "Exit status 1 when a file cannot be read, holds no frame, or has damaged bytes\n"
    "that were skipped; 2 for a wrong command line.\n";

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
    media::CMjpgReader reader;
    if (!reader.Open(argv[i])) {
      std::fprintf(stderr, "%s: cannot be read\n", argv[i]);
      status = 1;
      continue;
    }
    std::vector<uint8_t> jpeg;
    uint64_t frames = 0, lastEnd = 0;
    size_t largest = 0;
    uint32_t stamp = 0, first = 0, last = 0;
    while (reader.ReadNextFrame(jpeg, &stamp)) {
      if (frames++ == 0) first = stamp;
      last = stamp;
      largest = jpeg.size() > largest ? jpeg.size() : largest;
      lastEnd = reader.GetPosition();
    }
    const uint64_t length = reader.GetLength();
    std::printf("%s\n  frames: %llu, file bytes: %llu, largest frame: %zu bytes\n", argv[i],
                (unsigned long long)frames, (unsigned long long)length, largest);
    const media::CMjpgReader::Damage& damage = reader.GetDamage();
    if (damage.Any()) {
      std::printf("  skipped: %llu damaged bytes (%llu damaged frames), the first at offset %llu\n",
                  (unsigned long long)damage.bytesSkipped, (unsigned long long)damage.framesSkipped,
                  (unsigned long long)damage.firstOffset);
      std::fprintf(stderr, "%s: %llu damaged bytes skipped, the first at offset %llu\n", argv[i],
                   (unsigned long long)damage.bytesSkipped, (unsigned long long)damage.firstOffset);
      status = 1;
    }
    if (frames == 0) {
      std::printf("  no frames\n");
      std::fprintf(stderr, "%s: holds no frame\n", argv[i]);
      status = 1;
      continue;
    }
    std::printf("  first time stamp: %u (%s)\n  last time stamp:  %u (%s)\n", first, LocalTimeText(first).c_str(),
                last, LocalTimeText(last).c_str());
    if (lastEnd < length)
      std::printf("  %llu bytes after the last whole frame\n", (unsigned long long)(length - lastEnd));
  }
  return status;
}
