#include "recorder/camera/settings_check.h"

#include <sys/stat.h>

#include <cstdint>
#include <vector>

#include "platform/bytes.h"
#include "platform/files.h"
#include "recorder/camera/settings_file.h"

namespace recorder::camera {

std::string SettingsFileProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return "No settings file at " + path + "; add a camera with --add-ip first";
  std::vector<uint8_t> bytes;
  switch (platform::ReadWholeFile(path, bytes)) {
    case platform::ReadFileResult::Ok:
      break;
    case platform::ReadFileResult::NotRegularFile:
      return "Settings file is not a regular file: " + path;
    default:
      return "Settings file cannot be read: " + path;
  }
  if (bytes.size() < 8) return "Settings file is damaged (too short): " + path;
  const int32_t version = static_cast<int32_t>(platform::LoadLE32(bytes.data()));
  if (version < 2000) return "Not a settings file this program can read: " + path;
  const int32_t count = static_cast<int32_t>(platform::LoadLE32(bytes.data() + 4));
  const uint64_t block = version == 2000 ? kCameraBlockSize2000 : kCameraBlockSize;
  if (count < 0 || 8 + uint64_t(count) * block > bytes.size())
    return "Settings file is damaged (camera blocks are missing): " + path;
  if (count == 0) return "The settings file holds no cameras: " + path + "; add one with --add-ip";
  return {};
}

}  // namespace recorder::camera
