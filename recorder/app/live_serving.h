#pragma once
// Serving live pictures for a recorder, window or headless alike: starts,
// restarts or stops the HTTP server as the controller's program settings say.
#include <memory>
#include <string>

#include "recorder/app/camera_controller.h"
#include "recorder/web/web_server.h"

namespace recorder::app {

class LiveServing {
 public:
  explicit LiveServing(CameraController& controller) : controller_(controller) {}
  ~LiveServing() { Stop(); }

  // Follows the program settings. Returns what to tell the user: "Camera wall:
  // URL", "Not serving live pictures: why" (the recording goes on), or nothing
  // when serving is off.
  std::string Apply();
  // Ends every stream and the server; the cameras stop handing pictures over.
  void Stop();
  bool Serving() const { return server_ != nullptr; }
  // The wall's address while serving, with the port actually listened on.
  const std::string& WallUrl() const { return wallUrl_; }

 private:
  CameraController& controller_;
  std::shared_ptr<web::LiveBoard> board_;
  std::unique_ptr<web::WebServer> server_;
  std::string wallUrl_;
};

}  // namespace recorder::app
