#include "converter/wmv_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cctype>
#include <climits>

#include "converter/conversion.h"
#include "platform/ascii.h"

namespace converter {

namespace {

// Windows Media Video 8 in an ASF file, a key frame every second.
const WmvProfile kSystemProfiles[] = {
    {kWmvProfileGuid, "asf", AV_CODEC_ID_WMV2, true, 1},
};

// Longest output path the writer takes.
constexpr size_t kMaxPathLength = 2048;

bool SameGuid(const std::string& a, const char* b) { return platform::ascii::EqualsNoCase(a, b); }

// About a sixth of a bit per pixel, enough for a steady camera picture; never
// below 100 kbit/s, so small pictures stay readable.
int64_t BitRateFor(int width, int height, int frameRate) {
  return std::max<int64_t>(100000, int64_t(width) * height * frameRate / 6);
}

}  // namespace

const WmvProfile* FindSystemProfile(const std::string& guid) {
  for (const WmvProfile& p : kSystemProfiles)
    if (SameGuid(guid, p.guid)) return &p;
  return nullptr;
}

CWmvWriter::CWmvWriter(std::string path, const std::string& profileGuid, uint32_t frameRate)
    : path_(std::move(path)), frameRate_(frameRate) {
  Construct(FindSystemProfile(profileGuid));
}

CWmvWriter::CWmvWriter(std::string path, const WmvProfile* profile, uint32_t frameRate)
    : path_(std::move(path)), frameRate_(frameRate) {
  Construct(profile);
}

CWmvWriter::~CWmvWriter() { Release(); }

bool CWmvWriter::EncoderInstalled(const std::string& profileGuid) {
  const WmvProfile* profile = FindSystemProfile(profileGuid);
  return profile && avcodec_find_encoder(AVCodecID(profile->codecId));
}

// The construction steps of the writer's design. The profile manager is the table
// of built-in profiles, which is always there; the media writer is the container.
void CWmvWriter::Construct(const WmvProfile* profile) {
  if (!profile) {
    Fail("Unable to Load System Profile");
    return;
  }
  if (!stream_.CreateContainer(profile->container)) {
    Fail("Unable to Create Media Writer Object");
    return;
  }
  if (!avcodec_find_encoder(AVCodecID(profile->codecId))) {
    Fail("Unable to Set System Profile");
    return;
  }
  if (!profile->acceptsVideo) {
    Fail("Profile Does not Accept Video input");
    return;
  }
  if (path_.empty() || path_.size() > kMaxPathLength) {
    Fail("Unable to Convert Output Filename");
    return;
  }
  if (!stream_.SetFileName(path_)) {
    Fail("Unable to Set Output Filename");
    return;
  }
  profile_ = profile;
  state_ = kCreated;
}

bool CWmvWriter::SetUp(int32_t width, int32_t height, int32_t bitsPerPixel) {
  if (!stream_.AllocatePicture() || !stream_.AllocatePacket()) return Fail("Unable to Create Device Context");
  if (!CEncodedStream::InputDepthKnown(bitsPerPixel) || width <= 0 || height <= 0 || frameRate_ == 0 ||
      frameRate_ > INT_MAX)
    return Fail("Unable to Set Media Type");
  EncoderSettings settings;
  settings.codec = avcodec_find_encoder(AVCodecID(profile_->codecId));
  settings.frameRate = int(frameRate_);
  settings.keyFrameInterval = std::max(1, profile_->keyFrameSeconds * int(frameRate_));
  settings.bitRate = BitRateFor(width, height, int(frameRate_));
  settings.clock = PacketClock::MillisecondsFloor;
  if (!stream_.AddStream(nullptr) || !stream_.OpenEncoder(settings, width, height) || !stream_.AllocatePictureBuffer())
    return Fail("Unable to Set Input Properties for Media Writer");
  if (!stream_.OpenFile() || !stream_.WriteHeader()) return Fail("Unable to Initialize Writing");
  return true;
}

bool CWmvWriter::WritePicture(bool prepared) {
  if (!prepared) return Fail("Unable to Allocate Memory");
  // The stream stamps frame k at floor(k x 1000 / rate) ms, the time kept here.
  const bool written = stream_.EncodePicture(frameCounter_);
  ++frameCounter_;
  nextSampleTime_ = FrameTimeMs(uint64_t(frameCounter_), frameRate_);
  if (!written) return Fail("Unable to Write Frame");
  ++framesWritten_;
  return true;
}

}  // namespace converter
