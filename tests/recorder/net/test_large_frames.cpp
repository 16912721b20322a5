// Pictures as modern cameras send them, through the real network worker into an MJPG
// file: 1920x1080 frames of about 1 MB, and frames that embed a preview picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "media/mjpg_reader.h"

#include "media/frame_image.h"
#include "media/jpeg_codec.h"
#include "media/mjpg.h"
#include "recorder/camera/messages.h"
#include "recorder/camera/camera_record.h"
#include "recorder/camera/events.h"
#include "recorder/net/soc_thread.h"
#include "tests/recorder/net/worker_test_support.h"
#include "tools/testcam/testcam_server.h"

using namespace recorder;

namespace {

using Bytes = std::vector<uint8_t>;
using worker_test::EventSink;
using worker_test::WaitFor;

class SilentPlayer : public frame::SoundPlayer {
 public:
  void Play(const std::string&) override {}
};

// A push camera recorded with every frame saved, until the camera's frame limit.
struct PushRecording {
  explicit PushRecording(testcam::Options options, bool storeAsSent = false, bool motion = false)
      : server(options) {
    EXPECT_TRUE(server.Start());
    window = platform::RegisterWindow(&main);
    auto cam = camera::CreateDefaultCamera();
    camera::SetText(cam->url, server.Url("video.mjpg"));
    cam->pushStream = 1;
    camera::SetText(cam->savePath, Path());
    cam->motionEnabled = motion ? 1 : 0;
    cam->frameSaveCount = 1000;  // with motion on, every frame is still saved
    cam->storeAsSent = storeAsSent ? 1 : 0;
    cam->frameDelayMs = 0;
    worker::WorkerParams params;
    params.record = std::move(cam);
    params.logThread = events.Id();
    params.mainWindow = window;
    params.soundPlayer = std::make_shared<SilentPlayer>();
    net::WorkerTiming timing;
    timing.watchdogMs = 120000;  // the quiet camera after its last frame is not reconnected
    worker = net::CSocThread::Start(std::move(params), timing);
  }
  ~PushRecording() {
    if (worker) {
      platform::Post<camera::to_worker::ThreadStop>(worker->Id(), camera::kStopReasonDiscard);
      EXPECT_TRUE(worker->Wait(10000));
    }
    platform::UnregisterWindow(window);
    server.Stop();
  }
  std::string Path() const { return dir.Path("rec/video.mjpg"); }
  size_t SavedFrames() {
    std::vector<media::mjpg::FrameSpan> frames;
    media::mjpg::ReadAllFrames(Path(), frames);
    return frames.size();
  }
  // Waits for `count` saved frames, then stops the worker so the file is complete.
  bool RecordFrames(size_t count, int timeoutMs) {
    if (!worker) return false;
    const bool done = WaitFor([&] { return SavedFrames() >= count; }, timeoutMs);
    platform::Post<camera::to_worker::ThreadStop>(worker->Id(), camera::kStopReasonStop);
    const bool stopped = worker->Wait(10000);
    worker.reset();
    return done && stopped;
  }

  testcam::Server server;
  test_support::ScopedTempDir dir{"large_frames"};
  EventSink events;
  platform::CollectingWindowTarget main;
  platform::WindowHandle window = 0;
  platform::ThreadHandlePtr worker;
};

// Mean absolute difference of two decoded pictures of the same size, per byte.
double MeanDifference(const media::FrameImage& a, const media::FrameImage& b) {
  if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 255;
  uint64_t sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) sum += uint64_t(std::abs(int(a.pixels[i]) - int(b.pixels[i])));
  return double(sum) / double(a.pixels.size());
}

// Every frame of the file lies end to end, decodes to the camera's full picture and
// shows what the camera sent (the recorder re-encodes, so closely, not exactly).
void ExpectWholeFrames(const std::string& path, size_t count, const Bytes& served, size_t minLength) {
  media::FrameImage sent;
  ASSERT_TRUE(media::DecodeJpeg(served.data(), served.size(), sent));
  std::vector<media::mjpg::FrameSpan> frames;
  Bytes file;
  ASSERT_TRUE(media::mjpg::ReadAllFrames(path, frames, &file));
  ASSERT_EQ(frames.size(), count);
  size_t pos = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(frames[i].start, pos);
    EXPECT_TRUE(frames[i].hasTimestamp);
    EXPECT_GE(frames[i].length, minLength);
    pos = frames[i].next;
    media::FrameImage got;
    ASSERT_TRUE(media::DecodeJpeg(&file[frames[i].start], frames[i].length, got));
    EXPECT_EQ(got.width, sent.width);
    EXPECT_EQ(got.height, sent.height);
    EXPECT_LT(MeanDifference(got, sent), 12.0);
  }
  EXPECT_EQ(pos, file.size());  // nothing in the file that is not a whole frame
}

TEST(LargeFrames, FullHdPushFramesAreRecordedAndReadBack) {
  testcam::Options o;
  o.width = 1920;
  o.height = 1080;
  o.noise = true;  // about 1 MB per picture, and as much again once re-encoded
  o.quality = 60;
  o.fps = 10;
  o.frameLimit = 4;
  PushRecording rec(o);
  ASSERT_TRUE(rec.RecordFrames(4, 30000)) << "saved " << rec.SavedFrames();
  ASSERT_GT(rec.server.Frames()[0].size(), 800000u);
  EXPECT_EQ(rec.server.FramesServed(), 4u);
  ExpectWholeFrames(rec.Path(), 4, rec.server.Frames()[0], media::mjpg::kReadWindow + 1);
  EXPECT_EQ(rec.events.CountOf(camera::kEventBufferFullExit), 0u);
  EXPECT_EQ(rec.events.CountOf(camera::kEventBufferFullRestart), 0u);
}

TEST(LargeFrames, PushFramesWithAPreviewPictureAreAllRecorded) {
  testcam::Options o;
  o.width = 320;
  o.height = 240;
  o.fps = 25;
  o.mode = testcam::Mode::Thumbnail;
  o.frameLimit = 6;
  PushRecording rec(o);
  ASSERT_TRUE(rec.RecordFrames(6, 30000)) << "saved " << rec.SavedFrames();
  EXPECT_EQ(rec.server.FramesServed(), 6u);
  ExpectWholeFrames(rec.Path(), 6, rec.server.Picture(testcam::Mode::Thumbnail, 0), 1);
}

// The frame without its time-stamp comment: FF FE, length, text, as the writer
// inserts it at the first FF FE of the frame.
Bytes WithoutStamp(const uint8_t* frame, size_t length) {
  static const uint8_t kCom[2] = {0xFF, 0xFE};
  const auto at = std::search(frame, frame + length, kCom, kCom + 2);
  if (at + 4 > frame + length) return Bytes(frame, frame + length);
  const size_t segment = 2 + (size_t(at[2]) << 8 | at[3]);
  Bytes out(frame, at);
  out.insert(out.end(), at + std::min<size_t>(segment, size_t(frame + length - at)), frame + length);
  return out;
}

// Frames counted by ffprobe reading the file as a stream of JPEG pictures; -1 when it fails.
long FfprobeFrames(const std::string& path) {
  const std::string command = "ffprobe -v error -f mjpeg -count_frames -select_streams v:0 "
                              "-show_entries stream=nb_read_frames -of csv=p=0 '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char line[64] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  const int rc = ::pclose(pipe);
  if (!got || rc != 0) return -1;
  return std::strtol(line, nullptr, 10);
}

// Stored as sent, with motion measured: every frame is the camera's picture byte for
// byte apart from the inserted time stamp, and the player's reader and ffprobe read
// each one. Pictures that carry the camera's own comment keep it after ours; pictures
// with a preview picture inside, which readers would cut short, are re-encoded.
struct AsSentRow {
  const char* name;
  testcam::Mode mode;
  bool sameBytes;
};

void PrintTo(const AsSentRow& row, std::ostream* os) { *os << row.name; }

class StoredAsSent : public testing::TestWithParam<AsSentRow> {};

TEST_P(StoredAsSent, FramesAreTheCamerasBytesAndReadBack) {
  const AsSentRow& row = GetParam();
  testcam::Options o;
  o.width = 320;
  o.height = 240;
  o.motion = true;
  o.fps = 25;
  o.mode = row.mode;
  o.frameLimit = 8;
  PushRecording rec(o, true, true);
  ASSERT_TRUE(rec.RecordFrames(8, 30000)) << "saved " << rec.SavedFrames();

  std::vector<media::mjpg::FrameSpan> frames;
  Bytes file;
  ASSERT_TRUE(media::mjpg::ReadAllFrames(rec.Path(), frames, &file));
  ASSERT_EQ(frames.size(), 8u);
  media::CMjpgReader player;
  ASSERT_TRUE(player.Open(rec.Path(), media::CMjpgReader::Sharing::ReadOnly));
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    const Bytes served = rec.server.Picture(row.mode, i);
    const Bytes stored = WithoutStamp(&file[frames[i].start], frames[i].length);
    EXPECT_EQ(stored == served, row.sameBytes);
    EXPECT_TRUE(frames[i].hasTimestamp);
    Bytes read;
    uint32_t stamp = 0;
    ASSERT_TRUE(player.ReadNextFrame(read, &stamp));
    EXPECT_EQ(read, Bytes(&file[frames[i].start], &file[frames[i].start] + frames[i].length));
    EXPECT_EQ(stamp, frames[i].timestamp);
    media::FrameImage picture;
    ASSERT_TRUE(media::DecodeJpeg(read.data(), read.size(), picture));
    EXPECT_EQ(picture.width, 320);
  }
  EXPECT_EQ(FfprobeFrames(rec.Path()), 8);
}

INSTANTIATE_TEST_SUITE_P(Camera, StoredAsSent,
                         testing::Values(AsSentRow{"plain", testcam::Mode::Normal, true},
                                         AsSentRow{"withPreview", testcam::Mode::Thumbnail, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StoredAsSentUndecodable, PicturesThatDoNotDecodeAreNeitherStoredNorMeasured) {
  testcam::Options o;
  o.width = 320;
  o.height = 240;
  o.fps = 25;
  o.mode = testcam::Mode::Undecodable;
  PushRecording rec(o, true, true);
  ASSERT_TRUE(WaitFor([&] { return rec.server.FramesServed() >= 10; }, 10000));
  ASSERT_TRUE(WaitFor([&] { return rec.events.CountOf(camera::kEventImageUndecodable) == 1; }, 5000));
  EXPECT_EQ(rec.SavedFrames(), 0u);
}

}  // namespace
