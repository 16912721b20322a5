#pragma once
// Splitting a camera address and building the HTTP request sent to the camera.
#include <cstdint>
#include <string>

namespace recorder::net {

struct CameraAddress {
  int isFtp = 1;
  uint16_t port = 21;
  std::string userName;
  std::string password;
  std::string host;
  std::string path;  // after the host (and port) and its slash, without that slash
};

CameraAddress ParseCameraUrl(const std::string& url);
std::string BuildRequest(const CameraAddress& address);
// Standard base64 with CR LF after every 76 output characters, as in MIME.
std::string Base64Encode(const std::string& bytes);

}  // namespace recorder::net
