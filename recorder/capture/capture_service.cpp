#include "recorder/capture/capture_service.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "recorder/capture/scripted_service.h"
#include "recorder/capture/v4l2_service.h"

namespace recorder::capture {

const char* ConnectorName(int32_t type) {
  static const char* const kVideo[] = {"Video Tuner",   "Video Composite",        "S-Video",
                                       "Video RGB",     "Video YRYBY",            "Video Serial Digital",
                                       "Video Parallel Digital", "Video SCSI",   "Video AUX",
                                       "Video 1394",    "Video USB",              "Video Decoder",
                                       "Video Encoder"};
  static const char* const kAudio[] = {"Audio Tuner", "Audio Line", "Audio Microphone", "Audio AES/EBU Digital",
                                       "Audio S/PDIF", "Audio SCSI", "Audio AUX",       "Audio 1394",
                                       "Audio USB",    "Audio Decoder"};
  if (type >= 1 && type <= 13) return kVideo[type - 1];
  if (type >= 4096 && type <= 4105) return kAudio[type - 4096];
  return "Unknown Type";
}

int32_t SampleDepthFor(int32_t formatBits) {
  switch (formatBits) {
    case 8:
    case 9:
    case 12:
    case 24: return 24;
    case 16: return 16;
    case 32: return 32;
    default: return 0;
  }
}

void FrameFromTopDownBgr(const uint8_t* bgr, int32_t width, int32_t height, int32_t bits, media::FrameImage& image) {
  if (bits != 16 && bits != 32) bits = 24;
  image.width = width;
  image.height = height;
  image.bitsPerPixel = bits;
  image.pixels.resize(media::FrameImage::SizeFor(width, height, bits));
  if (image.pixels.empty()) return;
  const size_t srcStride = size_t(width) * 3;
  const size_t dstStride = size_t(width) * size_t(bits / 8);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = bgr + size_t(y) * srcStride;
    uint8_t* dst = image.pixels.data() + size_t(height - 1 - y) * dstStride;  // bottom row first
    if (bits == 24) {
      std::memcpy(dst, src, srcStride);
    } else if (bits == 32) {
      for (int32_t x = 0; x < width; ++x, src += 3, dst += 4) {
        dst[0] = src[0], dst[1] = src[1], dst[2] = src[2], dst[3] = 0;
      }
    } else {
      for (int32_t x = 0; x < width; ++x, src += 3, dst += 2) {
        const uint16_t v = uint16_t((src[2] >> 3) << 10 | (src[1] >> 3) << 5 | (src[0] >> 3));
        dst[0] = uint8_t(v & 0xFF), dst[1] = uint8_t(v >> 8);
      }
    }
  }
}

std::shared_ptr<CaptureService> DefaultCaptureService() {
  const char* fake = std::getenv("TOLLAN_FAKE_CAPTURE");
  if (fake == nullptr || *fake == '\0') return std::make_shared<V4l2Service>();
  // One scripted service per setting for the whole process, so that its devices
  // keep their state (controls, unplugging) for every user, as hardware does.
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<CaptureService>> services;
  const std::lock_guard<std::mutex> lock(mutex);
  std::shared_ptr<CaptureService>& service = services[fake];
  if (service) return service;
  if (std::strcmp(fake, "1") == 0) {
    service = ScriptedService::TestPatternCamera();
    return service;
  }
  std::string error;
  service = ScriptedService::FromFile(fake, &error);
  if (!service) {
    std::fprintf(stderr, "tollan: capture script %s: %s\n", fake, error.c_str());
    service = std::make_shared<ScriptedService>();
  }
  return service;
}

}  // namespace recorder::capture
