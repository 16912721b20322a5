// The offline watch and motion episodes: which event each step of a camera's
// life gives, on a clock the test moves.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/camera/events.h"
#include "recorder/recording/camera_watch.h"

using namespace recorder;
using recording::WatchEvent;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

std::string Text(const std::optional<WatchEvent>& e) {
  if (!e) return "-";
  return std::string(camera::EventText(e->code)) + " " + e->detail;
}

TEST(CameraWatch, OfflineAfterTheSetTimeWithoutAPictureAndBackWithTheGap) {
  enum Step { Start, Picture, Poll };
  struct Case {
    int atMs;
    Step step;
    const char* expected;
  } cases[] = {
      {0, Start, "-"},
      {59999, Poll, "-"},  // a refused camera: no picture since the start
      {60000, Poll, "Camera offline, no picture for: 60 s"},
      {70000, Poll, "-"},  // said once
      {75000, Picture, "Camera back online after: 75 s"},
      {76000, Picture, "-"},
      {135999, Poll, "-"},
      {136000, Poll, "Camera offline, no picture for: 60 s"},
      {136000 + 3 * 3600 * 1000, Picture, "Camera back online after: 3 h 1 min"},  // since the last picture
      {136000 + 3 * 3600 * 1000 + 150000, Poll, "Camera offline, no picture for: 60 s"},
  };
  recording::OfflineWatch watch(seconds(60));
  const Clock::time_point t0{};
  EXPECT_EQ(watch.NextCheck(), Clock::time_point::max()) << "not started";
  for (const Case& c : cases) {
    const Clock::time_point now = t0 + milliseconds(c.atMs);
    std::optional<WatchEvent> e;
    if (c.step == Start) watch.Start(now);
    if (c.step == Picture) e = watch.OnPicture(now);
    if (c.step == Poll) e = watch.Poll(now);
    EXPECT_EQ(Text(e), c.expected) << "at " << c.atMs;
    if (c.step == Start) {
      EXPECT_EQ(watch.NextCheck(), now + seconds(60));
    }
  }
}

TEST(CameraWatch, MotionEpisodesStartOnTheFirstTriggerAndEndAfterTheQuietTime) {
  struct Case {
    int atMs;
    bool poll;  // a timer, not a frame
    bool triggered;
    const char* path;
    const char* expected;
  } cases[] = {
      {0, false, false, "/r/a.mjpg", "-"},
      {100, false, true, "/r/a.mjpg", "Motion started, file: /r/a.mjpg"},
      {200, false, true, "/r/b.mjpg", "-"},  // the same episode
      {5000, false, false, "/r/b.mjpg", "-"},
      {10199, false, false, "/r/b.mjpg", "-"},
      {10200, false, false, "/r/b.mjpg", "Motion ended, file: /r/a.mjpg"},  // quiet since the last trigger
      {10300, false, false, "/r/b.mjpg", "-"},
      {11000, false, true, "/r/c_4.jpg", "Motion started, file: /r/c_4.jpg"},
      {20999, true, false, "", "-"},
      {21000, true, false, "", "Motion ended, file: /r/c_4.jpg"},  // frames stopped: the timer ends it
      {22000, true, false, "", "-"},
  };
  recording::MotionEpisodes episodes(seconds(10));
  const Clock::time_point t0{};
  for (const Case& c : cases) {
    const Clock::time_point now = t0 + milliseconds(c.atMs);
    const auto e = c.poll ? episodes.Poll(now) : episodes.OnFrame(c.triggered, now, c.path);
    EXPECT_EQ(Text(e), c.expected) << "at " << c.atMs;
  }
}

}  // namespace
