#pragma once
// The binary settings file: version, camera count, one 1604-byte block per
// camera, then the logToFile flag. Little-endian, no padding.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recorder/camera/camera_record.h"

namespace recorder::camera {

constexpr int32_t kSettingsVersion = 2005;
constexpr size_t kCameraBlockSize = 1604;
constexpr size_t kCameraBlockSize2000 = 1336;

struct LoadedSettings {
  std::vector<std::unique_ptr<CameraRecord>> cameras;
  int32_t logToFile = 0;
};

// Serialises records exactly as they are stored on disk.
std::vector<uint8_t> SerializeSettings(const std::vector<const CameraRecord*>& cameras, int32_t logToFile);
// Parses settings bytes; never reads outside `bytes`. A version below 2000 loads
// nothing. Every camera passes through the field table's load clamps.
LoadedSettings ParseSettings(const uint8_t* bytes, size_t length);

// Loads the settings file; a missing or unreadable file gives no cameras and logToFile 0.
LoadedSettings LoadSettingsFile(const std::string& path);
// Saves atomically (temporary file beside it, fsync, rename), readable and
// writable by the owner only (mode 0600). On any failure the previous file stays
// untouched and false is returned.
bool SaveSettingsFile(const std::string& path, const std::vector<const CameraRecord*>& cameras, int32_t logToFile);

}  // namespace recorder::camera
