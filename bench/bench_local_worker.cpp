// A local camera worker recording the scripted test pattern camera at 640 x 480
// with frameDelayMs 0, next to a network camera worker recording a 640 x 480
// push stream from the in-process test camera: frames saved per second and the
// worker thread's CPU milliseconds per frame, counted between health reports
// over a steady stretch after a warm-up. Both record with motion off and the overlay on, into MJPG.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <unistd.h>

#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/window_registry.h"
#include "recorder/camera/camera_record.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"
#include "recorder/capture/scripted_service.h"
#include "recorder/capture/thread_dx_cam.h"
#include "recorder/net/soc_thread.h"
#include "tools/testcam/testcam_server.h"

using namespace recorder;

namespace {

constexpr auto kWarmUp = std::chrono::milliseconds(1000);
constexpr auto kSpan = std::chrono::milliseconds(5000);

std::set<long> Tasks() {
  std::set<long> tids;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (const dirent* e = readdir(dir))
      if (e->d_name[0] != '.') tids.insert(std::atol(e->d_name));
    closedir(dir);
  }
  return tids;
}

// User plus system CPU time of one thread of this process, in milliseconds.
double ThreadCpuMs(long tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {  // field 3 is the state
    if (i == 14) utime = std::stoll(field);
    if (i == 15) {
      stime = std::stoll(field);
      break;
    }
  }
  return double(utime + stime) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

std::unique_ptr<camera::CameraRecord> RecordingCamera(const std::string& savePath) {
  auto cam = camera::CreateDefaultCamera();
  camera::SetText(cam->savePath, savePath);
  cam->frameDelayMs = 0;
  cam->motionEnabled = 0;
  cam->overlayEnabled = 1;
  return cam;
}

// One health report of the worker as the main window received it, with the
// worker thread's CPU time at that moment.
struct Sample {
  int64_t framesSaved = 0;
  std::chrono::steady_clock::time_point when;
  double cpuMs = 0;
};

// Starts a worker that reports to `main`, finds its thread, and measures it between
// its first health report after the warm-up and its last within the stretch.
template <class StartWorker>
void Measure(benchmark::State& state, const std::string& path, StartWorker start) {
  platform::CollectingWindowTarget main;
  const platform::WindowHandle window = platform::RegisterWindow(&main);
  for (auto _ : state) {
    const std::set<long> before = Tasks();
    platform::ThreadHandlePtr worker = start(window);
    if (!worker) {
      state.SkipWithError("the worker did not start");
      break;
    }
    long tid = 0;
    for (int tries = 0; tries < 100 && tid == 0; ++tries) {
      for (long t : Tasks())
        if (!before.count(t)) tid = t;
      if (tid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto begin = std::chrono::steady_clock::now();
    std::vector<Sample> samples;
    while (std::chrono::steady_clock::now() - begin < kWarmUp + kSpan) {
      for (auto& m : main.TakeAll()) {
        const auto* health = platform::Peek<camera::to_main_window::WorkerHealthReport>(m);
        if (!health) continue;
        const auto now = std::chrono::steady_clock::now();
        if (now - begin >= kWarmUp) samples.push_back({health->framesSaved, now, ThreadCpuMs(tid)});
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    platform::Post<camera::to_worker::ThreadStop>(worker->Id(), camera::kStopReasonDiscard);
    worker->Wait(25000);
    std::filesystem::remove(path);
    if (samples.size() < 2) {
      state.SkipWithError("too few health reports");
      break;
    }
    const Sample& a = samples.front();
    const Sample& b = samples.back();
    const double frames = double(b.framesSaved - a.framesSaved);
    const double seconds = std::chrono::duration<double>(b.when - a.when).count();
    state.counters["frames_per_s"] = frames / seconds;
    state.counters["cpu_ms_per_frame"] = frames > 0 ? (b.cpuMs - a.cpuMs) / frames : 0;
  }
  platform::UnregisterWindow(window);
}

std::string ScratchPath(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string(name) + "-" + std::to_string(getpid()) + ".mjpg"))
      .string();
}

void BM_LocalWorker640x480(benchmark::State& state) {
  const std::string path = ScratchPath("bench_local_worker");
  auto service = capture::ScriptedService::TestPatternCamera();
  Measure(state, path, [&](platform::WindowHandle main) {
    worker::WorkerParams params;
    params.mainWindow = main;
    params.record = RecordingCamera(path);
    params.record->cameraType = camera::kCameraLocal;
    params.record->formatWidth = 640;
    params.record->formatHeight = 480;
    params.record->formatBits = 24;
    return capture::CThreadDXCam::Start(std::move(params), {}, service);
  });
}
BENCHMARK(BM_LocalWorker640x480)->Iterations(1)->Unit(benchmark::kSecond);

void BM_NetworkWorker640x480(benchmark::State& state) {
  const std::string path = ScratchPath("bench_network_worker");
  testcam::Options options;
  options.width = 640;
  options.height = 480;
  options.fps = 1000;
  options.motion = true;
  testcam::Server server(options);
  if (!server.Start()) {
    state.SkipWithError("the test camera did not start");
    return;
  }
  Measure(state, path, [&](platform::WindowHandle main) {
    worker::WorkerParams params;
    params.mainWindow = main;
    params.record = RecordingCamera(path);
    camera::SetText(params.record->url, server.Url("video.mjpg"));
    params.record->pushStream = 1;
    return net::CSocThread::Start(std::move(params));
  });
  server.Stop();
}
BENCHMARK(BM_NetworkWorker640x480)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  // The overlay needs a font database, which needs a GUI application (offscreen is enough).
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
