#pragma once
// One compressed video stream in one file, on FFmpeg: the container, the encoder,
// the picture the encoder takes and the conversion of frames into it. The writers
// drive it step by step and give each step's failure its own text.
#include <cstddef>
#include <cstdint>
#include <string>

struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

namespace converter {

// How packet times are stamped in the container.
enum class PacketClock {
  FrameIndex,         // frame k at time k in units of 1/rate
  MillisecondsFloor,  // frame k at floor(k x 1000 / rate) ms
};

// Time of frame k in whole milliseconds, rounded down. In 64 bits: k x 1000 passes
// 32 bits after 4294967 frames, five days of a recording at 10 frames a second.
constexpr uint64_t FrameTimeMs(uint64_t frame, uint32_t frameRate) {
  return frameRate == 0 ? 0 : frame * 1000 / frameRate;
}

struct EncoderSettings {
  const AVCodec* codec = nullptr;
  uint32_t codecTag = 0;  // 0: the container's own tag for the codec
  int frameRate = 1;
  int keyFrameInterval = 1;
  int64_t bitRate = 0;    // 0: the encoder's default
  PacketClock clock = PacketClock::FrameIndex;
};

class CEncodedStream {
 public:
  CEncodedStream();
  ~CEncodedStream();
  CEncodedStream(const CEncodedStream&) = delete;
  CEncodedStream& operator=(const CEncodedStream&) = delete;

  // The picture and packet objects that frames and compressed data pass through.
  bool AllocatePicture();
  bool AllocatePacket();
  // The container of the named format; the file is named here and made by OpenFile.
  bool CreateContainer(const char* formatName);
  bool SetFileName(const std::string& path);
  bool OpenFile();
  bool AddStream(const char* title);
  // Opens the encoder for pictures of the first frame's size. An encoder that takes
  // only sizes of some multiple gets the size cut down to the nearest one it takes.
  bool OpenEncoder(const EncoderSettings& settings, int width, int height);
  // Planes of the encoder's picture.
  bool AllocatePictureBuffer();
  bool WriteHeader();

  // Whether frames of this depth can be read: 8 (grey), 16 (RGB555), 24 (BGR), 32 (BGRX).
  static bool InputDepthKnown(int bitsPerPixel);

  // Fills the picture from a packed bottom-up frame. Frames of the first frame's size
  // are cut to the encoder's size (when it took a smaller one); others are scaled.
  bool PictureFromPixels(int width, int height, const uint8_t* pixels, int bitsPerPixel);
  enum class JpegFill { Done, Undecodable, NotDirect, Failed };
  // Decodes a JPEG straight into the picture's planes when that needs no scaling or
  // colour conversion beyond the range (a 4:2:0 or grey JPEG of the encoder's size for
  // a 4:2:0 encoder); NotDirect when it would.
  JpegFill PictureFromJpeg(const uint8_t* jpeg, size_t length);

  // Encodes the picture as frame `index` and writes what the encoder gives back.
  bool EncodePicture(int64_t index);

  // Finishes the file when its header was written (encoder drained, index written);
  // a file made without a header is removed, since nothing could play it. Frees all.
  void Close();

  bool HeaderWritten() const { return headerWritten_; }
  const AVFrame* Picture() const { return picture_; }
  int Width() const { return width_; }
  int Height() const { return height_; }

 private:
  bool WritePackets();
  int64_t PacketTime(int64_t index) const;

  AVFormatContext* format_ = nullptr;
  AVStream* stream_ = nullptr;
  AVCodecContext* encoder_ = nullptr;
  AVFrame* picture_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* scaler_ = nullptr;
  void* jpegDecoder_ = nullptr;
  PacketClock clock_ = PacketClock::FrameIndex;
  bool everyFrameKey_ = false;
  int frameRate_ = 1;
  int firstWidth_ = 0;   // the first frame's size
  int firstHeight_ = 0;
  int width_ = 0;        // the encoder's size
  int height_ = 0;
  bool fileOpen_ = false;
  bool headerWritten_ = false;
  std::string path_;
};

}  // namespace converter
