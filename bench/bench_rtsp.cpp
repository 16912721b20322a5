// CPU per decoded picture of one RTSP camera (the GStreamer test camera, H.264
// 1920x1080 at 10 fps, one key frame a second) for one and two decoder threads,
// key frames only, and with the conversion to the 24-bit frame image on top.
// As a reference, ffmpeg's own decoding of the same stream to nothing.
//
//   bench_rtsp [seconds per case, default 10]
//
// The camera runs in another process, so our figures are ours alone.
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "recorder/net/rtsp_reader.h"
#include "tools/rtspcam/rtspcam_process.h"
#include "bench/cpu_time.h"

extern char** environ;

namespace {

using namespace recorder::net;
using Clock = std::chrono::steady_clock;

using bench::CpuSeconds;
using bench::OwnCpu;

struct Case {
  const char* name;
  int threads;
  bool keyFramesOnly;
  bool convert;
};

struct Figures {
  uint64_t pictures = 0;
  double cpu = 0, wall = 0;
  std::string failure;
};

Figures Run(const std::string& url, const Case& c, int seconds) {
  Figures f;
  RtspReader reader;
  RtspOptions options;
  options.decoderThreads = c.threads;
  options.keyFramesOnly = c.keyFramesOnly;
  RtspResult r = reader.Open(url, options);
  if (!r.Ok()) {
    f.failure = r.text;
    return f;
  }
  RtspPicture picture;
  // The first picture waits for a key frame; measuring starts after it.
  if (!(r = reader.ReadPicture(picture)).Ok()) {
    f.failure = r.text;
    return f;
  }
  PictureConverter converter;
  media::FrameImage image;
  const double cpu0 = OwnCpu();
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(seconds);
  while (Clock::now() < end) {
    if (!(r = reader.ReadPicture(picture)).Ok()) {
      f.failure = r.text;
      break;
    }
    if (c.convert) converter.ToFrameImage(picture, image);
    ++f.pictures;
  }
  f.cpu = OwnCpu() - cpu0;
  f.wall = std::chrono::duration<double>(Clock::now() - start).count();
  return f;
}

// ffmpeg decoding the stream to nothing for `seconds`; its CPU from wait4.
Figures RunFfmpeg(const std::string& url, int seconds, int threads) {
  Figures f;
  std::vector<std::string> args = {"/usr/bin/ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "fatal",
                                   "-threads", std::to_string(threads), "-rtsp_transport", "tcp", "-i", url,
                                   "-t", std::to_string(seconds), "-f", "null", "-"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const auto start = Clock::now();
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    f.failure = "cannot run ffmpeg";
    return f;
  }
  int status = 0;
  rusage u{};
  wait4(pid, &status, 0, &u);
  f.wall = std::chrono::duration<double>(Clock::now() - start).count();
  f.cpu = CpuSeconds(u);
  f.pictures = uint64_t(seconds) * 10;  // -t counts stream time at 10 fps
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) f.failure = "ffmpeg failed";
  return f;
}

void Print(const char* name, const Figures& f) {
  if (f.pictures == 0) {
    std::printf("%-34s failed: %s\n", name, f.failure.c_str());
    return;
  }
  std::printf("%-34s %6llu pictures  %6.2f fps  %7.2f ms CPU/picture  %5.1f %% of a core%s%s\n", name,
              static_cast<unsigned long long>(f.pictures), f.pictures / f.wall, 1000.0 * f.cpu / f.pictures,
              100.0 * f.cpu / f.wall, f.failure.empty() ? "" : "  ended: ", f.failure.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  if (std::string why = rtspcam::Unavailable(); !why.empty()) {
    std::printf("bench_rtsp skipped: %s\n", why.c_str());
    return 0;
  }
  const Case cases[] = {
      {"decode, 1 thread", 1, false, false},
      {"decode, 2 threads", 2, false, false},
      {"decode key frames only, 1 thread", 1, true, false},
      {"decode + BGR frame image, 1 thread", 1, false, true},
  };
  // A quiet scene (a ball on black, baseline profile, the camera's default rate) and
  // a busy one as cameras send it (noise, high profile with CABAC and deblocking, 4 Mbit/s).
  const struct {
    const char* name;
    const char* pattern;
    const char* profile;
    int kbps;
  } scenes[] = {{"quiet scene, baseline, 1 Mbit/s", "ball", "baseline", 0},
                {"busy scene, high profile, 4 Mbit/s", "snow", "high", 4000}};
  for (const auto& scene : scenes) {
    rtspcam::Config config;
    config.codec = "h264";
    config.width = 1920;
    config.height = 1080;
    config.fps = 10;
    config.keyInterval = 10;
    config.pattern = scene.pattern;
    config.kbps = scene.kbps;
    config.profile = scene.profile;
    rtspcam::Process camera(config);
    std::string error;
    if (!camera.Start(&error)) {
      std::fprintf(stderr, "bench_rtsp: %s\n", error.c_str());
      return 1;
    }
    std::printf("H.264 1920x1080, 10 fps, key frame every 10 frames, RTP over TCP, %s, %d s per case\n", scene.name,
                seconds);
    for (const Case& c : cases) Print(c.name, Run(camera.Url(), c, seconds));
    Print("ffmpeg -threads 1 ... -f null", RunFfmpeg(camera.Url(), seconds, 1));
  }
  return 0;
}
