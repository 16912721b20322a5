#include "recorder/recording/save_paths.h"

#include "platform/timecode.h"

namespace recorder::recording {

std::string ExpandSavePath(const std::string& templ) { return platform::ExpandTimeCodes(templ); }

std::string ExpandSavePath(const std::string& templ, std::time_t when) {
  return platform::ExpandTimeCodes(templ, when);
}

}  // namespace recorder::recording
