// Unattended use through the tollan program: retention keeps a camera's folder
// within its limits while it records, never touching the open file or anything
// outside the camera's root, and the event command hears of what happens.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/frame_image.h"
#include "media/jpeg_codec.h"
#include "media/mjpg.h"
#include "tests/recorder/net/worker_test_support.h"
#include "tests/test_support.h"
#include "tools/testcam/testcam_server.h"
#include "tests/recorder/app/run_tollan.h"

namespace fs = std::filesystem;
using worker_test::WaitFor;

namespace {

int RunTollan(const std::string& home, const std::vector<std::string>& args, std::string* output = nullptr) {
  return tollan_test::RunTollanWith(home, args, output, {.setHome = true});
}

// An MJPG file of one small frame stamped `when`.
void WriteStampedMjpg(const std::string& path, uint32_t when) {
  fs::create_directories(fs::path(path).parent_path());
  media::FrameImage image;
  image.width = 16;
  image.height = 16;
  image.bitsPerPixel = 24;
  image.pixels.assign(image.Size(), 40);
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(media::EncodeJpeg(image, 50, jpeg));
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(media::mjpg::WriteFrame(fd, jpeg.data(), jpeg.size(), when), media::mjpg::WriteResult::Ok);
  ::close(fd);
}

bool HeldOpen(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
  ::close(fd);
  return held;
}

struct Sample {
  uint64_t total = 0;  // every recording below the root
  uint64_t open = 0;   // the files a recorder holds
  std::set<std::string> files;
};

Sample TakeSample(const std::string& root) {
  Sample s;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (ec) break;
    std::error_code sizeError;
    if (!it->is_regular_file(sizeError) || it->path().extension() != ".mjpg") continue;
    const uint64_t size = it->file_size(sizeError);
    if (sizeError) continue;  // removed between listing and looking
    s.total += size;
    if (HeldOpen(it->path())) s.open += size;
    s.files.insert(it->path().string());
  }
  return s;
}

std::string ReadText(const std::string& path) { return test_support::ReadFile(path); }

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

TEST(Unattended, RetentionKeepsTheFolderWithinItsLimitWhileRecording) {
  testcam::Options o;
  o.width = 320;
  o.height = 240;
  o.fps = 10;
  o.noise = true;  // pictures as large as real ones: about 0.5 MB a second
  testcam::Server camera(o);
  ASSERT_TRUE(camera.Start());
  testcam::Options refusedOptions;
  refusedOptions.mode = testcam::Mode::Refuse;
  testcam::Server refused(refusedOptions);
  ASSERT_TRUE(refused.Start());

  test_support::ScopedTempDir home{"unattended"};
  const std::string root = home.Path("rec/");
  constexpr uint64_t kLimit = 1 << 20;
  // Camera 0: a camera that refuses every connection.
  // Camera 1: a save path whose root is the home folder itself gets no retention,
  // and --set says so.
  // Camera 2: a new file every second in a folder per minute, within 1 MB and 1 day.
  std::string index;
  for (const std::string& url : {refused.Url("video.mjpg"), camera.Url("video.mjpg"), camera.Url("video.mjpg")}) {
    ASSERT_EQ(RunTollan(home.Path(), {"--add-ip", url, "--push-stream"}, &index), 0);
  }
  ASSERT_EQ(index, "2\n");
  ASSERT_EQ(RunTollan(home.Path(), {"--set", "0", "savePath=" + home.Path("refused/%S.mjpg")}), 0);
  std::string warning;
  ASSERT_EQ(RunTollan(home.Path(),
                      {"--set", "1", "savePath=" + home.Path("%S.mjpg"), "frameDelayMs=0", "motionEnabled=0",
                       "keepMegabytes=1"},
                      &warning),
            0);
  EXPECT_NE(warning.find("No retention for this camera"), std::string::npos) << warning;
  ASSERT_EQ(RunTollan(home.Path(), {"--set", "2", "savePath=" + root + "%M/%S.mjpg", "frameDelayMs=0",
                                    "motionEnabled=0", "keepMegabytes=1", "keepDays=1", "name=yard"}),
            0);
  ASSERT_EQ(RunTollan(home.Path(), {"--log-to-file", "1"}), 0);
  // The event command writes its variables; for camera 2's start it hangs, which
  // must hold up neither recording nor the other cameras' commands.
  const std::string events = home.Path("events.txt");
  {
    std::ofstream script(home.Path("on-event.sh"));
    script << "printf '%s|%s|%s|%s\\n' \"$TOLLAN_CAMERA\" \"$TOLLAN_NAME\" \"$TOLLAN_EVENT\" \"$TOLLAN_DETAIL\" >> '"
           << events << "'\n"
           << "case \"$TOLLAN_CAMERA $TOLLAN_EVENT\" in '2 Socket thread started'*) sleep 60;; esac\n";
  }
  ASSERT_EQ(RunTollan(home.Path(), {"--on-event", "sh " + home.Path("on-event.sh")}), 0);

  // Old recordings already there: one whose last frame is three days old goes by
  // age; the same name outside the root stays, as does a file the pattern does not make.
  const uint32_t now = uint32_t(std::time(nullptr));
  WriteStampedMjpg(root + "77/77.mjpg", now - 3 * 86400);
  WriteStampedMjpg(home.Path("other/77/77.mjpg"), now - 3 * 86400);
  std::ofstream(root + "77/notes.txt") << "kept";
  WriteStampedMjpg(home.Path("59.mjpg"), now - 3 * 86400);  // below the refused root: stays

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("TOLLAN_HOME", home.Path().c_str(), 1);
    setenv("HOME", home.Path().c_str(), 1);
    execl(TOLLAN_PROGRAM, "tollan", "--headless", static_cast<char*>(nullptr));
    _exit(127);
  }

  // Every quarter second for 20 s: the folder holds at most the limit plus the file
  // being written; a moment over it (a new file opened, the check under way) may
  // not last a second.
  std::set<std::string> seen;
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  Clock::time_point overSince{};
  bool over = false;
  size_t samples = 0, withOpenFile = 0;
  uint64_t worst = 0;
  while (Clock::now() - start < std::chrono::seconds(20)) {
    const Sample s = TakeSample(root);
    ++samples;
    if (s.open > 0) ++withOpenFile;
    seen.insert(s.files.begin(), s.files.end());
    const uint64_t beyond = s.total > kLimit + s.open ? s.total - kLimit - s.open : 0;
    if (beyond > 0) {
      if (!over) overSince = Clock::now();
      over = true;
      worst = std::max<uint64_t>(worst, uint64_t((Clock::now() - overSince) / std::chrono::milliseconds(1)));
    } else {
      over = false;
    }
    usleep(250 * 1000);
  }
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  camera.Stop();
  refused.Stop();

  EXPECT_LT(worst, 1000u) << "over the limit for " << worst << " ms";
  EXPECT_GT(withOpenFile, samples * 3 / 4) << "recording stopped";
  EXPECT_GE(seen.size(), 15u) << "a new file every second";

  const std::string log = ReadText(home.Path("Logfile.txt"));
  EXPECT_EQ(Count(log, "Write error"), 0u) << log;
  EXPECT_EQ(Count(log, "Failed to create mjpg file"), 0u) << log;
  // Each removal is one log line, and every file that went is among them.
  const Sample end = TakeSample(root);
  size_t gone = 0;
  for (const std::string& f : seen) {
    if (end.files.count(f)) continue;
    ++gone;
    EXPECT_EQ(Count(log, "Recording removed to stay within limits, file: " + f + "\r\n"), 1u) << f;
  }
  EXPECT_EQ(Count(log, "Recording removed to stay within limits, file:"), gone);
  EXPECT_GE(gone, 10u);
  EXPECT_FALSE(fs::exists(root + "77/77.mjpg"));
  EXPECT_TRUE(fs::exists(root + "77/notes.txt"));
  EXPECT_TRUE(fs::exists(home.Path("other/77/77.mjpg")));
  EXPECT_TRUE(fs::exists(home.Path("59.mjpg")));
  EXPECT_EQ(Count(log, "No retention for this save path: " + home.Path("%S.mjpg") + " (camera 1: "), 1u) << log;

  // The event command heard the starts with the cameras' numbers and names, the
  // refused camera's failures, and camera 2's removals although its first command hung.
  const std::string heard = ReadText(events);
  EXPECT_NE(heard.find("2|yard|Socket thread started, URL:|" + camera.Url("video.mjpg")), std::string::npos) << heard;
  EXPECT_NE(heard.find("1||Socket thread started, URL:|" + camera.Url("video.mjpg")), std::string::npos) << heard;
  EXPECT_NE(heard.find("0||Socket connect failed, will retry every 10sec, Server:"), std::string::npos) << heard;
  EXPECT_NE(heard.find("|No retention for this save path:|" + home.Path("%S.mjpg")), std::string::npos) << heard;
  // Camera 2's commands wait behind the hanging one (one at a time per camera).
  EXPECT_EQ(Count(heard, "2|yard|Recording removed"), 0u) << heard;
}

}  // namespace

namespace {

// The frame path's own events through the event command: a refused camera goes
// offline after --offline-after seconds and comes back with the gap; a camera
// that sees motion starts an episode with the path of its triggering frame.
TEST(Unattended, EventCommandHearsOfflineBackOnlineAndMotion) {
  testcam::Options moving;
  moving.width = 160;
  moving.height = 120;
  moving.fps = 10;
  moving.motion = true;
  testcam::Server camera(moving);
  ASSERT_TRUE(camera.Start());
  testcam::Options refusing;
  refusing.mode = testcam::Mode::Refuse;
  testcam::Server dark(refusing);
  ASSERT_TRUE(dark.Start());

  test_support::ScopedTempDir home{"unattended"};
  ASSERT_EQ(RunTollan(home.Path(), {"--add-ip", camera.Url("video.mjpg"), "--push-stream"}), 0);
  ASSERT_EQ(RunTollan(home.Path(), {"--set", "0", "savePath=" + home.Path("rec/a/%S.mjpg"), "frameDelayMs=0",
                                    "motionEnabled=1", "motionTriggerLevel=1", "name=drive"}),
            0);
  ASSERT_EQ(RunTollan(home.Path(), {"--add-ip", dark.Url("video.mjpg"), "--push-stream"}), 0);
  ASSERT_EQ(RunTollan(home.Path(), {"--set", "1", "savePath=" + home.Path("rec/b/%S.mjpg"), "frameDelayMs=0"}), 0);
  ASSERT_EQ(RunTollan(home.Path(), {"--offline-after", "2"}), 0);
  const std::string events = home.Path("events.txt");
  {
    std::ofstream script(home.Path("on-event.sh"));
    script << "printf '%s|%s|%s|%s\\n' \"$TOLLAN_CAMERA\" \"$TOLLAN_NAME\" \"$TOLLAN_EVENT\" \"$TOLLAN_DETAIL\" >> '"
           << events << "'\n";
  }
  ASSERT_EQ(RunTollan(home.Path(), {"--on-event", "sh " + home.Path("on-event.sh")}), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("TOLLAN_HOME", home.Path().c_str(), 1);
    execl(TOLLAN_PROGRAM, "tollan", "--headless", static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto heard = [&](const std::string& what) { return ReadText(events).find(what) != std::string::npos; };
  EXPECT_TRUE(WaitFor([&] { return heard("1||Camera offline, no picture for:|2 s"); }, 10000)) << ReadText(events);
  dark.SetMode(testcam::Mode::Normal);
  // The refused camera tries again every 10 s.
  EXPECT_TRUE(WaitFor([&] { return heard("1||Camera back online after:|"); }, 20000)) << ReadText(events);
  EXPECT_TRUE(WaitFor([&] { return heard("0|drive|Motion started, file:|" + home.Path("rec/a/")); }, 10000))
      << ReadText(events);
  EXPECT_FALSE(heard("0|drive|Camera offline"));
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  camera.Stop();
  dark.Stop();
}

}  // namespace
