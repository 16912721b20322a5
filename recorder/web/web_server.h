#pragma once
// The recorder's HTTP server for live pictures: the camera wall page, each
// camera's MJPEG stream and latest picture, and a status summary. Built on GNU
// libmicrohttpd, one thread per connection, so a viewer that reads slowly or not
// at all holds only its own thread and the one picture it is sending; cameras
// never wait for viewers.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "recorder/web/live_camera.h"
#include "recorder/web/serve_settings.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace recorder::web {

class WebServer {
 public:
  static constexpr int kMaxClients = 32;  // open connections; the next is answered 503
  static constexpr int kStreamBlockBytes = 32 * 1024;

  explicit WebServer(std::shared_ptr<LiveBoard> board);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Starts listening; false with a reason (never the password) in error.
  bool Start(const ServeSettings& settings, std::string& error);
  // Ends every stream cleanly (its closing boundary and chunk are sent), then
  // closes every connection. Waits at most about waitMs for streams to finish.
  void Stop(int waitMs = 3000);
  bool Running() const { return daemon_ != nullptr; }
  // The port listened on (the one chosen when the settings asked for port 0).
  uint16_t Port() const { return port_; }

  // Delay before a failed login of the n-th time in a row from one address is answered.
  static int FailedLoginDelayMs(int failures);

  // libmicrohttpd's callbacks (public only for the C trampolines).
  int HandleRequest(MHD_Connection* connection, const char* url, const char* method, void** requestState);
  void NoteConnection(MHD_Connection* connection, void** socketContext, bool started);
  bool Stopping() const { return stopping_.load(); }
  void StreamEnded();
  // Whether the camera is still the one at index in the list.
  bool Listed(size_t index, const std::shared_ptr<LiveCamera>& camera) const;

 private:
  bool CheckLogin(MHD_Connection* connection, int* answer);
  void WaitUnlessStopping(int ms);

  std::shared_ptr<LiveBoard> board_;
  ServeSettings settings_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
  std::string cert_;
  std::string key_;
  std::string nonceSeed_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> openConnections_{0};
  std::atomic<int> openStreams_{0};
  std::mutex mutex_;  // failures_ and the stop wake-up
  std::condition_variable stopWake_;
  std::map<std::string, int> failures_;  // failed logins in a row per client address
};

// The wall page, served at /.
const std::string& WallPage();

}  // namespace recorder::web
