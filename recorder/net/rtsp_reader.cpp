#include "recorder/net/rtsp_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cerrno>
#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <cctype>
#include <cstring>

namespace recorder::net {

namespace {

using Clock = std::chrono::steady_clock;

// Longer addresses are no camera's; FFmpeg cuts its own copies at 1024 bytes anyway.
constexpr size_t kMaxUrlLength = 1024;
// The most a close waits to send the TEARDOWN (steady clock).
constexpr int kTeardownMs = 150;
// Pieces of one picture are joined up to this size; more is no camera picture.
constexpr int kMaxPictureBytes = 16 * 1024 * 1024;
// FFmpeg's own socket time-out stays behind ours, so our deadlines decide.
constexpr int kSocketTimeoutSlackMs = 2000;

std::string ErrorText(int err) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(err, buf, sizeof buf);
  return buf;
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  size_t n = 0;
  for (; prefix[n]; ++n) {
    if (n >= s.size() || std::tolower(static_cast<unsigned char>(s[n])) != prefix[n]) return false;
  }
  return true;
}

RtspResult Fail(RtspFailure failure, std::string text, int status = 0) {
  return RtspResult{failure, status, std::move(text)};
}

// The RTSP status behind FFmpeg's error codes for error answers; 0 for other codes.
int StatusOf(int err) {
  switch (err) {
    case AVERROR_HTTP_BAD_REQUEST: return 400;
    case AVERROR_HTTP_UNAUTHORIZED: return 401;
    case AVERROR_HTTP_FORBIDDEN: return 403;
    case AVERROR_HTTP_NOT_FOUND: return 404;
    case AVERROR_HTTP_SERVER_ERROR: return 500;
    default: return 0;
  }
}

bool IsEightBitPlanar(AVPixelFormat f) {
  switch (f) {
    case AV_PIX_FMT_YUV420P: case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUV422P: case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUV444P: case AV_PIX_FMT_YUVJ444P:
      return true;
    default:
      return false;
  }
}

bool IsJpegRangeFormat(AVPixelFormat f) {
  return f == AV_PIX_FMT_YUVJ420P || f == AV_PIX_FMT_YUVJ422P || f == AV_PIX_FMT_YUVJ444P ||
         f == AV_PIX_FMT_YUVJ411P || f == AV_PIX_FMT_YUVJ440P;
}

}  // namespace

const char* RtspFailureName(RtspFailure failure) {
  switch (failure) {
    case RtspFailure::None: return "none";
    case RtspFailure::ConnectFailed: return "connect failed";
    case RtspFailure::AuthRefused: return "authentication refused";
    case RtspFailure::StreamEnded: return "stream ended";
    case RtspFailure::NoPicture: return "no picture";
    case RtspFailure::Stopped: return "stopped";
    case RtspFailure::Other: return "other";
  }
  return "?";
}

// ---------------------------------------------------------------------------

struct PictureConverter::Impl {
  SwsContext* sws = nullptr;
  // What the scaler was made for; a new one is made when any of it changes.
  int width = 0, height = 0, format = -1;
  bool fullRange = false, bt709 = false;
  ~Impl() { sws_freeContext(sws); }
};

namespace {

bool PlanarFormat(const RtspPicture& p, AVPixelFormat& format, media::ChromaSampling& sampling) {
  if (p.chromaShiftX == 1 && p.chromaShiftY == 1) {
    format = AV_PIX_FMT_YUV420P, sampling = media::ChromaSampling::k420;
  } else if (p.chromaShiftX == 1 && p.chromaShiftY == 0) {
    format = AV_PIX_FMT_YUV422P, sampling = media::ChromaSampling::k422;
  } else if (p.chromaShiftX == 0 && p.chromaShiftY == 0) {
    format = AV_PIX_FMT_YUV444P, sampling = media::ChromaSampling::k444;
  } else {
    return false;
  }
  return true;
}

}  // namespace

bool PictureConverter::ToYuvImage(const RtspPicture& p, media::YuvImage& out) {
  if (p.width <= 0 || p.height <= 0 || !p.planes[0] || !p.planes[1] || !p.planes[2]) return false;
  if (size_t(p.width) * size_t(p.height) > (size_t(1) << 26)) return false;  // beyond any camera's picture
  AVPixelFormat format;
  media::ChromaSampling sampling;
  if (!PlanarFormat(p, format, sampling)) return false;
  media::YuvImage& planes = out;  // filled in place, so a reused image keeps its buffers
  planes.width = p.width;
  planes.height = p.height;
  planes.sampling = sampling;
  const int heights[3] = {p.height, planes.ChromaHeight(), planes.ChromaHeight()};
  for (int i = 0; i < 3; ++i) {
    planes.stride[i] = i == 0 ? p.width : planes.ChromaWidth();
    planes.plane[i].resize(size_t(planes.stride[i]) * size_t(heights[i]));
  }
  // Limited range (luma 16..235, chroma 16..240) is stretched through a table per
  // plane kind; full range is copied as it is.
  static const auto kStretch = [] {
    std::array<std::array<uint8_t, 256>, 2> t{};
    for (int v = 0; v < 256; ++v) {
      t[0][v] = uint8_t(std::clamp((v - 16) * 255 / 219.0 + 0.5, 0.0, 255.0));
      t[1][v] = uint8_t(std::clamp((v - 128) * 255 / 224.0 + 128.5, 0.0, 255.0));
    }
    return t;
  }();
  for (int i = 0; i < 3; ++i) {
    const size_t width = size_t(planes.stride[i]);
    for (int row = 0; row < heights[i]; ++row) {
      const uint8_t* from = p.planes[i] + size_t(row) * size_t(p.strides[i]);
      uint8_t* to = planes.plane[i].data() + size_t(row) * width;
      if (p.fullRange) {
        std::memcpy(to, from, width);
      } else {
        const auto& table = kStretch[i == 0 ? 0 : 1];
        for (size_t x = 0; x < width; ++x) to[x] = table[from[x]];
      }
    }
  }
  return true;
}

PictureConverter::PictureConverter() : impl_(std::make_unique<Impl>()) {}
PictureConverter::~PictureConverter() = default;

bool PictureConverter::ToFrameImage(const RtspPicture& p, media::FrameImage& out) {
  const size_t size = media::FrameImage::SizeFor(p.width, p.height, 24);
  if (size == 0 || !p.planes[0] || !p.planes[1] || !p.planes[2]) return false;
  AVPixelFormat format;
  if (p.chromaShiftX == 1 && p.chromaShiftY == 1) format = AV_PIX_FMT_YUV420P;
  else if (p.chromaShiftX == 1 && p.chromaShiftY == 0) format = AV_PIX_FMT_YUV422P;
  else if (p.chromaShiftX == 0 && p.chromaShiftY == 0) format = AV_PIX_FMT_YUV444P;
  else return false;

  Impl& d = *impl_;
  if (!d.sws || d.width != p.width || d.height != p.height || d.format != format ||
      d.fullRange != p.fullRange || d.bt709 != p.bt709) {
    sws_freeContext(d.sws);
    d.sws = sws_getContext(p.width, p.height, format, p.width, p.height, AV_PIX_FMT_BGR24, SWS_BILINEAR,
                           nullptr, nullptr, nullptr);
    d.format = -1;
    if (!d.sws) return false;
    const int* inTable = sws_getCoefficients(p.bt709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT);
    const int* outTable = sws_getCoefficients(SWS_CS_DEFAULT);
    sws_setColorspaceDetails(d.sws, inTable, p.fullRange ? 1 : 0, outTable, 1, 0, 1 << 16, 1 << 16);
    d.width = p.width;
    d.height = p.height;
    d.format = format;
    d.fullRange = p.fullRange;
    d.bt709 = p.bt709;
  }
  std::vector<uint8_t> pixels(size);
  // Bottom-up rows: start at the last row and walk backwards.
  const int rowBytes = p.width * 3;
  uint8_t* dst[4] = {pixels.data() + size_t(p.height - 1) * size_t(rowBytes), nullptr, nullptr, nullptr};
  int dstStride[4] = {-rowBytes, 0, 0, 0};
  const uint8_t* src[4] = {p.planes[0], p.planes[1], p.planes[2], nullptr};
  int srcStride[4] = {p.strides[0], p.strides[1], p.strides[2], 0};
  if (sws_scale(d.sws, src, srcStride, 0, p.height, dst, dstStride) != p.height) return false;
  out.width = p.width;
  out.height = p.height;
  out.bitsPerPixel = 24;
  out.pixels = std::move(pixels);
  return true;
}

// ---------------------------------------------------------------------------

struct RtspReader::Impl {
  enum class Cause { None, Stop, Deadline };

  std::atomic<bool> stop{false};
  RtspOptions options;
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  AVPacket* packet = nullptr;
  // H.264 and H.265 arrive as pieces of access units; the pieces of one picture
  // share a time stamp and are joined here before the decoder sees them.
  AVPacket* pending = nullptr;
  bool joinByTime = false;
  AVFrame* frame = nullptr;
  AVFrame* converted = nullptr;  // pictures in formats that are not handed out as decoded
  SwsContext* toPlanar = nullptr;
  int videoIndex = -1;
  AVRational timeBase{1, 90000};
  Clock::time_point deadline = Clock::time_point::max();
  Cause cause = Cause::None;  // why the interrupt callback last said stop, within one call
  bool closing = false;       // Close() is sending the TEARDOWN
  Clock::time_point closeDeadline;
  RtspStats stats;

  ~Impl() {
    Close();
    av_packet_free(&packet);
    av_packet_free(&pending);
    av_frame_free(&frame);
    av_frame_free(&converted);
    sws_freeContext(toPlanar);
  }

  Clock::time_point Now() const { return options.clock ? options.clock() : Clock::now(); }

  bool StopAsked() const {
    return stop.load(std::memory_order_relaxed) || (options.stopRequested && options.stopRequested());
  }

  // FFmpeg asks this between its waits (about every 100 ms) and before each socket call.
  static int Interrupt(void* opaque) {
    auto* d = static_cast<Impl*>(opaque);
    // The TEARDOWN goes out even after a stop, so the camera frees the session at
    // once (many allow only a few); it may take a moment, never longer.
    if (d->closing) return Clock::now() >= d->closeDeadline ? 1 : 0;
    if (d->StopAsked()) {
      d->cause = Cause::Stop;
      return 1;
    }
    if (d->Now() >= d->deadline) {
      d->cause = Cause::Deadline;
      return 1;
    }
    return 0;
  }

  void SetDeadline(int ms) {
    deadline = ms > 0 ? Now() + std::chrono::milliseconds(ms) : Clock::time_point::max();
  }

  void Close() {
    if (pending) av_packet_unref(pending);
    avcodec_free_context(&decoder);
    if (format) {
      // The TEARDOWN is a single write: a dead server or a full socket only makes it fail.
      closing = true;
      closeDeadline = Clock::now() + std::chrono::milliseconds(kTeardownMs);
      avformat_close_input(&format);
      closing = false;
    }
    videoIndex = -1;
  }

  RtspResult OpenFailure(int err) {
    if (cause == Cause::Stop) return Fail(RtspFailure::Stopped, "stopped");
    if (cause == Cause::Deadline)
      return Fail(RtspFailure::ConnectFailed,
                  "no answer within " + std::to_string(options.connectTimeoutMs) + " ms");
    const int status = StatusOf(err);
    if (status == 401 || status == 403) return Fail(RtspFailure::AuthRefused, ErrorText(err), status);
    if (status != 0) return Fail(RtspFailure::Other, ErrorText(err), status);
    switch (err) {
      case AVERROR(ECONNREFUSED): case AVERROR(ENETUNREACH): case AVERROR(EHOSTUNREACH):
      case AVERROR(ETIMEDOUT): case AVERROR(EADDRNOTAVAIL): case AVERROR(ENETDOWN):
      case AVERROR(EHOSTDOWN):
        return Fail(RtspFailure::ConnectFailed, ErrorText(err));
      default:
        return Fail(RtspFailure::Other, ErrorText(err));
    }
  }

  RtspResult ReadFailure(int err) {
    if (cause == Cause::Stop) return Fail(RtspFailure::Stopped, "stopped");
    if (cause == Cause::Deadline || err == AVERROR(ETIMEDOUT))
      return Fail(RtspFailure::NoPicture,
                  "no picture for " + std::to_string(options.noPictureTimeoutMs) + " ms");
    if (err == AVERROR_EOF || err == AVERROR(ECONNRESET) || err == AVERROR(EPIPE))
      return Fail(RtspFailure::StreamEnded, "stream ended");
    const int status = StatusOf(err);
    if (status == 401 || status == 403) return Fail(RtspFailure::AuthRefused, ErrorText(err), status);
    return Fail(RtspFailure::Other, ErrorText(err), status);
  }

  RtspResult Open(const std::string& url, const RtspOptions& opts);
  RtspResult ReadPicture(RtspPicture& picture);
  bool HandOut(RtspPicture& picture);
};

RtspResult RtspReader::Impl::Open(const std::string& url, const RtspOptions& opts) {
  // FFmpeg's own messages go to standard error and may quote request lines or the
  // address with its password: the reader reports through its results alone.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  Close();
  options = opts;
  stats = {};
  cause = Cause::None;
  if (StopAsked()) return Fail(RtspFailure::Stopped, "stopped");
  const bool secure = StartsWithNoCase(url, "rtsps://");
  if (!secure && !StartsWithNoCase(url, "rtsp://"))
    return Fail(RtspFailure::Other, "not an rtsp:// or rtsps:// address");
  if (url.size() > kMaxUrlLength) return Fail(RtspFailure::Other, "address too long");
  // The address goes into request lines: a line break would smuggle in headers.
  for (unsigned char c : url)
    if (c <= 0x20 || c == 0x7f) return Fail(RtspFailure::Other, "address holds spaces or control characters");
  {
    const size_t start = url.find("://") + 3;
    const size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const size_t at = url.rfind('@', end == start ? start : end - 1);
    const size_t host = at != std::string::npos && at >= start ? at + 1 : start;
    if (host >= end || url[host] == ':') return Fail(RtspFailure::Other, "the address names no host");
  }

  if (!packet) packet = av_packet_alloc();
  if (!pending) pending = av_packet_alloc();
  if (!frame) frame = av_frame_alloc();
  format = avformat_alloc_context();
  if (!packet || !pending || !frame || !format) {
    Close();
    return Fail(RtspFailure::Other, "out of memory");
  }
  format->interrupt_callback = {&Impl::Interrupt, this};

  AVDictionary* dict = nullptr;
  av_dict_set(&dict, "rtsp_transport", options.transport == RtspTransport::Udp && !secure ? "udp" : "tcp", 0);
  const int64_t socketTimeoutUs =
      int64_t(std::max(options.connectTimeoutMs, options.noPictureTimeoutMs) + kSocketTimeoutSlackMs) * 1000;
#if LIBAVFORMAT_VERSION_MAJOR >= 59
  av_dict_set_int(&dict, "timeout", socketTimeoutUs, 0);
#else
  av_dict_set_int(&dict, "stimeout", socketTimeoutUs, 0);
#endif
  // Only what an RTSP session needs: no file://, http:// or other protocols behind the address.
  av_dict_set(&dict, "protocol_whitelist", "rtsp,rtsps,tcp,udp,rtp,tls", 0);
  av_dict_set(&dict, "allowed_media_types", "video", 0);

  SetDeadline(options.connectTimeoutMs);
  const AVInputFormat* rtsp = av_find_input_format("rtsp");
  if (!rtsp) {
    av_dict_free(&dict);
    Close();
    return Fail(RtspFailure::Other, "this FFmpeg has no RTSP client");
  }
  int err = avformat_open_input(&format, url.c_str(), rtsp, &dict);
  av_dict_free(&dict);
  if (err < 0) {
    format = nullptr;  // freed by FFmpeg
    return OpenFailure(err);
  }
  // No stream probing: the session description names the codec and carries the
  // parameter sets, and probing would hold back the first pictures.
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (videoIndex < 0 && format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) videoIndex = int(i);
    else format->streams[i]->discard = AVDISCARD_ALL;
  }
  if (videoIndex < 0) {
    Close();
    return Fail(RtspFailure::Other, "the stream holds no video");
  }
  AVStream* stream = format->streams[videoIndex];
  timeBase = stream->time_base;
  // FFmpeg's frame parser ends a picture at a parameter set, and some cameras send
  // one before every slice of a key frame: each slice would then be decoded as a
  // picture of its own, the rest concealed. Pieces are joined by time stamp instead.
  joinByTime = stream->codecpar->codec_id == AV_CODEC_ID_H264 || stream->codecpar->codec_id == AV_CODEC_ID_HEVC;
  if (joinByTime) format->flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!codec) {
    std::string name = avcodec_get_name(stream->codecpar->codec_id);
    Close();
    return Fail(RtspFailure::Other, "no decoder for " + name);
  }
  decoder = avcodec_alloc_context3(codec);
  if (!decoder || avcodec_parameters_to_context(decoder, stream->codecpar) < 0) {
    Close();
    return Fail(RtspFailure::Other, "out of memory");
  }
  decoder->pkt_timebase = timeBase;
  decoder->thread_count = std::clamp(options.decoderThreads, 1, 2);
  if (options.keyFramesOnly) decoder->skip_frame = AVDISCARD_NONKEY;
  err = avcodec_open2(decoder, codec, nullptr);
  if (err < 0) {
    Close();
    return Fail(RtspFailure::Other, "decoder: " + ErrorText(err));
  }
  SetDeadline(options.noPictureTimeoutMs);
  return {};
}

bool RtspReader::Impl::HandOut(RtspPicture& p) {
  const AVFrame* f = frame;
  const auto pixelFormat = static_cast<AVPixelFormat>(f->format);
  if (f->width <= 0 || f->height <= 0) return false;
  bool fullRange = IsJpegRangeFormat(pixelFormat) || f->color_range == AVCOL_RANGE_JPEG;
  if (!IsEightBitPlanar(pixelFormat)) {
    // Grey, 10-bit, semi-planar and the like become 4:2:0 planes first.
    if (!converted) converted = av_frame_alloc();
    if (!converted) return false;
    if (converted->width != f->width || converted->height != f->height) {
      av_frame_unref(converted);
      converted->format = AV_PIX_FMT_YUV420P;
      converted->width = f->width;
      converted->height = f->height;
      if (av_frame_get_buffer(converted, 0) < 0) return false;
    }
    toPlanar = sws_getCachedContext(toPlanar, f->width, f->height, pixelFormat, f->width, f->height,
                                    AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!toPlanar) return false;
    // Keep the range as it is: the planes say which one they hold.
    const int* table = sws_getCoefficients(SWS_CS_DEFAULT);
    sws_setColorspaceDetails(toPlanar, table, fullRange ? 1 : 0, table, fullRange ? 1 : 0, 0, 1 << 16, 1 << 16);
    if (sws_scale(toPlanar, f->data, f->linesize, 0, f->height, converted->data, converted->linesize) != f->height)
      return false;
    f = converted;
  }
  p.width = f->width;
  p.height = f->height;
  for (int i = 0; i < 3; ++i) {
    p.planes[i] = f->data[i];
    p.strides[i] = f->linesize[i];
  }
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
  p.chromaShiftX = desc ? desc->log2_chroma_w : 1;
  p.chromaShiftY = desc ? desc->log2_chroma_h : 1;
  p.fullRange = fullRange;
  p.bt709 = frame->colorspace == AVCOL_SPC_BT709;
  const int64_t ts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
  p.ptsUs = ts == AV_NOPTS_VALUE ? 0 : av_rescale_q(ts, timeBase, AVRational{1, 1000000});
  p.keyFrame = frame->key_frame != 0;
  return true;
}

RtspResult RtspReader::Impl::ReadPicture(RtspPicture& picture) {
  if (!format) return Fail(RtspFailure::Other, "not open");
  cause = Cause::None;
  for (;;) {
    if (StopAsked()) {
      Close();
      return Fail(RtspFailure::Stopped, "stopped");
    }
    int err = avcodec_receive_frame(decoder, frame);
    if (err == 0) {
      if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT)) ++stats.decodeErrors;
      if (!HandOut(picture)) {
        Close();
        return Fail(RtspFailure::Other, "picture cannot be handed out");
      }
      ++stats.pictures;
      SetDeadline(options.noPictureTimeoutMs);
      return {};
    }
    if (err != AVERROR(EAGAIN)) {
      Close();
      return Fail(err == AVERROR_EOF ? RtspFailure::StreamEnded : RtspFailure::Other, "decoder: " + ErrorText(err));
    }
    // Packets may arrive without pause while nothing decodes; the deadline still holds.
    if (Now() >= deadline) {
      cause = Cause::Deadline;
      Close();
      return ReadFailure(AVERROR_EXIT);
    }
    err = av_read_frame(format, packet);
    if (err < 0) {
      RtspResult result = ReadFailure(err);
      Close();
      return result;
    }
    if (packet->stream_index != videoIndex) {
      av_packet_unref(packet);
      continue;
    }
    AVPacket* whole = packet;
    if (joinByTime) {
      if (pending->size > 0 && packet->pts == pending->pts && packet->pts != AV_NOPTS_VALUE &&
          pending->size <= kMaxPictureBytes - packet->size) {
        const int at = pending->size;
        err = av_grow_packet(pending, packet->size);
        if (err >= 0) memcpy(pending->data + at, packet->data, size_t(packet->size));
        av_packet_unref(packet);
        if (err < 0) {
          Close();
          return Fail(RtspFailure::Other, "decoder: " + ErrorText(err));
        }
        continue;
      }
      // A piece with a new time stamp: the picture before it is complete.
      std::swap(pending, packet);
      whole = packet;
      if (whole->size == 0) continue;
    }
    ++stats.packets;
    err = avcodec_send_packet(decoder, whole);
    av_packet_unref(whole);
    if (err == AVERROR(ENOMEM)) {
      Close();
      return Fail(RtspFailure::Other, "decoder: " + ErrorText(err));
    }
    // A damaged picture costs that picture, not the stream.
    if (err < 0) ++stats.decodeErrors;
  }
}

// ---------------------------------------------------------------------------

RtspReader::RtspReader() : impl_(std::make_unique<Impl>()) {}
RtspReader::~RtspReader() = default;

RtspResult RtspReader::Open(const std::string& url, const RtspOptions& options) { return impl_->Open(url, options); }
RtspResult RtspReader::ReadPicture(RtspPicture& picture) { return impl_->ReadPicture(picture); }
void RtspReader::Close() { impl_->Close(); }
bool RtspReader::IsOpen() const { return impl_->format != nullptr; }
void RtspReader::RequestStop() { impl_->stop.store(true, std::memory_order_relaxed); }
void RtspReader::SetKeyFramesOnly(bool keyFramesOnly) {
  impl_->options.keyFramesOnly = keyFramesOnly;
  if (impl_->decoder) impl_->decoder->skip_frame = keyFramesOnly ? AVDISCARD_NONKEY : AVDISCARD_DEFAULT;
}
RtspStats RtspReader::Stats() const { return impl_->stats; }

std::string RtspReader::CodecName() const {
  return impl_->decoder ? avcodec_get_name(impl_->decoder->codec_id) : "";
}

// ---------------------------------------------------------------------------

std::string MaskUrlPassword(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  const size_t start = scheme + 3;
  const size_t end = std::min(url.find_first_of("/?#", start), url.size());
  const size_t colon = url.find(':', start);
  if (colon == std::string::npos) return url;
  // The user part ends at the last '@' of the host part, as the RTSP client reads it.
  size_t at = std::string::npos;
  for (size_t i = start; i < end; ++i)
    if (url[i] == '@') at = i;
  if (at != std::string::npos) {
    if (colon > at) return url;  // a user without a password
    return url.substr(0, colon + 1) + "***" + url.substr(at);
  }
  // No '@' before the first '/': a password that holds a '/' still must not show.
  // A ':' followed by anything but a port number, with an '@' further on, is taken
  // for such a password.
  if (colon >= end) return url;
  bool port = colon + 1 < end;
  for (size_t i = colon + 1; i < end; ++i)
    if (!std::isdigit(static_cast<unsigned char>(url[i]))) port = false;
  const size_t later = url.find('@', end);
  if (port || url[start] == '[' || later == std::string::npos) return url;
  return url.substr(0, colon + 1) + "***" + url.substr(later);
}

}  // namespace recorder::net
