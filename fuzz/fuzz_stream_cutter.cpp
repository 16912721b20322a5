// Cutting pictures out of a camera's byte stream fed in receives of random sizes
// (chosen by the first four bytes), with now and then a closed or failed
// receive, and held pictures cut as the worker does after each one. Every
// picture handed back is FF D8 ... FF D9 and is exactly the stream's bytes that
// end where the cutter stopped.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "recorder/net/stream_cutter.h"

using recorder::net::StreamCutter;

namespace {
uint32_t Next(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint32_t rng = (uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3]) | 1;
  const uint8_t* stream = data + 4;
  const size_t length = size - 4;
  StreamCutter cutter;
  std::vector<uint8_t> image;
  size_t fed = 0;
  const auto check = [&](const std::vector<uint8_t>& picture) {
    if (picture.size() < 4 || cutter.fill() > fed || picture.size() > fed - cutter.fill()) __builtin_trap();
    const size_t end = fed - cutter.fill();
    if (std::memcmp(picture.data(), stream + end - picture.size(), picture.size()) != 0) __builtin_trap();
    if (picture[0] != 0xFF || picture[1] != 0xD8 || picture[picture.size() - 2] != 0xFF || picture.back() != 0xD9)
      __builtin_trap();
  };
  while (fed < length) {
    const uint32_t r = Next(rng);
    const StreamCutter::ReceiveFn receive = [&](uint8_t* dst, size_t max) -> ssize_t {
      if (r % 97 == 0) return 0;   // the camera closed the connection
      if (r % 89 == 0) return -1;  // a receive error
      size_t n = 1 + (r >> 8) % max;
      if (n > length - fed) n = length - fed;
      std::memcpy(dst, stream + fed, n);
      fed += n;
      return ssize_t(n);
    };
    const StreamCutter::Outcome outcome = cutter.OnReadable(receive, image);
    if (outcome == StreamCutter::Outcome::Image) {
      check(image);
      while (cutter.CutHeld(image) == StreamCutter::Outcome::Image) check(image);
    } else if (outcome == StreamCutter::Outcome::Closed) {
      if (cutter.fill() != 0) __builtin_trap();
      cutter.Reset();
    } else if (outcome != StreamCutter::Outcome::NeedMore) {
      return 0;  // a full buffer ends the connection
    }
    if (r % 7 == 0 && cutter.CutHeld(image) == StreamCutter::Outcome::Image) check(image);
  }
  return 0;
}
