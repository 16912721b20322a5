#include "recorder/camera/settings_check.h"

#include <sys/stat.h>

#include <cstdint>
#include <vector>

#include "platform/bytes.h"
#include "platform/files.h"
#include "recorder/camera/settings_file.h"

namespace recorder::camera {
namespace {

constexpr size_t kHeaderBytes = 8;       // version and camera count
constexpr size_t kSmallestFile = 12;     // header and the logToFile word
constexpr int32_t kOldestVersion = 2000;

}  // namespace

std::string SettingsFileReadProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  if (!S_ISREG(st.st_mode)) return "Settings file is not a regular file: " + path;
  if (st.st_size == 0) return {};
  std::vector<uint8_t> bytes;
  if (platform::ReadWholeFile(path, bytes) != platform::ReadFileResult::Ok || bytes.size() < kSmallestFile)
    return "Settings file cannot be read: " + path;
  if (static_cast<int32_t>(platform::LoadLE32(bytes.data())) < kOldestVersion)
    return "Not a settings file this program can read: " + path;
  return {};
}

namespace {

// Cameras the file holds (0 for a missing or empty file), or -1 with the reason.
int64_t CameraCountOf(const std::string& path, std::string& problem) {
  problem = SettingsFileReadProblem(path);
  if (!problem.empty()) return -1;
  std::vector<uint8_t> bytes;
  if (platform::ReadWholeFile(path, bytes) != platform::ReadFileResult::Ok || bytes.size() < kHeaderBytes) return 0;
  const int32_t version = static_cast<int32_t>(platform::LoadLE32(bytes.data()));
  const int32_t count = static_cast<int32_t>(platform::LoadLE32(bytes.data() + 4));
  const uint64_t block = version == kOldestVersion ? kCameraBlockSize2000 : kCameraBlockSize;
  if (count < 0 || kHeaderBytes + uint64_t(count) * block > bytes.size()) {
    problem = "Settings file is damaged (camera blocks are missing): " + path;
    return -1;
  }
  return count;
}

}  // namespace

std::string SettingsFileDamage(const std::string& path) {
  std::string problem;
  CameraCountOf(path, problem);
  return problem;
}

std::string SettingsFileProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return "No settings file at " + path + "; add a camera with --add-ip first";
  std::string problem;
  const int64_t count = CameraCountOf(path, problem);
  if (count < 0) return problem;
  if (count == 0) return "The settings file holds no cameras: " + path + "; add one with --add-ip";
  return {};
}

}  // namespace recorder::camera
