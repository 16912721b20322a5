#pragma once
// Splitting a camera address, building the HTTP request sent to the camera and
// reading the status line of its answer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace recorder::net {

struct CameraAddress {
  int isFtp = 1;
  uint16_t port = 21;
  std::string userName;
  std::string password;
  std::string host;  // an IPv6 literal without its brackets
  std::string path;  // after the host (and port) and its slash, without that slash
};

CameraAddress ParseCameraUrl(const std::string& url);
std::string BuildRequest(const CameraAddress& address);
// Standard base64 on one line: a header value must not be wrapped.
std::string Base64Encode(const std::string& bytes);
// The host as it stands in a URL or a Host header: an IPv6 literal in brackets.
std::string HostForUrl(const std::string& host);

// What the first bytes of a camera's answer say about it. Only the status line
// is read; everything else is left to the JPEG cutting.
enum class AnswerStart {
  Undecided,  // too few bytes yet to tell
  NotHttp,    // no "HTTP/" at the start: the bytes are taken as they come
  Success,    // a 2xx status
  Error,      // any other status, or a status line that gives none
};
// Bytes of an answer worth holding to decide: a longer first line is decided
// on what arrived.
constexpr size_t kAnswerHeadLimit = 128;
constexpr size_t kStatusLineLogLimit = 100;
// Decides once the first line is complete or kAnswerHeadLimit bytes are known.
// For Error, *statusLine (when given) receives the first line fit for the log:
// control bytes dropped, at most kStatusLineLogLimit bytes, no split character.
AnswerStart ClassifyAnswer(std::string_view head, std::string* statusLine);

}  // namespace recorder::net
