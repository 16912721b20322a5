#include "player/still_export.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/replacement_file.h"

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

StillSave SaveStill(const std::vector<uint8_t>& jpeg, const std::string& path, std::string* reason) {
  platform::ReplacementFile file;
  int error = 0;
  const auto failed = [&](StillSave result) {
    if (reason) *reason = path + ": " + platform::ReplacementErrorText(error);
    return result;
  };
  if (!file.Create(path, &error)) return failed(StillSave::CreateFailed);
  if (!jpeg.empty() && !platform::WriteAll(file.Fd(), jpeg.data(), jpeg.size())) {
    error = errno ? errno : EIO;
    return failed(StillSave::WriteFailed);  // the temporary file goes with `file`
  }
  if (!file.Commit(&error)) return failed(StillSave::WriteFailed);
  return StillSave::Saved;
}

}  // namespace player
