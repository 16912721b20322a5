// Motion measurement cost per frame, with a picture that changes on every call.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "recorder/frame/motion_detector.h"

using namespace recorder;

namespace {

void BM_Measure(benchmark::State& state) {
  const int w = int(state.range(0));
  const int h = int(state.range(1));
  const size_t n = size_t(w) * h * 3;
  std::vector<uint8_t> a(n), b(n);
  std::mt19937 rng(1);
  for (size_t i = 0; i < n; ++i) {
    a[i] = uint8_t(rng());
    b[i] = uint8_t(a[i] ^ (rng() & 0x3f));
  }
  frame::MotionDetector d;
  d.Measure(a.data(), n, w, h, 20);
  bool flip = false;
  for (auto _ : state) {
    const std::vector<uint8_t>& f = flip ? a : b;
    flip = !flip;
    benchmark::DoNotOptimize(d.Measure(f.data(), f.size(), w, h, 20));
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_Measure)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
