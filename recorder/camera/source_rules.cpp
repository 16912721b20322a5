#include "recorder/camera/source_rules.h"

#include "platform/ascii.h"
#include "recorder/camera/field_table.h"

namespace recorder::camera {

using platform::ascii::EndsWithNoCase;

UrlVerdict UrlCheck::Check(std::string_view url) {
  if (!IsSupportedUrl(url)) return UrlVerdict::Refused;
  // FTP and RTSP addresses name their kind by the scheme: no question.
  if (platform::ascii::Lower(url[0]) == 'f' || IsRtspUrl(url)) return UrlVerdict::Passed;
  if (url == lastAsked_ || EndsWithNoCase(url, ".jpg") || EndsWithNoCase(url, ".jpeg")) return UrlVerdict::Passed;
  lastAsked_ = std::string(url);
  return UrlVerdict::AskStream;
}

}  // namespace recorder::camera
