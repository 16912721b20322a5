#include "platform/timecode.h"

#include <vector>

namespace platform {

std::string ExpandTimeCodes(const std::string& templ, std::time_t when) {
  if (templ.empty()) return templ;
  std::tm local{};
  if (!localtime_r(&when, &local)) return templ;
  std::vector<char> buffer(templ.size() + 1024);
  const size_t n = std::strftime(buffer.data(), buffer.size(), templ.c_str(), &local);
  // strftime gives 0 both when the result does not fit and when it is empty;
  // either way an empty path or text would be useless, so keep the template.
  if (n == 0) return templ;
  return std::string(buffer.data(), n);
}

std::string ExpandTimeCodes(const std::string& templ) { return ExpandTimeCodes(templ, std::time(nullptr)); }

}  // namespace platform
