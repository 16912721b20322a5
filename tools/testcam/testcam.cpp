// Test camera: serves generated JPEG pictures over HTTP on 127.0.0.1 for tests,
// demos and benchmarks.
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/ascii.h"
#include "tools/testcam/testcam_server.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: testcam [--port N] [--port-file F] [--width W] [--height H] [--fps F]\n"
               "               [--motion] [--noise] [--quality Q] [--frame-limit N]\n"
               "               [--auth user:pass] [--mode MODE] [--stall-after N]\n"
               "               [--html-status 200|500] [--log FILE] [--duration SECONDS]\n"
               "modes: normal refuse close-mid-frame stall html-error garbage oversized thumbnail undecodable\n"
               "endpoints: /image.jpg (snapshot), /video.mjpg or /video (push stream)\n");
}

bool ParseInt(const char* text, long lo, long hi, long* out) {
  const std::optional<int64_t> v = platform::ascii::ParseWhole(text);
  if (!v || *v < lo || *v > hi) return false;
  *out = long(*v);
  return true;
}

bool ParseDouble(const char* text, double lo, double hi, double* out) {
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !(v >= lo && v <= hi)) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  testcam::Options options;
  std::string portFile, logFile;
  double duration = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "testcam: %s needs a value\n", name);
        std::exit(2);
      }
      return argv[++i];
    };
    long n = 0;
    if (arg == "--port") {
      if (!ParseInt(value("--port"), 0, 65535, &n)) return Usage(), 2;
      options.port = static_cast<uint16_t>(n);
    } else if (arg == "--port-file") {
      portFile = value("--port-file");
    } else if (arg == "--width") {
      if (!ParseInt(value("--width"), 8, 8192, &n)) return Usage(), 2;
      options.width = static_cast<int>(n);
    } else if (arg == "--height") {
      if (!ParseInt(value("--height"), 8, 8192, &n)) return Usage(), 2;
      options.height = static_cast<int>(n);
    } else if (arg == "--fps") {
      if (!ParseDouble(value("--fps"), 0.1, 1000, &options.fps)) return Usage(), 2;
    } else if (arg == "--motion") {
      options.motion = true;
    } else if (arg == "--noise") {
      options.noise = true;
    } else if (arg == "--quality") {
      if (!ParseInt(value("--quality"), 1, 100, &n)) return Usage(), 2;
      options.quality = static_cast<int>(n);
    } else if (arg == "--frame-limit") {
      if (!ParseInt(value("--frame-limit"), 0, 1000000000, &n)) return Usage(), 2;
      options.frameLimit = static_cast<int>(n);
    } else if (arg == "--auth") {
      options.auth = value("--auth");
      if (options.auth.find(':') == std::string::npos) return Usage(), 2;
    } else if (arg == "--mode") {
      if (!testcam::ParseMode(value("--mode"), &options.mode)) return Usage(), 2;
    } else if (arg == "--stall-after") {
      if (!ParseInt(value("--stall-after"), 0, 1000000000, &n)) return Usage(), 2;
      options.stallAfter = static_cast<int>(n);
    } else if (arg == "--html-status") {
      if (!ParseInt(value("--html-status"), 100, 599, &n)) return Usage(), 2;
      options.htmlStatus = static_cast<int>(n);
    } else if (arg == "--log") {
      logFile = value("--log");
    } else if (arg == "--duration") {
      if (!ParseDouble(value("--duration"), 0, 1e7, &duration)) return Usage(), 2;
    } else if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    } else {
      std::fprintf(stderr, "testcam: unknown option %s\n", arg.c_str());
      Usage();
      return 2;
    }
  }

  // Signals are taken synchronously by the main thread; the server's threads never see them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  testcam::Server server(options);
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "testcam: %s\n", error.c_str());
    return 1;
  }
  if (!portFile.empty()) {
    // Written under a temporary name and renamed so a reader never sees half a number.
    std::string tmp = portFile + ".tmp";
    {
      std::ofstream f(tmp, std::ios::trunc);
      f << server.Port() << "\n";
    }
    if (std::rename(tmp.c_str(), portFile.c_str()) != 0) {
      std::fprintf(stderr, "testcam: cannot write %s\n", portFile.c_str());
      return 1;
    }
  }
  std::printf("PORT %u\n", static_cast<unsigned>(server.Port()));
  std::fflush(stdout);

  size_t logged = 0;
  auto flushLog = [&] {
    if (logFile.empty()) return;
    std::vector<std::string> requests = server.RequestLog();
    if (requests.size() <= logged) return;
    std::ofstream f(logFile, std::ios::app | std::ios::binary);
    for (; logged < requests.size(); ++logged) f << requests[logged];
  };

  auto start = std::chrono::steady_clock::now();
  for (;;) {
    timespec wait{0, 200 * 1000 * 1000};
    int sig = sigtimedwait(&signals, nullptr, &wait);
    flushLog();
    if (sig == SIGINT || sig == SIGTERM) break;
    if (duration > 0 &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= duration)
      break;
  }
  server.Stop();
  flushLog();
  std::printf("FRAMES %llu CONNECTIONS %zu REQUESTS %zu\n",
              static_cast<unsigned long long>(server.FramesServed()), server.ConnectionCount(),
              server.RequestLog().size());
  std::fflush(stdout);
  return 0;
}
