// Camera addresses: splitting any text into a camera address, building the
// request from it and reading the start of an answer stay inside their inputs;
// a status line kept for the log is short and free of control bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "recorder/net/camera_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const recorder::net::CameraAddress address = recorder::net::ParseCameraUrl(text);
  if (address.isFtp != 0 && address.isFtp != 1) __builtin_trap();
  const std::string request = recorder::net::BuildRequest(address);
  if (request.compare(0, 5, "GET /") != 0 || request.size() < 4 || request.compare(request.size() - 4, 4, "\r\n\r\n") != 0)
    __builtin_trap();
  (void)recorder::net::HostForUrl(address.host);
  (void)recorder::net::Base64Encode(address.userName + ":" + address.password);
  std::string status;
  if (recorder::net::ClassifyAnswer(std::string_view(text), &status) == recorder::net::AnswerStart::Error) {
    if (status.size() > recorder::net::kStatusLineLogLimit) __builtin_trap();
    for (const char c : status)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) __builtin_trap();
  }
  return 0;
}
