#include "converter/avi_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <climits>

namespace converter {

namespace {

// The encoder for a four-character code, by the container's own table of codes.
const AVCodec* FindEncoder(uint32_t codecCode) {
  const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
  const AVCodecID id = av_codec_get_id(tables, codecCode);
  return id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_encoder(id);
}

}  // namespace

CAviWriter::CAviWriter(std::string path, uint32_t codecCode, uint32_t frameRate)
    : path_(std::move(path)), codecCode_(codecCode), frameRate_(frameRate) {}

CAviWriter::~CAviWriter() { Release(); }

bool CAviWriter::CodecInstalled(uint32_t codecCode) { return FindEncoder(codecCode) != nullptr; }

// The steps keep the order and the failure texts of the writer's design; the
// FFmpeg objects stand in for the drawing context (the picture), the private heap
// (the packet) and the working buffer (the picture's planes, which need the
// encoder's format and so are reserved once the encoder is open).
bool CAviWriter::SetUp(int32_t width, int32_t height, int32_t bitsPerPixel) {
  if (!stream_.AllocatePicture()) return Fail("Unable to Create Compatible DC");
  if (!stream_.AllocatePacket()) return Fail("Unable to Create Heap");
  if (frameRate_ == 0 || frameRate_ > INT_MAX || !stream_.CreateContainer("avi") || !stream_.SetFileName(path_) ||
      !stream_.OpenFile())
    return Fail("Unable to Create the Movie File");
  if (!stream_.AddStream("Video Stream")) return Fail("Unable to Create Video Stream in the Movie File");
  EncoderSettings settings;
  settings.codec = FindEncoder(codecCode_);
  settings.codecTag = codecCode_;
  settings.frameRate = int(frameRate_);
  settings.keyFrameInterval = 1;
  settings.clock = PacketClock::FrameIndex;
  if (!stream_.OpenEncoder(settings, width, height))
    return Fail("Unable to Create Compressed Stream: Check your CODEC options");
  if (!stream_.AllocatePictureBuffer()) return Fail("Unable to Allocate Memory on Heap");
  if (!CEncodedStream::InputDepthKnown(bitsPerPixel) || !stream_.WriteHeader())
    return Fail("Unable to Set Video Stream Format");
  return true;
}

bool CAviWriter::WritePicture(bool prepared) {
  // The counter moves on whether or not the write works.
  const int64_t index = frameCounter_++;
  if (!prepared || !stream_.EncodePicture(index)) return Fail("Unable to Write Video Stream to the output Movie File");
  ++framesWritten_;
  return true;
}

}  // namespace converter
