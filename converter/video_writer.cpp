#include "converter/video_writer.h"

#include "media/jpeg_codec.h"

namespace converter {

CVideoWriter::JpegResult CVideoWriter::AppendJpeg(const uint8_t* jpeg, size_t length, bool direct) {
  // The first frame sets the writer up from 24-bit pixels like every frame would;
  // after that, frames of the encoder's size and layout skip the pixels.
  if (direct && state_ == kWriting) {
    switch (stream_.PictureFromJpeg(jpeg, length)) {
      case CEncodedStream::JpegFill::Done:
        return WritePicture(true) ? JpegResult::Written : JpegResult::WriterFailed;
      case CEncodedStream::JpegFill::Failed:
        return WritePicture(false) ? JpegResult::Written : JpegResult::WriterFailed;
      case CEncodedStream::JpegFill::Undecodable:
        return JpegResult::Undecodable;
      case CEncodedStream::JpegFill::NotDirect:
        break;
    }
  }
  if (!media::DecodeJpeg(jpeg, length, decoded_)) return JpegResult::Undecodable;
  const bool written = AppendFrame(decoded_.width, decoded_.height, decoded_.pixels.data(), decoded_.bitsPerPixel);
  return written ? JpegResult::Written : JpegResult::WriterFailed;
}

bool CVideoWriter::AppendFrame(int32_t width, int32_t height, const uint8_t* pixels, int32_t bitsPerPixel) {
  if (state_ == kReleased) return false;
  if (state_ == kCreated) {
    if (!SetUp(width, height, bitsPerPixel)) return false;
    state_ = kWriting;
  }
  return WritePicture(stream_.PictureFromPixels(width, height, pixels, bitsPerPixel));
}

bool CVideoWriter::Fail(const char* text) {
  lastError_ = text;
  Release();
  return false;
}

void CVideoWriter::Release() {
  state_ = kReleased;
  stream_.Close();
}

}  // namespace converter
