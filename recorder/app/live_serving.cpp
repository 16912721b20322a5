#include "recorder/app/live_serving.h"

namespace recorder::app {

std::string LiveServing::Apply() {
  Stop();
  web::ServeSettings serve = web::ReadServeSettings(controller_.programRecords());
  if (!serve.enabled) return {};
  board_ = std::make_shared<web::LiveBoard>();
  controller_.SetLiveBoard(board_);
  server_ = std::make_unique<web::WebServer>(board_);
  std::string error;
  if (!server_->Start(serve, error)) {
    Stop();
    return "Not serving live pictures: " + error;
  }
  serve.port = server_->Port();
  wallUrl_ = serve.WallUrl();
  return "Camera wall: " + wallUrl_;
}

void LiveServing::Stop() {
  if (server_) server_->Stop();
  server_.reset();
  if (board_) controller_.SetLiveBoard(nullptr);
  board_.reset();
  wallUrl_.clear();
}

}  // namespace recorder::app
