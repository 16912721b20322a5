#include "converter/encoded_stream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "media/frame_image.h"

namespace converter {

namespace {

// The largest picture the JPEG decoder of the frame images accepts; a larger one
// counts as undecodable on both decoding paths alike.
constexpr uint64_t kMaxPixelBytes = uint64_t(256) << 20;

AVPixelFormat InputFormat(int bitsPerPixel) {
  switch (bitsPerPixel) {
    case 8: return AV_PIX_FMT_GRAY8;
    case 16: return AV_PIX_FMT_RGB555LE;
    case 24: return AV_PIX_FMT_BGR24;
    case 32: return AV_PIX_FMT_BGR0;
    default: return AV_PIX_FMT_NONE;
  }
}

// A JPEG that decodes only with a warning is taken when it ends with its end
// marker, as the frame images' decoder takes it; one cut short is not.
bool EndsWithEoi(const uint8_t* jpeg, size_t length) {
  while (length > 0 && (jpeg[length - 1] == 0x00 || jpeg[length - 1] == '\r' || jpeg[length - 1] == '\n'))
    --length;
  return length >= 2 && jpeg[length - 2] == 0xFF && jpeg[length - 1] == 0xD9;
}

// JPEG samples use the full range 0..255; the encoders take luma in 16..235 and
// chroma in 16..240, as the colour conversion from the frame images gives them.
struct RangeTables {
  std::array<uint8_t, 256> luma{}, chroma{};
  RangeTables() {
    for (int v = 0; v < 256; ++v) {
      luma[size_t(v)] = uint8_t((v * 219 + 127) / 255 + 16);
      chroma[size_t(v)] = uint8_t((v * 224 + 127) / 255 + 16);
    }
  }
};
const RangeTables kRange;

void MapPlane(uint8_t* plane, int stride, int width, int height, const std::array<uint8_t, 256>& table) {
  for (int y = 0; y < height; ++y) {
    uint8_t* row = plane + ptrdiff_t(y) * stride;
    for (int x = 0; x < width; ++x) row[x] = table[row[x]];
  }
}

}  // namespace

CEncodedStream::CEncodedStream() = default;

CEncodedStream::~CEncodedStream() { Close(); }

bool CEncodedStream::AllocatePicture() {
  if (!picture_) picture_ = av_frame_alloc();
  return picture_ != nullptr;
}

bool CEncodedStream::AllocatePacket() {
  if (!packet_) packet_ = av_packet_alloc();
  return packet_ != nullptr;
}

bool CEncodedStream::CreateContainer(const char* formatName) {
  if (format_) return false;
  return avformat_alloc_output_context2(&format_, nullptr, formatName, nullptr) >= 0 && format_;
}

bool CEncodedStream::SetFileName(const std::string& path) {
  if (!format_ || path.empty()) return false;
  char* url = av_strdup(path.c_str());
  if (!url) return false;
  av_free(format_->url);
  format_->url = url;
  path_ = path;
  return true;
}

bool CEncodedStream::OpenFile() {
  if (!format_ || path_.empty() || fileOpen_) return false;
  // The file protocol by name, so a ':' in the path never reads as another protocol.
  if (avio_open(&format_->pb, ("file:" + path_).c_str(), AVIO_FLAG_WRITE) < 0) return false;
  fileOpen_ = true;
  return true;
}

bool CEncodedStream::AddStream(const char* title) {
  if (!format_ || stream_) return false;
  stream_ = avformat_new_stream(format_, nullptr);
  if (!stream_) return false;
  if (title && av_dict_set(&stream_->metadata, "title", title, 0) < 0) return false;
  return true;
}

bool CEncodedStream::OpenEncoder(const EncoderSettings& settings, int width, int height) {
  if (!format_ || !stream_ || encoder_ || !settings.codec || settings.frameRate <= 0 || width <= 0 || height <= 0)
    return false;
  const AVCodec* codec = settings.codec;
  const AVPixelFormat pixelFormat = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
  // Pictures with chroma at half resolution get an even size: the colour converter
  // leaves the last chroma column of an odd width unwritten, and players cope badly
  // with odd sizes. Some encoders take only sizes of a multiple of 4 or 16. The
  // largest size they take within the frame loses at most a few edge pixels.
  const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(pixelFormat);
  const int least = layout ? 1 << std::max(layout->log2_chroma_w, layout->log2_chroma_h) : 2;
  int lastWidth = 0, lastHeight = 0;
  for (const int multiple : {1, 2, 4, 8, 16}) {
    if (multiple < least) continue;
    const int w = width - width % multiple, h = height - height % multiple;
    if (w <= 0 || h <= 0) break;
    if (w == lastWidth && h == lastHeight) continue;
    lastWidth = w;
    lastHeight = h;
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c) return false;
    c->width = w;
    c->height = h;
    c->pix_fmt = pixelFormat;
    c->time_base = AVRational{1, settings.frameRate};
    c->framerate = AVRational{settings.frameRate, 1};
    c->gop_size = settings.keyFrameInterval;
    // Some encoders count the frames since the last key frame from 0 and compare
    // with this: 0 makes every frame a key frame there.
    c->keyint_min = settings.keyFrameInterval == 1 ? 0 : settings.keyFrameInterval;
    c->max_b_frames = 0;
    c->codec_tag = settings.codecTag;
    c->thread_count = 0;  // as many as the machine has, where the encoder can use them
    if (settings.bitRate > 0) c->bit_rate = settings.bitRate;
    if (format_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(c, codec, nullptr) >= 0) {
      encoder_ = c;
      break;
    }
    avcodec_free_context(&c);
  }
  if (!encoder_) return false;
  if (avcodec_parameters_from_context(stream_->codecpar, encoder_) < 0) return false;
  stream_->codecpar->codec_tag = settings.codecTag;
  stream_->time_base = settings.clock == PacketClock::FrameIndex ? AVRational{1, settings.frameRate}
                                                                  : AVRational{1, 1000};
  stream_->avg_frame_rate = AVRational{settings.frameRate, 1};
  clock_ = settings.clock;
  everyFrameKey_ = settings.keyFrameInterval == 1;
  frameRate_ = settings.frameRate;
  firstWidth_ = width;
  firstHeight_ = height;
  width_ = encoder_->width;
  height_ = encoder_->height;
  return true;
}

bool CEncodedStream::AllocatePictureBuffer() {
  if (!picture_ || !encoder_) return false;
  picture_->format = encoder_->pix_fmt;
  picture_->width = width_;
  picture_->height = height_;
  return av_frame_get_buffer(picture_, 0) >= 0;
}

bool CEncodedStream::WriteHeader() {
  if (!fileOpen_ || !encoder_ || headerWritten_) return false;
  if (avformat_write_header(format_, nullptr) < 0) return false;
  headerWritten_ = true;
  return true;
}

bool CEncodedStream::InputDepthKnown(int bitsPerPixel) { return InputFormat(bitsPerPixel) != AV_PIX_FMT_NONE; }

bool CEncodedStream::PictureFromPixels(int width, int height, const uint8_t* pixels, int bitsPerPixel) {
  const AVPixelFormat source = InputFormat(bitsPerPixel);
  if (!encoder_ || !picture_ || !pixels || source == AV_PIX_FMT_NONE ||
      media::FrameImage::SizeFor(width, height, bitsPerPixel) == 0)
    return false;
  if (av_frame_make_writable(picture_) < 0) return false;
  // Frames of the first size keep their scale: an encoder that took a smaller size
  // gets their top left part. Frames of another size are scaled to the encoder's.
  const bool firstSize = width == firstWidth_ && height == firstHeight_;
  const int sourceWidth = firstSize ? width_ : width;
  const int sourceHeight = firstSize ? height_ : height;
  scaler_ = sws_getCachedContext(scaler_, sourceWidth, sourceHeight, source, width_, height_, encoder_->pix_fmt,
                                 SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!scaler_) return false;
  // Rows are stored bottom row first: start at the top row and step backwards.
  const int stride = width * (bitsPerPixel / 8);
  const uint8_t* top = pixels + ptrdiff_t(height - 1) * stride;
  const uint8_t* planes[4] = {top, nullptr, nullptr, nullptr};
  const int strides[4] = {-stride, 0, 0, 0};
  return sws_scale(scaler_, planes, strides, 0, sourceHeight, picture_->data, picture_->linesize) == height_;
}

CEncodedStream::JpegFill CEncodedStream::PictureFromJpeg(const uint8_t* jpeg, size_t length) {
  if (!encoder_ || !picture_ || encoder_->pix_fmt != AV_PIX_FMT_YUV420P) return JpegFill::NotDirect;
  if (!jpegDecoder_) jpegDecoder_ = tjInitDecompress();
  tjhandle h = static_cast<tjhandle>(jpegDecoder_);
  if (!h) return JpegFill::NotDirect;
  int width = 0, height = 0, subsamp = 0, colorspace = 0;
  if (!jpeg || length < 4 ||
      tjDecompressHeader3(h, jpeg, static_cast<unsigned long>(length), &width, &height, &subsamp, &colorspace) != 0 ||
      width <= 0 || height <= 0 || uint64_t(width) * 3u * uint64_t(height) > kMaxPixelBytes) {
    tjDestroy(h);  // a failed header read leaves the decoder unusable
    jpegDecoder_ = nullptr;
    return JpegFill::Undecodable;
  }
  const bool grey = subsamp == TJSAMP_GRAY && colorspace == TJCS_GRAY;
  const bool yuv420 = subsamp == TJSAMP_420 && colorspace == TJCS_YCbCr;
  if (width != width_ || height != height_ || !(grey || yuv420)) return JpegFill::NotDirect;
  if (av_frame_make_writable(picture_) < 0) return JpegFill::Failed;

  unsigned char* planes[3] = {picture_->data[0], grey ? nullptr : picture_->data[1],
                              grey ? nullptr : picture_->data[2]};
  int strides[3] = {picture_->linesize[0], grey ? 0 : picture_->linesize[1], grey ? 0 : picture_->linesize[2]};
  const int rc = tjDecompressToYUVPlanes(h, jpeg, static_cast<unsigned long>(length), planes, width, strides, height,
                                         TJFLAG_LIMITSCANS);
  if (rc != 0 && !(tjGetErrorCode(h) == TJERR_WARNING && EndsWithEoi(jpeg, length))) {
    // A decoder that failed inside a picture refuses the pictures after it; the next
    // frame gets a fresh one.
    tjDestroy(h);
    jpegDecoder_ = nullptr;
    return JpegFill::Undecodable;
  }

  const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
  MapPlane(picture_->data[0], picture_->linesize[0], width, height, kRange.luma);
  for (int p = 1; p <= 2; ++p) {
    if (grey) {
      for (int y = 0; y < chromaHeight; ++y)
        std::memset(picture_->data[p] + ptrdiff_t(y) * picture_->linesize[p], 128, size_t(chromaWidth));
    } else {
      MapPlane(picture_->data[p], picture_->linesize[p], chromaWidth, chromaHeight, kRange.chroma);
    }
  }
  return JpegFill::Done;
}

int64_t CEncodedStream::PacketTime(int64_t index) const {
  if (clock_ == PacketClock::MillisecondsFloor)
    return av_rescale_q(int64_t(FrameTimeMs(uint64_t(index), uint32_t(frameRate_))), AVRational{1, 1000},
                        stream_->time_base);
  return av_rescale_q(index, AVRational{1, frameRate_}, stream_->time_base);
}

bool CEncodedStream::EncodePicture(int64_t index) {
  if (!headerWritten_ || !packet_) return false;
  picture_->pts = index;
  picture_->pict_type = everyFrameKey_ ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  if (avcodec_send_frame(encoder_, picture_) < 0) return false;
  return WritePackets();
}

bool CEncodedStream::WritePackets() {
  for (;;) {
    const int rc = avcodec_receive_packet(encoder_, packet_);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return false;
    // The encoder counts in frames; the container gets the writer's clock.
    const int64_t index = packet_->pts;
    packet_->pts = packet_->dts = PacketTime(index);
    packet_->duration = PacketTime(index + 1) - packet_->pts;
    packet_->stream_index = stream_->index;
    const int written = av_write_frame(format_, packet_);
    av_packet_unref(packet_);
    if (written < 0 || (format_->pb && format_->pb->error < 0)) return false;
  }
}

void CEncodedStream::Close() {
  if (headerWritten_) {
    if (avcodec_send_frame(encoder_, nullptr) >= 0) WritePackets();
    av_write_trailer(format_);
  }
  if (fileOpen_) {
    avio_closep(&format_->pb);
    if (!headerWritten_) ::unlink(path_.c_str());
  }
  fileOpen_ = false;
  headerWritten_ = false;
  if (scaler_) sws_freeContext(scaler_);
  scaler_ = nullptr;
  if (jpegDecoder_) tjDestroy(static_cast<tjhandle>(jpegDecoder_));
  jpegDecoder_ = nullptr;
  av_frame_free(&picture_);
  av_packet_free(&packet_);
  avcodec_free_context(&encoder_);
  if (format_) avformat_free_context(format_);
  format_ = nullptr;
  stream_ = nullptr;
  width_ = height_ = firstWidth_ = firstHeight_ = 0;
}

}  // namespace converter
