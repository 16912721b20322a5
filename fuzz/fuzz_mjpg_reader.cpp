// The frame reader over a file of fuzzed bytes: the first bytes choose a walk of
// next, previous and seek steps, the rest is the file. Every frame handed back
// is a whole JPEG (FF D8 ... FF D9) that lies inside the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "media/mjpg_reader.h"

namespace {
void CheckFrame(const std::vector<uint8_t>& jpeg, size_t fileSize) {
  if (jpeg.size() < 4 || jpeg.size() > fileSize) __builtin_trap();
  if (jpeg[0] != 0xFF || jpeg[1] != 0xD8 || jpeg[jpeg.size() - 2] != 0xFF || jpeg.back() != 0xD9) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const uint8_t* steps = data;  // 8 steps, 2 bits each kind, plus seek fractions
  data += 8;
  size -= 8;
  const fuzz::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  media::CMjpgReader reader;
  if (!reader.Open(file.path(), media::CMjpgReader::Sharing::ReadOnly)) return 0;
  if (reader.GetLength() != size) __builtin_trap();
  std::vector<uint8_t> jpeg;
  uint32_t stamp = 0;
  // A first pass to the end, as --info and the player's first play do. Every byte
  // is read into a frame or skipped as damage at most once.
  uint64_t inFrames = 0;
  while (reader.ReadNextFrame(jpeg, &stamp)) {
    CheckFrame(jpeg, size);
    inFrames += jpeg.size();
  }
  if (inFrames + reader.GetDamage().bytesSkipped > size) __builtin_trap();
  for (int i = 0; i < 8; ++i) {
    bool got = false;
    switch (steps[i] & 3) {
      case 0:
        for (int k = 0; k < 1 + (steps[i] >> 5); ++k) got = reader.ReadNextFrame(jpeg, &stamp);
        break;
      case 1:
        for (int k = 0; k < 1 + (steps[i] >> 5); ++k) got = reader.ReadPreviousFrame(jpeg, &stamp);
        break;
      default:
        got = reader.SeekToFraction(int(steps[i] >> 2) * reader.GetFractionRange() / 63, jpeg, &stamp);
        break;
    }
    if (got) CheckFrame(jpeg, size);
    if (reader.GetPosition() > size) __builtin_trap();
    const int fraction = reader.GetPositionFraction();
    if (fraction < 0 || fraction > reader.GetFractionRange()) __builtin_trap();
  }
  return 0;
}
