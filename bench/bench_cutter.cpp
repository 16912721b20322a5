// Stream cutting throughput: a push stream of pictures fed to the cutter in
// 4096-byte receives, as the network worker does, in MB/s of stream bytes. The
// scan resumes where it stopped, so 1 MB pictures cut about as fast per byte as
// 20 KB ones; a scan that restarted from the buffer's start on every receive would
// fall with the picture size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "recorder/net/stream_cutter.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutSegment(Bytes& out, uint8_t marker, size_t payload, uint8_t fill) {
  const size_t len = payload + 2;
  out.insert(out.end(), {0xFF, marker, uint8_t(len >> 8), uint8_t(len & 0xFF)});
  out.insert(out.end(), payload, fill);
}

// A picture with a real one's layout: headers, optionally a 10 KB preview in APP1,
// then scan data of about `size` bytes in which FF appears as often as in encoder
// output and only stuffed (FF 00) or as a restart marker.
Bytes Picture(size_t size, bool preview, uint32_t seed) {
  Bytes j = {0xFF, 0xD8};
  PutSegment(j, 0xE0, 14, 0x01);
  if (preview) {
    Bytes inner = Picture(10000, false, seed + 7);
    const size_t len = inner.size() + 8;
    j.insert(j.end(), {0xFF, 0xE1, uint8_t(len >> 8), uint8_t(len & 0xFF), 'E', 'x', 'i', 'f', 0, 0});
    j.insert(j.end(), inner.begin(), inner.end());
  }
  PutSegment(j, 0xDB, 130, 0x02);
  PutSegment(j, 0xC0, 15, 0x03);
  PutSegment(j, 0xC4, 416, 0x04);
  PutSegment(j, 0xDA, 10, 0x00);
  uint32_t r = seed * 2654435761u + 1;
  while (j.size() < size) {
    r ^= r << 13;
    r ^= r >> 17;
    r ^= r << 5;
    const uint8_t b = uint8_t(r);
    j.push_back(b);
    if (b == 0xFF) j.push_back((r >> 8) % 64 == 0 ? uint8_t(0xD0 + (r >> 16) % 8) : 0x00);
  }
  j.push_back(0xFF);
  j.push_back(0xD9);
  return j;
}

// About 8 MB of push stream: part headers and pictures of one size.
Bytes Stream(size_t pictureSize, bool preview, size_t* pictures) {
  Bytes s;
  *pictures = 0;
  while (s.size() < (size_t(8) << 20)) {
    const std::string head = "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: 0\r\n\r\n";
    s.insert(s.end(), head.begin(), head.end());
    const Bytes p = Picture(pictureSize, preview, uint32_t(*pictures));
    s.insert(s.end(), p.begin(), p.end());
    s.push_back('\r');
    s.push_back('\n');
    ++*pictures;
  }
  return s;
}

void BM_Cut(benchmark::State& state) {
  const size_t size = size_t(state.range(0));
  const bool preview = state.range(1) != 0;
  size_t pictures = 0;
  const Bytes stream = Stream(size, preview, &pictures);
  size_t pos = 0;
  auto receive = [&](uint8_t* dst, size_t max) -> ssize_t {
    const size_t n = std::min(max, stream.size() - pos);
    std::memcpy(dst, stream.data() + pos, n);
    pos += n;
    return ssize_t(n);
  };
  std::vector<uint8_t> image;
  for (auto _ : state) {
    recorder::net::StreamCutter cutter;
    pos = 0;
    size_t cut = 0;
    while (pos < stream.size()) {
      if (cutter.OnReadable(receive, image) == recorder::net::StreamCutter::Outcome::Image) ++cut;
    }
    benchmark::DoNotOptimize(image.data());
    if (cut + 1 < pictures) state.SkipWithError("pictures were lost");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
  state.counters["pictures/s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_Cut)
    ->ArgNames({"bytes", "preview"})
    ->Args({20 << 10, 0})
    ->Args({1 << 20, 0})
    ->Args({20 << 10, 1})
    ->Args({1 << 20, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
