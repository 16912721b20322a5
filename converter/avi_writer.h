#pragma once
// Writes an AVI file with one video stream, every frame a key frame, compressed by
// the encoder that the codec's four-character code names, at a whole number of
// frames per second. The container is AVI whatever the path's extension.
#include <cstdint>
#include <string>

#include "converter/video_writer.h"

namespace converter {

class CAviWriter : public CVideoWriter {
 public:
  // Nothing is written until the first frame.
  CAviWriter(std::string path, uint32_t codecCode, uint32_t frameRate);
  ~CAviWriter() override;

  // Whether an encoder for the code is installed (looked up now, not at build time).
  static bool CodecInstalled(uint32_t codecCode);

 private:
  bool WritePicture(bool prepared) override;
  bool SetUp(int32_t width, int32_t height, int32_t bitsPerPixel) override;

  std::string path_;
  uint32_t codecCode_;
  uint32_t frameRate_;
  int64_t frameCounter_ = 0;  // index of the next frame
};

}  // namespace converter
