// RTSP cameras recorded by the real camera worker, against GStreamer's RTSP test
// camera (each camera its own process, so the figures below are the recorder's alone):
//
// 1. CPU per saved frame, one 1920x1080 H.264 camera at 10 fps with motion
//    detection, the overlay and MJPG saving, against
//    `ffmpeg -rtsp_transport tcp -i URL -c:v mjpeg -f mjpeg out` doing the same
//    decode and JPEG encode for the same time. Ratio ours / ffmpeg, goal <= 1.0.
// 2. Eight 1280x720 H.264 cameras at 10 fps for a minute, every picture saved:
//    pictures served by the cameras against pictures decoded and saved, cores
//    used and the peak resident memory. Goals: none lost, < 1 core, < 400 MB.
//
//   bench_rtsp_worker [seconds for 1, default 20] [seconds for 2, default 60]
#include <QGuiApplication>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "media/mjpg.h"
#include "platform/window_registry.h"
#include "recorder/camera/camera_record.h"
#include "recorder/camera/events.h"
#include "recorder/camera/messages.h"
#include "recorder/frame/alarm_sound.h"
#include "recorder/net/rtsp_thread.h"
#include "tools/rtspcam/rtspcam_process.h"
#include "bench/cpu_time.h"

extern char** environ;

namespace {

using namespace recorder;
using Clock = std::chrono::steady_clock;

using bench::CpuSeconds;
using bench::OwnCpu;

// Peak resident memory of this process in MB.
double PeakRssMb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}

size_t SavedFrames(const std::string& path) {
  std::vector<media::mjpg::FrameSpan> frames;
  media::mjpg::ReadAllFrames(path, frames);
  return frames.size();
}

long ServedPictures(const std::string& countFile) {
  std::ifstream in(countFile);
  long n = -1;
  in >> n;
  return n;
}

class SilentPlayer : public frame::SoundPlayer {
 public:
  void Play(const std::string&) override {}
};

struct Worker {
  std::string path;
  platform::ThreadHandlePtr handle;
};

Worker StartWorker(const std::string& url, const std::string& path, bool motionAndOverlay,
                   platform::WindowHandle window) {
  auto cam = camera::CreateDefaultCamera();
  camera::SetText(cam->url, url);
  camera::SetText(cam->savePath, path);
  cam->frameDelayMs = 0;
  cam->saveAsMjpg = 1;
  if (motionAndOverlay) {
    // Motion decides what is saved: the moving ball triggers it at once and every
    // frame after the first trigger is saved.
    cam->motionEnabled = 1;
    cam->motionTriggerLevel = 1;
    cam->frameSaveCount = 1 << 30;
    cam->overlayEnabled = 1;
    camera::SetText(cam->overlayText, "Camera 1 %Y-%m-%d %H:%M:%S");
  } else {
    cam->motionEnabled = 0;  // every picture saved: saved = decoded
  }
  worker::WorkerParams params;
  params.record = std::move(cam);
  params.mainWindow = window;
  params.soundPlayer = std::make_shared<SilentPlayer>();
  return {path, net::RtspCamThread::Start(std::move(params))};
}

void StopWorker(Worker& w) {
  if (!w.handle) return;
  platform::Post<camera::to_worker::ThreadStop>(w.handle->Id(), camera::kStopReasonStop);
  w.handle->Wait(10000);
}

bool WaitForFrames(const std::vector<Worker>& workers, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < end) {
    bool all = true;
    for (const Worker& w : workers) all = all && std::filesystem::exists(w.path) && SavedFrames(w.path) > 0;
    if (all) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

struct FfmpegRun {
  double cpu = 0;
  size_t frames = 0;
  bool ok = false;
};

FfmpegRun RunFfmpeg(const std::string& url, int seconds, const std::string& out) {
  FfmpegRun r;
  std::vector<std::string> args = {"/usr/bin/ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "fatal",
                                   "-rtsp_transport", "tcp", "-i", url, "-t", std::to_string(seconds),
                                   "-c:v", "mjpeg", "-f", "mjpeg", "-y", out};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return r;
  int status = 0;
  rusage u{};
  wait4(pid, &status, 0, &u);
  r.cpu = CpuSeconds(u);
  r.frames = SavedFrames(out);
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

struct Scene {
  const char* name;
  const char* pattern;
  int kbps;
};

int OneCamera(int seconds, const std::string& dir, platform::WindowHandle window, const Scene& scene) {
  rtspcam::Config config;
  config.codec = "h264";
  config.width = 1920;
  config.height = 1080;
  config.fps = 10;
  config.profile = "high";  // what most cameras send
  config.pattern = scene.pattern;
  config.kbps = scene.kbps;
  rtspcam::Process camera(config);
  std::string error;
  if (!camera.Start(&error)) {
    std::fprintf(stderr, "bench_rtsp_worker: %s\n", error.c_str());
    return 1;
  }
  std::printf("1. One H.264 1920x1080 camera at 10 fps (high profile, key frame every second), RTP over TCP,\n"
              "   %s, motion detection + overlay + MJPG saving, %d s\n", scene.name, seconds);
  Worker w = StartWorker(camera.Url(), dir + "/" + scene.pattern + "/video.mjpg", true, window);
  if (!WaitForFrames({w}, 20000)) {
    std::printf("   the worker saved nothing\n");
    StopWorker(w);
    return 1;
  }
  const size_t frames0 = SavedFrames(w.path);
  const double cpu0 = OwnCpu();
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = OwnCpu() - cpu0;
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  StopWorker(w);
  const size_t saved = SavedFrames(w.path) - frames0;

  const FfmpegRun ff = RunFfmpeg(camera.Url(), seconds, dir + "/ffmpeg-" + scene.pattern + ".mjpg");
  const double ours = saved ? 1000.0 * cpu / double(saved) : 0;
  const double theirs = ff.frames ? 1000.0 * ff.cpu / double(ff.frames) : 0;
  std::printf("   tollan worker : %5zu frames saved, %6.2f ms CPU/frame, %5.1f %% of a core\n", saved, ours,
              100.0 * cpu / wall);
  std::printf("   ffmpeg mjpeg  : %5zu frames saved, %6.2f ms CPU/frame%s\n", ff.frames, theirs,
              ff.ok ? "" : " (ffmpeg failed)");
  if (theirs > 0) std::printf("   ratio ours / ffmpeg = %.2f (goal <= 1.0)\n", ours / theirs);
  return 0;
}

int EightCameras(int seconds, const std::string& dir, platform::WindowHandle window) {
  constexpr int kCameras = 8;
  std::vector<std::unique_ptr<rtspcam::Process>> cameras;
  for (int i = 0; i < kCameras; ++i) {
    rtspcam::Config config;
    config.codec = "h264";
    config.width = 1280;
    config.height = 720;
    config.fps = 10;
    config.countFile = dir + "/served" + std::to_string(i);
    cameras.push_back(std::make_unique<rtspcam::Process>(config));
    std::string error;
    if (!cameras.back()->Start(&error)) {
      std::fprintf(stderr, "bench_rtsp_worker: %s\n", error.c_str());
      return 1;
    }
  }
  std::printf("2. Eight H.264 1280x720 cameras at 10 fps, RTP over TCP, every picture saved, %d s\n", seconds);
  std::vector<Worker> workers;
  const double cpu0 = OwnCpu();
  const auto start = Clock::now();
  for (int i = 0; i < kCameras; ++i)
    workers.push_back(StartWorker(cameras[i]->Url(), dir + "/cam" + std::to_string(i) + "/video.mjpg", false, window));
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  // The cameras stop making pictures; what they made is still sent, decoded, then counted.
  for (auto& c : cameras) c->EndCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const double cpu = OwnCpu() - cpu0;  // the 1.5 s drain is counted too
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double rss = PeakRssMb();
  for (auto& w : workers) StopWorker(w);
  long served = 0, decoded = 0, heldBack = 0, lost = 0;
  for (int i = 0; i < kCameras; ++i) {
    const long s = ServedPictures(dir + "/served" + std::to_string(i));
    const long d = long(SavedFrames(workers[i].path));
    served += s;
    decoded += d;
    // The reader joins the pieces of a picture by time stamp, so the last picture
    // served waits in it for the first piece of the next: one per camera that ended.
    const long missing = s - d;
    heldBack += missing > 0 ? 1 : 0;
    lost += missing > 0 ? missing - 1 : 0;
    std::printf("   camera %d: %ld served, %ld decoded and saved\n", i, s, d);
  }
  std::printf("   total: %ld served, %ld decoded; %ld lost (goal 0), %ld the last picture of a camera that ended\n",
              served, decoded, lost, heldBack);
  std::printf("   CPU %.2f cores (goal < 1), peak resident memory %.0f MB (goal < 400)\n", cpu / wall, rss);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  // The overlay's text needs a font database, which needs a GUI application (offscreen is enough).
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);
  const int oneSeconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
  const int eightSeconds = argc > 2 ? std::max(2, std::atoi(argv[2])) : 60;
  if (std::string why = rtspcam::Unavailable(); !why.empty()) {
    std::printf("bench_rtsp_worker skipped: %s\n", why.c_str());
    return 0;
  }
  char dirTemplate[] = "/tmp/bench_rtsp_worker.XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  platform::CollectingWindowTarget main;  // statuses and health reports, unread
  const platform::WindowHandle window = platform::RegisterWindow(&main);
  // A quiet scene (a ball on black) and a busy one (noise at 4 Mbit/s): the busy one
  // costs far more to decode and to encode as JPEG.
  const Scene scenes[] = {{"quiet scene (ball on black)", "ball", 0}, {"busy scene (noise, 4 Mbit/s)", "snow", 4000}};
  int rc = 0;
  for (const Scene& scene : scenes)
    if (rc == 0) rc = OneCamera(oneSeconds, dir, window, scene);
  if (rc == 0) rc = EightCameras(eightSeconds, dir, window);
  platform::UnregisterWindow(window);
  std::filesystem::remove_all(dir);
  return rc;
}
