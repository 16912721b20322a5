#pragma once
// The binary settings file: version, camera count, one 1604-byte block per
// camera, then the logToFile flag. Little-endian, no padding. The camera blocks
// are written and read by walking the field table's rows.
//
// After logToFile an extension section may follow, for settings the fixed
// layout has no room for: the tag "TLX1", a uint32 length of what follows, then
// records of uint32 owner (camera index, or 0xFFFFFFFF for the program), uint32
// size and that many bytes "name=value". It is written only when some value
// differs from its default, so a file of plain settings is exactly 12 + 1604 N
// bytes. Earlier builds stop reading at logToFile and never see it.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "recorder/camera/camera_record.h"

namespace recorder::camera {

constexpr int32_t kSettingsVersion = 2005;
constexpr size_t kCameraBlockSize = 1604;
constexpr size_t kCameraBlockSize2000 = 1336;

constexpr uint32_t kExtensionProgramOwner = 0xFFFFFFFF;

// The program part of the extension section: program-wide settings by name, kept
// as text. No program setting lives there yet; whatever a file holds is carried
// through a load and save unchanged.
using ProgramRecords = std::map<std::string, std::string>;

struct LoadedSettings {
  std::vector<std::unique_ptr<CameraRecord>> cameras;
  int32_t logToFile = 0;
  ProgramRecords program;
};

// Serialises records exactly as they are stored on disk.
std::vector<uint8_t> SerializeSettings(const std::vector<const CameraRecord*>& cameras, int32_t logToFile,
                                       const ProgramRecords& program = {});
// Parses settings bytes; never reads outside `bytes`. A version below 2000 loads
// nothing. Every camera passes through the field table's load clamps.
LoadedSettings ParseSettings(const uint8_t* bytes, size_t length);

// Loads the settings file; a missing or unreadable file gives no cameras and logToFile 0.
LoadedSettings LoadSettingsFile(const std::string& path);
// Saves atomically (temporary file beside it, fsync, rename), readable and
// writable by the owner only (mode 0600). On any failure the previous file stays
// untouched and false is returned.
bool SaveSettingsFile(const std::string& path, const std::vector<const CameraRecord*>& cameras, int32_t logToFile,
                      const ProgramRecords& program = {});

}  // namespace recorder::camera
