// JPEG decode and encode through the frame codec, next to the same work done with
// the library's API directly on the same buffers, so the codec's own overhead
// shows as a ratio (goal: ours/direct >= 0.95 in megapixels per second).
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "media/jpeg_codec.h"

namespace {

struct Size {
  int w, h;
  std::string Name() const { return std::to_string(w) + "x" + std::to_string(h); }
};
const Size kSizes[] = {{640, 480}, {1920, 1080}};
constexpr int kQuality = 75;

// Gradients with sensor-like noise: compresses like a camera picture, not like a
// flat test card.
media::FrameImage Scene(const Size& s) {
  media::FrameImage img;
  img.width = s.w;
  img.height = s.h;
  img.bitsPerPixel = 24;
  img.pixels.resize(size_t(s.w) * s.h * 3);
  uint32_t r = 2463534242u;
  for (int y = 0; y < s.h; ++y)
    for (int x = 0; x < s.w; ++x) {
      r ^= r << 13;
      r ^= r >> 17;
      r ^= r << 5;
      const int noise = int(r & 15) - 8;
      uint8_t* p = &img.pixels[(size_t(y) * s.w + x) * 3];
      const int b = x * 255 / s.w, g = y * 255 / s.h, rr = ((x + y) * 255 / (s.w + s.h) + (x / 64) * 20) & 255;
      p[0] = uint8_t(std::clamp(b + noise, 0, 255));
      p[1] = uint8_t(std::clamp(g + noise, 0, 255));
      p[2] = uint8_t(std::clamp(rr + noise, 0, 255));
    }
  return img;
}

void SetRate(benchmark::State& state, const Size& s) {
  state.counters["MP/s"] =
      benchmark::Counter(double(s.w) * s.h * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

void DecodeOurs(benchmark::State& state, Size s) {
  std::vector<uint8_t> jpeg;
  if (!media::EncodeJpeg(Scene(s), kQuality, jpeg)) return state.SkipWithError("encode failed");
  media::FrameImage out;
  for (auto _ : state) {
    if (!media::DecodeJpeg(jpeg.data(), jpeg.size(), out)) return state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.pixels.data());
  }
  SetRate(state, s);
}

void DecodeDirect(benchmark::State& state, Size s) {
  std::vector<uint8_t> jpeg;
  if (!media::EncodeJpeg(Scene(s), kQuality, jpeg)) return state.SkipWithError("encode failed");
  tjhandle h = tjInitDecompress();
  std::vector<uint8_t> out(size_t(s.w) * s.h * 3);
  int w = 0, hgt = 0, samp = 0, cs = 0;
  for (auto _ : state) {
    // Any caller must read the header to learn the size, so that is part of the work.
    if (tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &w, &hgt, &samp, &cs) != 0 ||
        tjDecompress2(h, jpeg.data(), jpeg.size(), out.data(), w, w * 3, hgt, TJPF_BGR,
                      TJFLAG_BOTTOMUP) != 0) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  tjDestroy(h);
  SetRate(state, s);
}

void EncodeOurs(benchmark::State& state, Size s) {
  const media::FrameImage img = Scene(s);
  std::vector<uint8_t> jpeg;
  for (auto _ : state) {
    if (!media::EncodeJpeg(img, kQuality, jpeg)) return state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(jpeg.data());
  }
  SetRate(state, s);
}

void EncodeDirect(benchmark::State& state, Size s) {
  const media::FrameImage img = Scene(s);
  tjhandle h = tjInitCompress();
  const unsigned long cap = tjBufSize(s.w, s.h, TJSAMP_420);
  unsigned char* buf = tjAlloc(int(cap));
  for (auto _ : state) {
    unsigned long size = cap;
    if (tjCompress2(h, img.pixels.data(), s.w, s.w * 3, s.h, TJPF_BGR, &buf, &size, TJSAMP_420, kQuality,
                    TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC) != 0) {
      state.SkipWithError("encode failed");
      break;
    }
    benchmark::DoNotOptimize(buf);
  }
  tjFree(buf);
  tjDestroy(h);
  SetRate(state, s);
}

// Shows the usual console table and keeps the median CPU time per iteration of each
// benchmark; CPU time and the median keep other load on the machine out of the ratio.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && !run.error_occurred)
        times_[run.run_name.function_name] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  // Throughput ratio ours/direct, or a negative value when a run is missing.
  double Ratio(const std::string& op, const std::string& size) const {
    const auto ours = times_.find(op + "/ours/" + size);
    const auto direct = times_.find(op + "/direct/" + size);
    if (ours == times_.end() || direct == times_.end() || ours->second <= 0) return -1;
    return direct->second / ours->second;
  }

 private:
  std::map<std::string, double> times_;
};

void Configure(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)->MinTime(0.2);
}

}  // namespace

int main(int argc, char** argv) {
  for (const Size& s : kSizes) {
    const std::string n = s.Name();
    benchmark::RegisterBenchmark(("decode/direct/" + n).c_str(), DecodeDirect, s)->Apply(Configure);
    benchmark::RegisterBenchmark(("decode/ours/" + n).c_str(), DecodeOurs, s)->Apply(Configure);
    benchmark::RegisterBenchmark(("encode/direct/" + n).c_str(), EncodeDirect, s)->Apply(Configure);
    benchmark::RegisterBenchmark(("encode/ours/" + n).c_str(), EncodeOurs, s)->Apply(Configure);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\n");
  for (const char* op : {"decode", "encode"})
    for (const Size& s : kSizes) {
      const double r = reporter.Ratio(op, s.Name());
      if (r < 0)
        std::printf("ratio %s %s: n/a\n", op, s.Name().c_str());
      else
        std::printf("ratio %s %s: %.2f%s\n", op, s.Name().c_str(), r, r >= 0.95 ? "" : "  (below 0.95)");
    }
  return 0;
}
