#pragma once
// The rules of the source dialogs: which camera addresses are taken, when the
// user is asked whether an address delivers a motion-JPEG push stream, and how
// the answer decides pushStream.
#include <cstdint>
#include <string>
#include <string_view>

namespace recorder::camera {

inline constexpr const char* kInvalidUrlCaption = "Invalid URL";
inline constexpr const char* kStreamQuestion =
    "No JPEG extension found, is this a url to the MJPEG stream?\n(also known as CGI push mode)";
inline constexpr const char* kStreamQuestionCaption = "MJPEG CGI Url?";

enum class UrlVerdict {
  Refused,    // not http://, ftp://, rtsp:// or rtsps://: tell kBadUrlMessage with kInvalidUrlCaption
  Passed,     // taken without a question
  AskStream,  // taken once the stream question is answered (Answer)
};

// The URL check of one source dialog. It remembers the address the stream
// question was last asked for and the answer, so that confirming an address
// does not ask twice and a changed address is asked about again.
class UrlCheck {
 public:
  // ftp://, rtsp:// and rtsps:// pass; http:// passes when it equals the last asked address exactly or
  // ends in .jpg or .jpeg (case-insensitively, after some name); any other http://
  // address becomes the last asked one and asks. Schemes compare case-insensitively.
  UrlVerdict Check(std::string_view url);
  // The user's answer for the last asked address (true: it is a stream).
  void Answer(bool stream) { stream_ = stream; }
  // pushStream for an accepted address: 1 only for the last asked address answered with yes.
  int32_t PushStreamFor(std::string_view url) const { return stream_ && url == lastAsked_ ? 1 : 0; }

 private:
  std::string lastAsked_;
  bool stream_ = false;
};

}  // namespace recorder::camera
