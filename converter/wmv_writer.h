#pragma once
// Writes a Windows Media file from frames with the settings of a system profile,
// named by its GUID. Frame k is stamped floor(k x 1000 / rate) ms.
#include <cstdint>
#include <string>

#include "converter/video_writer.h"

namespace converter {

// A system profile: the container, the encoder and how often key frames come.
struct WmvProfile {
  const char* guid;
  const char* container;
  int codecId;            // AVCodecID of the encoder
  bool acceptsVideo;      // whether the profile has a video input
  int keyFrameSeconds;
};

// The built-in profile for a GUID (braces included, any case), or nullptr.
const WmvProfile* FindSystemProfile(const std::string& guid);

class CWmvWriter : public CVideoWriter {
 public:
  // Loads the profile and names the output file; a failure leaves the writer
  // released with the failing step's text, and every frame is refused.
  CWmvWriter(std::string path, const std::string& profileGuid, uint32_t frameRate);
  // The same with a profile given whole.
  CWmvWriter(std::string path, const WmvProfile* profile, uint32_t frameRate);
  ~CWmvWriter() override;

  // Whether the encoder of the system profile with this GUID is installed.
  static bool EncoderInstalled(const std::string& profileGuid);

  // Time of the next frame in milliseconds.
  uint64_t NextSampleTime() const { return nextSampleTime_; }

 private:
  void Construct(const WmvProfile* profile);
  bool WritePicture(bool prepared) override;
  bool SetUp(int32_t width, int32_t height, int32_t bitsPerPixel) override;

  std::string path_;
  const WmvProfile* profile_ = nullptr;
  uint32_t frameRate_;
  uint64_t nextSampleTime_ = 0;
  int64_t frameCounter_ = 0;  // frames written so far
};

}  // namespace converter
