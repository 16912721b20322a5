// Recording output: MJPG and numbered JPEG files, path changes, failures and cleaning.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/camera/events.h"
#include "tests/test_support.h"
#include "media/mjpg.h"
#include "recorder/recording/recording_output.h"
#include "media/jpeg_codec.h"

using namespace recorder;

namespace fs = std::filesystem;
using recording::RecordingOutput;
using SaveResult = recording::RecordingOutput::SaveResult;

namespace {

class FakeReporter : public recording::RecordingReporter {
 public:
  void ReportStatus(int32_t status) override { statuses.push_back(status); }
  void ReportEvent(int32_t code, const std::string& argument) override { events.emplace_back(code, argument); }
  bool StopRequested() const override {
    ++peeks;
    return stopAfterPeeks >= 0 && peeks > stopAfterPeeks;
  }
  std::vector<int32_t> statuses;
  std::vector<std::pair<int32_t, std::string>> events;
  mutable int peeks = 0;
  int stopAfterPeeks = -1;  // -1: never tells to stop
};

media::FrameImage TestImage(int seed) {
  media::FrameImage image;
  image.width = 32;
  image.height = 24;
  image.bitsPerPixel = 24;
  image.pixels.resize(image.Size());
  for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = uint8_t(i * 7 + seed * 31);
  return image;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t FrameCount(const std::string& path) {
  std::vector<media::mjpg::FrameSpan> frames;
  if (!media::mjpg::ReadAllFrames(path, frames)) return size_t(-1);
  return frames.size();
}

class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    camera_.motionEnabled = 0;
    camera_.jpegQuality = 60;
  }
  void SetPath(const std::string& path) { camera::SetText(camera_.savePath, path); }
  // A manual clock, so "%s" in a template is under the test's control.
  void UseClock(RecordingOutput& out) {
    out.SetClock(clock_);
  }

  test_support::ScopedTempDir tmp_{"recording"};
  const std::string root_ = tmp_.Path().substr(0, tmp_.Path().size() - 1);  // no trailing '/'
  camera::CameraRecord camera_;
  FakeReporter reporter_;
  std::shared_ptr<platform::ManualClock> clock_ = std::make_shared<platform::ManualClock>(1000);
};

// ---- MJPG files -------------------------------------------------------------

TEST_F(RecordingTest, StartEmptiesAndResumeAppends) {
  const std::string path = root_ + "/cams/day/video.mjpg";
  SetPath(path);
  {
    RecordingOutput out(camera_, reporter_);
    ASSERT_TRUE(out.StartRecording(false));
    EXPECT_EQ(out.currentPath(), path);
    EXPECT_EQ(out.lastFile(), "");
    EXPECT_EQ(out.SaveFrame(TestImage(1)), SaveResult::Handled);
    EXPECT_EQ(out.lastFile(), path);
    EXPECT_EQ(out.SaveFrame(TestImage(2)), SaveResult::Handled);
  }
  EXPECT_EQ(FrameCount(path), 2u);
  {
    RecordingOutput out(camera_, reporter_);
    ASSERT_TRUE(out.StartRecording(true));
    EXPECT_EQ(out.SaveFrame(TestImage(3)), SaveResult::Handled);
  }
  EXPECT_EQ(FrameCount(path), 3u);
  {
    RecordingOutput out(camera_, reporter_);
    ASSERT_TRUE(out.StartRecording(false));
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_EQ(out.SaveFrame(TestImage(4)), SaveResult::Handled);
  }
  EXPECT_EQ(FrameCount(path), 1u);
  EXPECT_TRUE(reporter_.statuses.empty());
  EXPECT_TRUE(reporter_.events.empty());
}

TEST_F(RecordingTest, PathChangeStartsNewEmptyFileAndClosesTheOld) {
  SetPath(root_ + "/rec/v_%s.mjpg");
  const std::string first = root_ + "/rec/v_1000.mjpg";
  const std::string second = root_ + "/rec/v_2000.mjpg";
  RecordingOutput out(camera_, reporter_);
  UseClock(out);
  ASSERT_TRUE(out.StartRecording(true));
  EXPECT_EQ(out.currentPath(), first);
  ASSERT_EQ(out.SaveFrame(TestImage(1)), SaveResult::Handled);
  ASSERT_EQ(out.SaveFrame(TestImage(2)), SaveResult::Handled);

  // Stale bytes in the next file must not survive the change, even under resume.
  std::ofstream(second) << "stale bytes that are not a frame";
  clock_->SetWallTime(2000);
  ASSERT_EQ(out.SaveFrame(TestImage(3)), SaveResult::Handled);
  EXPECT_EQ(out.currentPath(), second);

  std::vector<media::mjpg::FrameSpan> frames;
  ASSERT_TRUE(media::mjpg::ReadAllFrames(first, frames));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].timestamp, 1000u);  // stamped with the output's clock
  const std::vector<uint8_t> bytes = ReadFile(second);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
  EXPECT_EQ(FrameCount(second), 1u);
  // The old file is no longer held: another writer can lock it, the new one cannot.
  const int oldFd = ::open(first.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(oldFd, 0);
  EXPECT_EQ(::flock(oldFd, LOCK_EX | LOCK_NB), 0);
  ::close(oldFd);
  const int newFd = ::open(second.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(newFd, 0);
  EXPECT_NE(::flock(newFd, LOCK_EX | LOCK_NB), 0);
  ::close(newFd);
}

TEST_F(RecordingTest, SecondOutputOnTheSameFileFailsWithoutTouchingIt) {
  const std::string path = root_ + "/shared/video.mjpg";
  SetPath(path);
  RecordingOutput first(camera_, reporter_);
  ASSERT_TRUE(first.StartRecording(false));
  ASSERT_EQ(first.SaveFrame(TestImage(1)), SaveResult::Handled);

  FakeReporter other;
  RecordingOutput second(camera_, other);
  EXPECT_FALSE(second.StartRecording(false));
  EXPECT_EQ(other.statuses, std::vector<int32_t>{camera::kStatusOpenFileFailed});
  ASSERT_EQ(other.events.size(), 1u);
  EXPECT_EQ(other.events[0], std::make_pair(int32_t(camera::kEventMjpgCreateFailed), path));
  EXPECT_EQ(FrameCount(path), 1u);

  ASSERT_EQ(first.SaveFrame(TestImage(2)), SaveResult::Handled);
  EXPECT_EQ(FrameCount(path), 2u);
  EXPECT_TRUE(reporter_.statuses.empty());
}

TEST_F(RecordingTest, SavingDisabledStillPreparesTheFile) {
  const std::string path = root_ + "/off/video.mjpg";
  fs::create_directories(root_ + "/off");
  std::ofstream(path) << "old recording";
  camera_.saveEnabled = 0;
  SetPath(path);
  RecordingOutput out(camera_, reporter_);
  ASSERT_TRUE(out.StartRecording(false));
  EXPECT_EQ(fs::file_size(path), 0u);
  EXPECT_FALSE(out.ShouldSave());
}

// ---- Start failures -----------------------------------------------------------

TEST_F(RecordingTest, StartFailuresReportStatusAndEvent) {
  {  // no separator at all: there is no directory to create
    FakeReporter rep;
    SetPath("video.mjpg");
    RecordingOutput out(camera_, rep);
    EXPECT_FALSE(out.StartRecording(false));
    EXPECT_EQ(rep.statuses, std::vector<int32_t>{camera::kStatusDirCreateFailed});
    ASSERT_EQ(rep.events.size(), 1u);
    EXPECT_EQ(rep.events[0], std::make_pair(int32_t(camera::kEventDirCreateFailed), std::string()));
  }
  {  // a regular file where a directory level should be
    FakeReporter rep;
    std::ofstream(root_ + "/blocker") << "x";
    SetPath(root_ + "/blocker/sub/video.mjpg");
    RecordingOutput out(camera_, rep);
    EXPECT_FALSE(out.StartRecording(false));
    EXPECT_EQ(rep.statuses, std::vector<int32_t>{camera::kStatusDirCreateFailed});
    ASSERT_EQ(rep.events.size(), 1u);
    EXPECT_EQ(rep.events[0], std::make_pair(int32_t(camera::kEventDirCreateFailed), root_ + "/blocker/sub/"));
  }
  {  // a relative path (from a settings file) is refused: where it lands would
     // depend on the folder the recorder was started in
    FakeReporter rep;
    const fs::path before = fs::current_path();
    ASSERT_EQ(::chdir(root_.c_str()), 0);
    fs::create_directories("rec");
    SetPath("rec/video.mjpg");
    RecordingOutput out(camera_, rep);
    EXPECT_FALSE(out.StartRecording(false));
    EXPECT_FALSE(fs::exists("rec/video.mjpg"));
    fs::current_path(before);
    EXPECT_EQ(rep.statuses, std::vector<int32_t>{camera::kStatusDirCreateFailed});
    ASSERT_EQ(rep.events.size(), 1u);
    EXPECT_EQ(rep.events[0], std::make_pair(int32_t(camera::kEventDirCreateFailed), std::string("rec/")));
  }
  {  // a pipe at the save path is refused instead of blocking the worker
    FakeReporter rep;
    const std::string fifo = root_ + "/pipe.mjpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    SetPath(fifo);
    RecordingOutput out(camera_, rep);
    EXPECT_FALSE(out.StartRecording(false));
    EXPECT_EQ(rep.statuses, std::vector<int32_t>{camera::kStatusOpenFileFailed});
  }
}

TEST_F(RecordingTest, EncodeFailureIsReportedAndNotCounted) {
  camera_.motionEnabled = 1;
  SetPath(root_ + "/e/video.mjpg");
  RecordingOutput out(camera_, reporter_);
  ASSERT_TRUE(out.StartRecording(false));
  media::FrameImage broken;  // no pixels at all
  EXPECT_EQ(out.SaveFrame(broken), SaveResult::NotHandled);
  EXPECT_EQ(out.saveCounter(), 0);
  EXPECT_TRUE(reporter_.statuses.empty());
  ASSERT_EQ(reporter_.events.size(), 1u);
  EXPECT_EQ(reporter_.events[0], std::make_pair(int32_t(camera::kEventEncodeFailed), out.currentPath()));
  EXPECT_EQ(FrameCount(out.currentPath()), 0u);
}

// ---- Save counter -------------------------------------------------------------

TEST_F(RecordingTest, SaveCounterLetsFrameSaveCountFramesThroughPerTrigger) {
  camera_.motionEnabled = 1;
  camera_.frameSaveCount = 5;
  const std::string path = root_ + "/m/video.mjpg";
  SetPath(path);
  RecordingOutput out(camera_, reporter_);
  ASSERT_TRUE(out.StartRecording(false));
  auto run = [&](int frames) {
    int saved = 0;
    for (int i = 0; i < frames; ++i) {
      if (!out.ShouldSave()) continue;
      EXPECT_EQ(out.SaveFrame(TestImage(i)), SaveResult::Handled);
      ++saved;
    }
    return saved;
  };
  EXPECT_EQ(run(12), 5);  // without any trigger
  EXPECT_EQ(out.saveCounter(), 5);
  out.OnMotionTrigger();
  EXPECT_EQ(run(12), 5);
  EXPECT_EQ(FrameCount(path), 10u);

  camera_.motionEnabled = 0;  // continuous recording: the counter stays at 0
  EXPECT_EQ(run(3), 3);
  EXPECT_EQ(out.saveCounter(), 0);
}

// ---- Numbered JPEG files ----------------------------------------------------------

TEST_F(RecordingTest, JpgRingWrapsAfterMaxCount) {
  camera_.saveAsMjpg = 0;
  camera_.maxJpgCount = 3;
  SetPath(root_ + "/j/video.mjpg");
  RecordingOutput out(camera_, reporter_);
  ASSERT_TRUE(out.StartRecording(false));
  const int expected[] = {1, 2, 3, 1, 2};
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(out.SaveFrame(TestImage(i)), SaveResult::Handled);
    EXPECT_EQ(out.jpgNumber(), expected[i]);
    EXPECT_EQ(out.lastFile(), root_ + "/j/video_" + std::to_string(expected[i]) + ".jpg");
  }
  EXPECT_FALSE(fs::exists(root_ + "/j/video_4.jpg"));
  EXPECT_FALSE(fs::exists(root_ + "/j/video.mjpg"));
  // _1 now holds the fourth frame, as the encoder gives it: no time-stamp comment.
  std::vector<uint8_t> fourth;
  ASSERT_TRUE(media::EncodeJpeg(TestImage(3), camera_.jpegQuality, fourth));
  EXPECT_EQ(ReadFile(root_ + "/j/video_1.jpg"), fourth);
  EXPECT_TRUE(fs::exists(root_ + "/j/video_3.jpg"));
  EXPECT_TRUE(reporter_.events.empty());
}

// A camera's own picture, in both output modes: the MJPG frame is the picture with
// the time stamp inserted, the JPEG file the picture byte for byte; LastJpeg hands
// the same bytes on without a copy, as it does an encoded frame's.
TEST_F(RecordingTest, PicturesStoredAsSentKeepTheCamerasBytes) {
  std::vector<uint8_t> camera;
  ASSERT_TRUE(media::EncodeJpeg(TestImage(5), 90, camera));
  const auto sent = std::make_shared<const std::vector<uint8_t>>(camera);
  for (const bool mjpg : {true, false}) {
    SCOPED_TRACE(mjpg);
    camera_.saveAsMjpg = mjpg ? 1 : 0;
    SetPath(root_ + (mjpg ? "/as-sent/video.mjpg" : "/as-sent/video.jpg"));
    RecordingOutput out(camera_, reporter_);
    UseClock(out);
    ASSERT_TRUE(out.StartRecording(false));
    ASSERT_EQ(out.SaveAsSent(sent), SaveResult::Handled);
    EXPECT_EQ(out.LastJpeg(), sent);
    out.StopRecording();
    std::vector<uint8_t> expected = camera;
    if (mjpg) {
      ASSERT_TRUE(media::mjpg::BuildFrame(camera.data(), camera.size(), 1000, expected));
    }
    EXPECT_EQ(ReadFile(mjpg ? root_ + "/as-sent/video.mjpg" : root_ + "/as-sent/video_1.jpg"), expected);
    ASSERT_EQ(out.SaveFrame(TestImage(6)), SaveResult::Handled);
    ASSERT_NE(out.LastJpeg(), nullptr);
    EXPECT_NE(*out.LastJpeg(), camera);
  }
  EXPECT_TRUE(reporter_.events.empty());
}

TEST_F(RecordingTest, JpgNamesCutOnlyTheFileExtension) {
  camera_.saveAsMjpg = 0;
  fs::create_directories(root_ + "/cam.d");
  {
    SetPath(root_ + "/cam.d/video");  // the '.' belongs to the directory
    RecordingOutput out(camera_, reporter_);
    ASSERT_TRUE(out.StartRecording(false));
    ASSERT_EQ(out.SaveFrame(TestImage(1)), SaveResult::Handled);
  }
  EXPECT_TRUE(fs::exists(root_ + "/cam.d/video_1.jpg"));
  {
    SetPath(root_ + "/cam.d/still.jpeg");
    RecordingOutput out(camera_, reporter_);
    ASSERT_TRUE(out.StartRecording(false));
    ASSERT_EQ(out.SaveFrame(TestImage(1)), SaveResult::Handled);
  }
  EXPECT_TRUE(fs::exists(root_ + "/cam.d/still_1.jpg"));
}

TEST_F(RecordingTest, JpgResumeContinuesAfterTheHighestNumber) {
  camera_.saveAsMjpg = 0;
  const std::string dir = root_ + "/r/";
  fs::create_directories(dir);
  for (const char* name : {"video_7.jpg", "video_12.jpg", "big_99999999999.jpg", "notes_99.txt"})
    std::ofstream(dir + name) << "x";
  SetPath(dir + "video.mjpg");
  RecordingOutput out(camera_, reporter_);
  ASSERT_TRUE(out.StartRecording(true));
  EXPECT_EQ(out.jpgNumber(), 12);
  EXPECT_GT(reporter_.peeks, 0);
  ASSERT_EQ(out.SaveFrame(TestImage(1)), SaveResult::Handled);
  EXPECT_TRUE(fs::exists(dir + "video_13.jpg"));

  RecordingOutput fresh(camera_, reporter_);
  ASSERT_TRUE(fresh.StartRecording(false));
  EXPECT_EQ(fresh.jpgNumber(), 0);
}

TEST_F(RecordingTest, JpgResumeIsAbandonedWhenToldToStop) {
  camera_.saveAsMjpg = 0;
  const std::string dir = root_ + "/s/";
  fs::create_directories(dir);
  std::ofstream(dir + "video_3.jpg") << "x";
  SetPath(dir + "video.mjpg");
  reporter_.stopAfterPeeks = 0;
  RecordingOutput out(camera_, reporter_);
  EXPECT_FALSE(out.StartRecording(true));
  EXPECT_TRUE(reporter_.statuses.empty());
  EXPECT_TRUE(reporter_.events.empty());

  FakeReporter calm;
  RecordingOutput stopped(camera_, calm);
  stopped.SetStopping();
  EXPECT_FALSE(stopped.StartRecording(true));
  EXPECT_TRUE(calm.statuses.empty());
}

TEST_F(RecordingTest, JpgFileThatCannotBeOpenedIsDroppedSilently) {
  camera_.saveAsMjpg = 0;
  camera_.motionEnabled = 1;
  const std::string dir = root_ + "/d/";
  fs::create_directories(dir + "video_1.jpg");  // a directory where the file should go
  SetPath(dir + "video.mjpg");
  RecordingOutput out(camera_, reporter_);
  ASSERT_TRUE(out.StartRecording(false));
  EXPECT_EQ(out.SaveFrame(TestImage(1)), SaveResult::NotHandled);
  EXPECT_EQ(out.saveCounter(), 0);
  EXPECT_TRUE(reporter_.statuses.empty());
  EXPECT_TRUE(reporter_.events.empty());
  EXPECT_EQ(out.SaveFrame(TestImage(2)), SaveResult::Handled);
  EXPECT_EQ(out.saveCounter(), 1);
  EXPECT_TRUE(fs::is_regular_file(dir + "video_2.jpg"));
}

// ---- Cleaning on a path change ----------------------------------------------------

TEST_F(RecordingTest, CleaningRemovesPlainFilesOnlyAndFollowsNoLinks) {
  camera_.cleanSaveDir = 1;
  SetPath(root_ + "/%s/video.mjpg");
  const std::string next = root_ + "/2000/";
  fs::create_directories(next + "keep");
  std::ofstream(next + "old.mjpg") << "old";
  std::ofstream(next + "keep/inner.txt") << "inner";
  const std::string outside = root_ + "/outside.txt";
  std::ofstream(outside) << "precious";
  fs::create_symlink(outside, next + "link.txt");

  RecordingOutput out(camera_, reporter_);
  UseClock(out);
  ASSERT_TRUE(out.StartRecording(false));
  std::ofstream(root_ + "/1000/other.txt") << "start never cleans";
  ASSERT_EQ(out.SaveFrame(TestImage(1)), SaveResult::Handled);
  EXPECT_TRUE(fs::exists(root_ + "/1000/other.txt"));

  clock_->SetWallTime(2000);
  ASSERT_EQ(out.SaveFrame(TestImage(2)), SaveResult::Handled);
  EXPECT_FALSE(fs::exists(next + "old.mjpg"));
  EXPECT_FALSE(fs::is_symlink(next + "link.txt"));
  EXPECT_TRUE(fs::is_directory(next + "keep"));
  EXPECT_TRUE(fs::exists(next + "keep/inner.txt"));
  EXPECT_EQ(ReadFile(outside), (std::vector<uint8_t>{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  EXPECT_EQ(FrameCount(next + "video.mjpg"), 1u);
  EXPECT_EQ(FrameCount(root_ + "/1000/video.mjpg"), 1u);
}

// Linux lets an open file be unlinked: a cleaner that ignored open files would
// leave a camera recording on into a file nobody can reach.
TEST_F(RecordingTest, CleaningKeepsAnotherCamerasOpenFile) {
  camera::CameraRecord other = camera_;
  camera::SetText(other.savePath, root_ + "/2000/other.mjpg");
  FakeReporter otherReporter;
  RecordingOutput recording(other, otherReporter);
  ASSERT_TRUE(recording.StartRecording(false));
  ASSERT_EQ(recording.SaveFrame(TestImage(1)), SaveResult::Handled);

  camera_.cleanSaveDir = 1;
  SetPath(root_ + "/%s/video.mjpg");
  RecordingOutput cleaner(camera_, reporter_);
  UseClock(cleaner);
  ASSERT_TRUE(cleaner.StartRecording(false));
  std::ofstream(root_ + "/2000/stale.txt") << "stale";
  clock_->SetWallTime(2000);  // the cleaner moves into the other camera's folder
  ASSERT_EQ(cleaner.SaveFrame(TestImage(2)), SaveResult::Handled);
  EXPECT_FALSE(fs::exists(root_ + "/2000/stale.txt"));

  ASSERT_EQ(recording.SaveFrame(TestImage(3)), SaveResult::Handled);
  ASSERT_EQ(recording.SaveFrame(TestImage(4)), SaveResult::Handled);
  EXPECT_EQ(FrameCount(root_ + "/2000/other.mjpg"), 3u);
  EXPECT_EQ(FrameCount(root_ + "/2000/video.mjpg"), 1u);
  EXPECT_TRUE(otherReporter.statuses.empty());
}

TEST_F(RecordingTest, CleaningKeepsTheOwnFileStillOpenInTheSameFolder) {
  camera_.cleanSaveDir = 1;
  SetPath(root_ + "/rec/v_%s.mjpg");
  RecordingOutput out(camera_, reporter_);
  UseClock(out);
  ASSERT_TRUE(out.StartRecording(false));
  ASSERT_EQ(out.SaveFrame(TestImage(1)), SaveResult::Handled);
  ASSERT_EQ(out.SaveFrame(TestImage(2)), SaveResult::Handled);
  std::ofstream(root_ + "/rec/stale.txt") << "stale";
  clock_->SetWallTime(2000);
  ASSERT_EQ(out.SaveFrame(TestImage(3)), SaveResult::Handled);
  EXPECT_FALSE(fs::exists(root_ + "/rec/stale.txt"));
  EXPECT_EQ(FrameCount(root_ + "/rec/v_1000.mjpg"), 2u);
  EXPECT_EQ(FrameCount(root_ + "/rec/v_2000.mjpg"), 1u);
}

TEST_F(RecordingTest, CleaningStopsAtOnceWhenTheWorkerStops) {
  camera_.cleanSaveDir = 1;
  camera_.motionEnabled = 1;
  SetPath(root_ + "/%s/video.mjpg");
  fs::create_directories(root_ + "/2000");
  std::ofstream(root_ + "/2000/a.txt") << "a";
  std::ofstream(root_ + "/2000/b.txt") << "b";
  RecordingOutput out(camera_, reporter_);
  UseClock(out);
  ASSERT_TRUE(out.StartRecording(false));
  clock_->SetWallTime(2000);
  reporter_.stopAfterPeeks = 0;
  EXPECT_EQ(out.SaveFrame(TestImage(1)), SaveResult::NotHandled);
  EXPECT_TRUE(fs::exists(root_ + "/2000/a.txt"));
  EXPECT_TRUE(fs::exists(root_ + "/2000/b.txt"));
  EXPECT_FALSE(fs::exists(root_ + "/2000/video.mjpg"));
  EXPECT_EQ(out.saveCounter(), 0);
  EXPECT_TRUE(reporter_.statuses.empty());
  EXPECT_TRUE(reporter_.events.empty());
}

// ---- Full disk ----------------------------------------------------------------

TEST_F(RecordingTest, FullDiskReportsAndKeepsWholeFrames) {
  const std::string path = root_ + "/full/video.mjpg";
  SetPath(path);
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(media::EncodeJpeg(TestImage(0), camera_.jpegQuality, jpeg));
  // Every frame is the same picture with the same time stamp, so the same size.
  const size_t frameSize = jpeg.size() + 4 + 5;  // comment segment of "1000"
  const rlim_t limit = rlim_t(frameSize * 2 + frameSize / 2);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit rl{limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(10);
    FakeReporter rep;
    RecordingOutput out(camera_, rep);
    out.SetClock(std::make_shared<platform::ManualClock>(1000));
    if (!out.StartRecording(false)) ::_exit(11);
    for (int i = 0; i < 2; ++i)
      if (out.SaveFrame(TestImage(0)) != SaveResult::Handled) ::_exit(12);
    if (out.SaveFrame(TestImage(0)) != SaveResult::Fatal) ::_exit(13);
    if (rep.statuses != std::vector<int32_t>{camera::kStatusDiskFull}) ::_exit(14);
    if (rep.events.size() != 1 || rep.events[0].first != camera::kEventWriteError || rep.events[0].second != path)
      ::_exit(15);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  std::vector<media::mjpg::FrameSpan> frames;
  ASSERT_TRUE(media::mjpg::ReadAllFrames(path, frames));
  EXPECT_EQ(frames.size(), 2u);
  EXPECT_EQ(fs::file_size(path), frameSize * 2);  // no piece of the third frame left
}

TEST_F(RecordingTest, JpgWriteErrorOnFullDisk) {
  camera_.saveAsMjpg = 0;
  const std::string dir = root_ + "/jfull/";
  SetPath(dir + "video.mjpg");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit rl{16, 16};
    if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(10);
    FakeReporter rep;
    RecordingOutput out(camera_, rep);
    if (!out.StartRecording(false)) ::_exit(11);
    if (out.SaveFrame(TestImage(0)) != SaveResult::Fatal) ::_exit(12);
    if (rep.statuses != std::vector<int32_t>{camera::kStatusDiskFull}) ::_exit(13);
    if (rep.events.size() != 1 || rep.events[0].first != camera::kEventJpgCreateFailed ||
        rep.events[0].second != dir + "video_1.jpg")
      ::_exit(14);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(fs::exists(dir + "video_1.jpg"));  // no cut-off picture left behind
}

}  // namespace
