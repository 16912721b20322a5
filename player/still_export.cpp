#include "player/still_export.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/files.h"

namespace player {

std::string StillExportPath(const std::string& chosen) {
  const size_t slash = chosen.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : chosen.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
  const char* blanks = " \t\r\n\v\f";
  const size_t first = name.find_first_not_of(blanks);
  name = first == std::string::npos ? "" : name.substr(first, name.find_last_not_of(blanks) - first + 1);
  if (name.empty() || name.find('.') == std::string::npos) name += ".jpg";
  return folder + name;
}

StillSave SaveStill(const std::vector<uint8_t>& jpeg, const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return StillSave::CreateFailed;
  const bool written = jpeg.empty() || platform::WriteAll(fd, jpeg.data(), jpeg.size());
  const bool closed = ::close(fd) == 0;
  return written && closed ? StillSave::Saved : StillSave::WriteFailed;
}

}  // namespace player
