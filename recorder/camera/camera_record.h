#pragma once
// The camera record: what the user chose for one camera. It holds settings only;
// the worker and live view that belong to a camera are the controller's business.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace recorder::camera {

constexpr size_t kTextField = 260;  // fixed text fields, NUL-terminated
constexpr size_t kMaxTextInput = 258;
constexpr size_t kGridBytes = 400;
using TextField = std::array<char, kTextField>;

// Font description laid out like the classic LOGFONTA (60 bytes on disk).
struct LogFont {
  int32_t height = -13;
  int32_t width = 0;
  int32_t escapement = 0;
  int32_t orientation = 0;
  int32_t weight = 700;
  uint8_t italic = 0;
  uint8_t underline = 0;
  uint8_t strikeOut = 0;
  uint8_t charSet = 0;
  uint8_t outPrecision = 3;
  uint8_t clipPrecision = 2;
  uint8_t quality = 1;
  uint8_t pitchAndFamily = 0x22;
  std::array<char, 32> faceName{};  // "Verdana" by default
};
LogFont DefaultOverlayFont();

enum CameraType : int32_t { kCameraIp = 0, kCameraLocal = 1 };

struct CameraRecord {
  // Block A: local capture device
  int32_t deviceIndex = 0;
  int32_t formatWidth = 0;
  int32_t formatHeight = 0;
  int32_t formatBits = 0;
  int32_t pinIndex = 0;
  // Block B: network source
  TextField url{};
  int32_t pushStream = 0;
  // Block C: adjustments and saving
  int32_t flipVertical = 0;
  int32_t flipHorizontal = 0;
  int32_t jpegQuality = 75;
  int32_t rotation = 0;
  int32_t saveEnabled = 1;
  int32_t frameDelayMs = 1000;
  TextField savePath{};
  int32_t saveAsMjpg = 1;
  int32_t maxJpgCount = 3600;
  int32_t motionEnabled = 1;
  int32_t motionTriggerLevel = 25;
  int32_t frameSaveCount = 5;
  int32_t cleanSaveDir = 0;
  int32_t motionSound = 0;
  TextField soundFile{};
  // Block G: 400 bytes, index column * 20 + row from the bottom; empty = no grid
  std::vector<uint8_t> motionGrid;
  // Block D: overlay
  int32_t overlayEnabled = 0;
  int32_t overlayBackground = 0;         // 0 Solid, 1 Transparent, 2 Shadow, 3 Outline
  int32_t overlayVAlign = 1;             // 0 CENTER, 1 TOP, 2 BOTTOM
  int32_t overlayHAlign = 0;             // 0 CENTER, 1 LEFT, 2 RIGHT
  uint32_t overlayBackColor = 0xFFFFFF;  // 0x00BBGGRR
  uint32_t overlayTextColor = 0x000000;
  TextField overlayText{};
  // Block F: overlay font
  LogFont overlayFont;
  // Leading word
  int32_t cameraType = kCameraIp;
  // Extension section of the settings file (after the fixed layout): fields that
  // the fixed camera block has no room for.
  std::string name;  // empty: texts name the camera by its number alone
  int32_t keepDays = 0;       // retention: recordings older than this many days go; 0 = no age limit
  int32_t keepMegabytes = 0;  // retention: the camera's recordings stay within this size; 0 = no limit
  // 1: pictures that nothing changes (no flip, rotation, overlay) are stored as
  // the camera sent them, with the time stamp inserted, instead of re-encoded.
  int32_t storeAsSent = 0;
  std::string rtspTransport = "tcp";  // RTSP cameras: "tcp" or "udp"
};

// Reads and writes a fixed text field as a C string (at most 259 bytes kept).
// SetText clears every byte after the terminator: the settings file stores the
// whole array, and an old, longer value (a password in a URL) must not linger there.
std::string GetText(const TextField& field);
void SetText(TextField& field, const std::string& text);

// A new record with every default and cameraType 0. The default URL points at the
// loopback address so that a fresh camera never reaches out to another machine.
std::unique_ptr<CameraRecord> CreateDefaultCamera();
// The default save path, <home>/Cameras/%A/video.mjpg; a folder number N > 0
// gives <home>/Cameras/camera-N/%A/video.mjpg. The number goes into a folder, not
// the file name, because the numbered-JPEG resume reads every digit of a file name.
std::string DefaultSavePath(int folderNumber = 0);
// The save path for a new camera that will sit at `position` (from 0) among
// `cameras`: the default when no camera's expanded path equals it, else the
// first unused of camera-(position + 1), camera-1, camera-2, ...
std::string UniqueDefaultSavePath(const std::vector<const CameraRecord*>& cameras, size_t position);

// Deep copy: own grid bytes and font description.
std::unique_ptr<CameraRecord> CopyCamera(const CameraRecord& source);

// The live view's title: the camera's name, else the file-name part of its save path.
std::string LiveViewTitle(const CameraRecord& camera);

// The URL with its password replaced by "***" (for logs and listings).
std::string MaskUrlPassword(const std::string& url);

}  // namespace recorder::camera
