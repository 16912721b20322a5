// Per-frame cost of a camera worker: decode, flips, quarter turn, motion, overlay,
// encode and append to an MJPG file, against decode + encode alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "recorder/camera/camera_record.h"
#include "media/mjpg.h"
#include "recorder/frame/frame_pipeline.h"
#include "media/jpeg_codec.h"

using namespace recorder;

namespace {

// A picture with detail everywhere, so the codec does real work.
std::vector<uint8_t> SourceJpeg(int w, int h, uint32_t seed) {
  media::FrameImage img;
  img.width = w, img.height = h, img.bitsPerPixel = 24;
  img.pixels.resize(img.Size());
  uint32_t s = seed;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      s = s * 1664525u + 1013904223u;
      uint8_t* p = img.pixels.data() + (size_t(y) * w + x) * 3;
      p[0] = uint8_t((x * 255) / w + (s >> 29));
      p[1] = uint8_t((y * 255) / h + (s >> 28));
      p[2] = uint8_t(((x + y) & 0xFF) ^ (s >> 30));
    }
  std::vector<uint8_t> jpeg;
  media::EncodeJpeg(img, 75, jpeg);
  return jpeg;
}

camera::CameraRecord BenchCamera() {
  camera::CameraRecord cam;
  cam.flipHorizontal = 1;
  cam.flipVertical = 1;
  cam.rotation = 1;
  cam.motionEnabled = 1;
  cam.overlayEnabled = 1;
  cam.overlayBackground = 3;  // outline: seven text passes, the dearest mode
  cam.overlayFont = camera::DefaultOverlayFont();
  camera::SetText(cam.overlayText, "%a %m/%d/%y (%I:%M:%S %p)");
  return cam;
}

// Appends to a scratch MJPG file that is emptied now and then so the disk stays small.
class ScratchFile {
 public:
  ScratchFile() {
    char path[] = "/tmp/bench_pipeline_XXXXXX";
    fd_ = mkstemp(path);
    if (fd_ >= 0) {
      unlink(path);
      fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_APPEND);
    }
  }
  ~ScratchFile() {
    if (fd_ >= 0) close(fd_);
  }
  bool Append(const std::vector<uint8_t>& jpeg) {
    if (++count_ % 200 == 0 && ftruncate(fd_, 0) != 0) return false;
    return media::mjpg::WriteFrame(fd_, jpeg.data(), jpeg.size(), uint32_t(std::time(nullptr))) == media::mjpg::WriteResult::Ok;
  }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  long count_ = 0;
};

void BM_Pipeline(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  // Two alternating pictures so that motion measurement compares real differences.
  const std::vector<uint8_t> sources[2] = {SourceJpeg(w, h, 1), SourceJpeg(w, h, 2)};
  const camera::CameraRecord cam = BenchCamera();
  frame::MotionDetector detector;
  ScratchFile file;
  if (!file.ok()) {
    state.SkipWithError("no scratch file");
    return;
  }
  size_t k = 0;
  for (auto _ : state) {
    const auto& src = sources[k++ & 1];
    media::FrameRecord record;
    if (!media::DecodeJpeg(src.data(), src.size(), record.image)) {
      state.SkipWithError("decode failed");
      return;
    }
    const auto result = frame::RunFramePipeline(record, cam, detector);
    benchmark::DoNotOptimize(result);
    std::vector<uint8_t> jpeg;
    if (!media::EncodeJpeg(record.image, cam.jpegQuality, jpeg) || !file.Append(jpeg)) {
      state.SkipWithError("encode or write failed");
      return;
    }
  }
}

// The same camera on YUV planes: decode to planes, flips, turn, motion on Y,
// overlay blended into the planes, encode from them.
void BM_PipelineYuv(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const std::vector<uint8_t> sources[2] = {SourceJpeg(w, h, 1), SourceJpeg(w, h, 2)};
  const camera::CameraRecord cam = BenchCamera();
  frame::MotionDetector detector;
  ScratchFile file;
  if (!file.ok()) {
    state.SkipWithError("no scratch file");
    return;
  }
  size_t k = 0;
  media::FrameRecord record;
  for (auto _ : state) {
    const auto& src = sources[k++ & 1];
    if (!media::DecodeJpegYuv(src.data(), src.size(), record.yuv)) {
      state.SkipWithError("decode failed");
      return;
    }
    const auto result = frame::RunFramePipeline(record, cam, detector);
    benchmark::DoNotOptimize(result);
    std::vector<uint8_t> jpeg;
    if (!media::EncodeJpegYuv(record.yuv, cam.jpegQuality, jpeg) || !file.Append(jpeg)) {
      state.SkipWithError("encode or write failed");
      return;
    }
  }
}

// A picture stored as sent: the luma decoded for motion, the camera's bytes
// appended with their time stamp.
void BM_StoredAsSent(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const std::vector<uint8_t> sources[2] = {SourceJpeg(w, h, 1), SourceJpeg(w, h, 2)};
  camera::CameraRecord cam;
  cam.motionEnabled = 1;
  cam.overlayEnabled = 0;
  frame::MotionDetector detector;
  ScratchFile file;
  if (!file.ok()) {
    state.SkipWithError("no scratch file");
    return;
  }
  size_t k = 0;
  media::FrameRecord record;
  for (auto _ : state) {
    const auto& src = sources[k++ & 1];
    size_t length = src.size(), position = 0;
    if (!media::mjpg::StampPosition(src.data(), length, position) ||
        !media::DecodeJpegLuma(src.data(), length, record.yuv)) {
      state.SkipWithError("not storable");
      return;
    }
    record.jpeg = std::make_shared<const std::vector<uint8_t>>(src);
    const auto result = frame::RunFramePipeline(record, cam, detector);
    benchmark::DoNotOptimize(result);
    if (!file.Append(*record.jpeg)) {
      state.SkipWithError("write failed");
      return;
    }
  }
}

void BM_DecodeEncode(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const std::vector<uint8_t> sources[2] = {SourceJpeg(w, h, 1), SourceJpeg(w, h, 2)};
  size_t k = 0;
  for (auto _ : state) {
    const auto& src = sources[k++ & 1];
    media::FrameImage img;
    std::vector<uint8_t> jpeg;
    if (!media::DecodeJpeg(src.data(), src.size(), img) || !media::EncodeJpeg(img, 75, jpeg)) {
      state.SkipWithError("codec failed");
      return;
    }
    benchmark::DoNotOptimize(jpeg.data());
  }
}

// Each stage alone on a decoded picture, to see where the time goes.
void BM_Stage(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1)), stage = int(state.range(2));
  const std::vector<uint8_t> src = SourceJpeg(w, h, 1);
  media::FrameImage base;
  media::DecodeJpeg(src.data(), src.size(), base);
  camera::CameraRecord cam = BenchCamera();
  cam.flipHorizontal = stage == 0;
  cam.flipVertical = stage == 1;
  cam.rotation = stage == 2 ? 1 : 0;
  cam.motionEnabled = stage == 3;
  cam.overlayEnabled = stage == 4;
  frame::MotionDetector detector;
  media::FrameRecord record;
  record.image = base;
  for (auto _ : state) {
    benchmark::DoNotOptimize(frame::RunFramePipeline(record, cam, detector));
  }
  static const char* const kNames[] = {"flipH", "flipV", "rotate90", "motion", "overlay"};
  state.SetLabel(kNames[stage]);
}

BENCHMARK(BM_Stage)->ArgsProduct({{1920}, {1080}, {0, 1, 2, 3, 4}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pipeline)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipelineYuv)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoredAsSent)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeEncode)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

// Prints the runs as usual and remembers their times for the ratio line.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // Single runs, or the median when repetitions are asked for.
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      const std::string name = run.run_name.str();
      real_[name] = run.GetAdjustedRealTime();
      cpu_[name] = run.GetAdjustedCPUTime();
    }
  }
  void PrintRatios() const {
    for (const char* size : {"640/480", "1920/1080"}) {
      const std::string p = std::string("BM_Pipeline/") + size, c = std::string("BM_DecodeEncode/") + size;
      if (!real_.count(p) || !real_.count(c) || real_.at(c) <= 0 || cpu_.at(c) <= 0) continue;
      // CPU time is shown too: on a busy machine it is the steadier of the two.
      std::printf("pipeline / (decode+encode) at %s: %.2f ms / %.2f ms = %.2f real, %.2f cpu (goal <= 1.3)\n", size,
                  real_.at(p), real_.at(c), real_.at(p) / real_.at(c), cpu_.at(p) / cpu_.at(c));
      for (const char* other : {"BM_PipelineYuv/", "BM_StoredAsSent/"}) {
        const std::string o = std::string(other) + size;
        if (!cpu_.count(o) || cpu_.at(p) <= 0) continue;
        std::printf("%s / RGB pipeline at %s: %.2f ms / %.2f ms = %.2f cpu\n", other, size, cpu_.at(o), cpu_.at(p),
                    cpu_.at(o) / cpu_.at(p));
      }
    }
  }

 private:
  std::map<std::string, double> real_, cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  // Text needs a font database, which needs a GUI application (offscreen is enough).
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
