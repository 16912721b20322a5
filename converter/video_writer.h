#pragma once
// What the conversion loop hands frames to: the AVI writer and the WMV writer. A
// writer sets itself up at the first frame, so the frame size comes from the video.
// After any failure it refuses every further frame; its last error text says which
// step failed. Destroying it finishes the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "converter/encoded_stream.h"
#include "media/frame_image.h"

namespace converter {

class CVideoWriter {
 public:
  enum State : int { kReleased = 0, kCreated = 1, kWriting = 2 };
  enum class JpegResult { Written, WriterFailed, Undecodable };

  virtual ~CVideoWriter() = default;
  CVideoWriter(const CVideoWriter&) = delete;
  CVideoWriter& operator=(const CVideoWriter&) = delete;

  // Appends one packed bottom-up picture of width x height x bitsPerPixel / 8 bytes.
  // The first frame sets the writer up; a released writer refuses every frame.
  bool AppendFrame(int32_t width, int32_t height, const uint8_t* pixels, int32_t bitsPerPixel);

  // Decodes a JPEG frame and appends it. With `direct`, a frame that needs no scaling
  // is decoded straight into the encoder's picture, without passing through 24-bit
  // pixels; otherwise it is decoded into a frame image and given to AppendFrame.
  // Undecodable leaves the writer as it was.
  JpegResult AppendJpeg(const uint8_t* jpeg, size_t length, bool direct = true);

  const std::string& GetLastError() const { return lastError_; }
  int GetState() const { return state_; }
  int64_t FramesWritten() const { return framesWritten_; }

 protected:
  CVideoWriter() = default;

  // Sets the output up for frames of this size, recording the failing step's text.
  virtual bool SetUp(int32_t width, int32_t height, int32_t bitsPerPixel) = 0;
  // Encodes the picture the stream holds (prepared says whether filling it worked).
  virtual bool WritePicture(bool prepared) = 0;
  // Records the failure, releases everything and refuses from now on. Returns false.
  bool Fail(const char* text);
  void Release();

  CEncodedStream stream_;
  int state_ = kCreated;
  std::string lastError_ = "Method Succeeded";
  int64_t framesWritten_ = 0;

 private:
  media::FrameImage decoded_;  // reused from frame to frame
};

}  // namespace converter
