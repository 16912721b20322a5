#pragma once
// Starts, pauses and stops the RTSP test camera (rtspcam.py, GStreamer's RTSP
// server on 127.0.0.1) as a child process, for tests and benchmarks.
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace rtspcam {

struct Config {
  std::string codec = "h264";  // h264, h265 or mjpeg
  int width = 320;
  int height = 240;
  int fps = 10;
  int keyInterval = 0;  // frames between key frames; 0: one per second
  int kbps = 0;         // H.264/H.265 bit rate; 0: from size and rate
  std::string pattern = "ball";  // a white ball moving on black; "snow" is noise
  std::string profile = "baseline";  // H.264 profile: baseline, main or high
  std::string user;     // with password: the camera asks for a login
  std::string password;
  std::string auth = "basic";  // or "digest"
  // When set, the camera keeps the number of pictures it has served in this file,
  // and EndCount() ends the pictures (those on their way are still sent).
  std::string countFile;
  // When set, the camera appends "PLAY" and "TEARDOWN" to this file as clients ask.
  std::string requestLog;
};

// Empty when /usr/bin/python3 can run the camera (GStreamer's RTSP server
// bindings import); otherwise why not.
std::string Unavailable();

class Process {
 public:
  explicit Process(Config config) : config_(std::move(config)) {}
  ~Process() { Stop(); }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts the camera and waits until it listens: on a free port the first time,
  // on the same port again after Stop(), so that a restart ends an outage.
  bool Start(std::string* error = nullptr);
  // Ends the camera (SIGTERM, then SIGKILL when it does not go within 3 s).
  void Stop();
  // A paused camera keeps its connections open and sends nothing: a silent server.
  void Pause();
  void Resume();
  // With a count file: no more pictures are served or counted.
  void EndCount();

  bool Running() const { return pid_ > 0; }
  uint16_t Port() const { return port_; }
  // "rtsp://127.0.0.1:PORT/stream", with "user:password@" when given.
  std::string Url(const std::string& user = "", const std::string& password = "") const;

 private:
  bool StartOnce(std::string* error);

  Config config_;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  bool paused_ = false;
};

}  // namespace rtspcam
