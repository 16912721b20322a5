// Pictures as modern cameras send them, through the real network worker into an MJPG
// file: 1920x1080 frames of about 1 MB, and frames that embed a preview picture.
#include <gtest/gtest.h>

#include <cstdlib>

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
  explicit PushRecording(testcam::Options options) : server(options) {
    EXPECT_TRUE(server.Start());
    window = platform::RegisterWindow(&main);
    auto cam = camera::CreateDefaultCamera();
    camera::SetText(cam->url, server.Url("video.mjpg"));
    cam->pushStream = 1;
    camera::SetText(cam->savePath, Path());
    cam->motionEnabled = 0;
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

}  // namespace
