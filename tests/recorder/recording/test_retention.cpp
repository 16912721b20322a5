// Retention: a save path's root, which files are its recordings, their last frame
// time, and what the limits remove (oldest first, never an open file, nothing
// outside the root, empty folders up to the root).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/frame_image.h"
#include "media/jpeg_codec.h"
#include "media/mjpg.h"
#include "recorder/recording/retention.h"
#include "recorder/recording/retention_thread.h"
#include "tests/test_support.h"

using namespace recorder::recording;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kNow = 1800000000;

std::vector<uint8_t> SmallJpeg() {
  media::FrameImage image;
  image.width = 16;
  image.height = 16;
  image.bitsPerPixel = 24;
  image.pixels.assign(image.Size(), 90);
  std::vector<uint8_t> jpeg;
  EXPECT_TRUE(media::EncodeJpeg(image, 50, jpeg));
  return jpeg;
}

// An MJPG file whose frames carry these stamps, grown with zero bytes to padTo
// bytes when asked (the size the limits see).
void WriteMjpg(const std::string& path, const std::vector<uint32_t>& stamps, size_t padTo = 0) {
  fs::create_directories(fs::path(path).parent_path());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const std::vector<uint8_t> jpeg = SmallJpeg();
  for (const uint32_t s : stamps)
    ASSERT_EQ(media::mjpg::WriteFrame(fd, jpeg.data(), jpeg.size(), s), media::mjpg::WriteResult::Ok);
  if (padTo > 0) {
    ASSERT_EQ(::ftruncate(fd, off_t(padTo)), 0);
  }
  ::close(fd);
}

void WriteBytes(const std::string& path, size_t size) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

void SetMtime(const std::string& path, int64_t when) {
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(Retention, RootIsTheFolderBeforeTheFirstTimeCode) {
  const std::string home = "/home/owner";
  struct Case {
    const char* templ;
    const char* root;  // "" when refused
  } cases[] = {
      {"/srv/cams/%A/video.mjpg", "/srv/cams/"},
      {"/srv/cams/front%Y/video.mjpg", "/srv/cams/"},  // the folder part, not the text before the code
      {"/srv/cams/front/video.mjpg", "/srv/cams/front/"},
      {"/srv/cams/%%/%H.mjpg", "/srv/cams/"},
      {"/%Y/video.mjpg", ""},  // the root would be "/"
      {"/video%H.mjpg", ""},
      {"/home/owner/%A/video.mjpg", ""},  // the home folder itself
      {"/home/owner/Cameras/%A/video.mjpg", "/home/owner/Cameras/"},
      {"relative/%A/video.mjpg", ""},
      {"/srv/../%A/video.mjpg", ""},
  };
  for (const Case& c : cases) {
    const RetentionRoot r = RetentionRootOf(c.templ, home);
    EXPECT_EQ(r.root, c.root) << c.templ;
    EXPECT_EQ(r.error.empty(), *c.root != '\0') << c.templ << ": " << r.error;
  }
}

TEST(Retention, PathsMatchWithTimeCodesAsWildcards) {
  struct Case {
    const char* templ;
    const char* path;
    bool match;
  } cases[] = {
      {"/r/%Y-%m-%d/%H.mjpg", "/r/2026-12-08/14.mjpg", true},
      {"/r/%Y-%m-%d/%H.mjpg", "/r/2026-12-08/14.mjpeg", false},
      {"/r/%Y-%m-%d/%H.mjpg", "/r/2026-12-08/x/14.mjpg", false},  // a code never spans a folder
      {"/r/%Y-%m-%d/%H.mjpg", "/r/other.mjpg", false},
      {"/r/%A/video.mjpg", "/r/Tuesday/video.mjpg", true},
      {"/r/%A/video.mjpg", "/r/Tuesday/video_12.jpg", true},  // the numbered JPEG files of the same path
      {"/r/%A/video.jpg", "/r/Tuesday/video_7.jpg", true},
      {"/r/%A/video.jpg", "/r/Tuesday/video_.jpg", false},
      {"/r/%A/video.jpg", "/r/Tuesday/video_7a.jpg", false},
      {"/r/%D/v.mjpg", "/r/12/08/26/v.mjpg", true},  // %D holds slashes itself
      {"/r/100%%/v.mjpg", "/r/100%/v.mjpg", true},
      {"/r/%A/video.mjpg", "/elsewhere/Tuesday/video.mjpg", false},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesSavePath(c.templ, c.path), c.match) << c.templ << " " << c.path;
}

TEST(Retention, LastFrameTimeIsTheLastStampElseTheFileTime) {
  test_support::ScopedTempDir dir{"lastframe"};
  struct Case {
    const char* name;
    std::vector<uint32_t> stamps;
    int64_t expected;
  } cases[] = {
      {"three.mjpg", {100, 200, 300}, 300},
      {"empty.mjpg", {}, 0},
  };
  for (const Case& c : cases) WriteMjpg(dir.Path(c.name), c.stamps);
  // A frame cut off half-way: the whole one before it counts.
  WriteMjpg(dir.Path("cut.mjpg"), {100, 200});
  const auto size = fs::file_size(dir.Path("cut.mjpg"));
  ASSERT_EQ(::truncate(dir.Path("cut.mjpg").c_str(), off_t(size - 10)), 0);
  for (const Case& c : cases) EXPECT_EQ(LastMjpgFrameTime(dir.Path(c.name)), c.expected) << c.name;
  EXPECT_EQ(LastMjpgFrameTime(dir.Path("cut.mjpg")), 100);
  EXPECT_EQ(LastMjpgFrameTime(dir.Path("missing.mjpg")), 0);

  // FindRecordings falls back to the modification time where there is no stamp.
  WriteBytes(dir.Path("junk.mjpg"), 100);
  SetMtime(dir.Path("junk.mjpg"), 555);
  LastFrameCache cache;
  for (const RecordingFile& f : FindRecordings(dir.Path("%H.mjpg"), dir.Path(), cache)) {
    if (f.path == dir.Path("junk.mjpg")) {
      EXPECT_EQ(f.lastFrameTime, 555);
    }
    if (f.path == dir.Path("three.mjpg")) {
      EXPECT_EQ(f.lastFrameTime, 300);
    }
  }
  // Files that went meanwhile leave the cache at the end of the next pass.
  cache.EndPass();
  const size_t before = cache.size();
  fs::remove(dir.Path("three.mjpg"));
  FindRecordings(dir.Path("%H.mjpg"), dir.Path(), cache);
  cache.EndPass();
  EXPECT_EQ(cache.size(), before - 1);
}

// The limits on one folder of recordings: which files stay.
TEST(Retention, LimitsRemoveTheOldestFirstAndNeverAnOpenFile) {
  struct Case {
    const char* what;
    int32_t keepDays;
    uint64_t keepBytes;
    bool lockNewest;
    std::set<std::string> remaining;
  } cases[] = {
      {"no limits", 0, 0, false, {"a/1.mjpg", "a/2.mjpg", "b/3.mjpg", "b/4.mjpg"}},
      {"age: older than 2 days go", 2, 0, false, {"b/3.mjpg", "b/4.mjpg"}},
      {"size: the oldest go until the rest fits", 0, 2500, false, {"b/3.mjpg", "b/4.mjpg"}},
      {"size below the newest file alone", 0, 500, false, {}},
      {"an open file stays and still counts", 0, 500, true, {"b/4.mjpg"}},
      {"age and size", 2, 1500, false, {"b/4.mjpg"}},
  };
  for (const Case& c : cases) {
    test_support::ScopedTempDir dir{"limits"};
    const std::string root = dir.Path("rec/");
    const std::string templ = root + "%a/%H.mjpg";
    // Last frames 5, 3, 1 and 0 days old; the file times say the opposite, so
    // only the stamps can give the right order.
    const std::vector<std::pair<std::string, int64_t>> files = {
        {"a/1.mjpg", kNow - 5 * kDay}, {"a/2.mjpg", kNow - 3 * kDay}, {"b/3.mjpg", kNow - kDay}, {"b/4.mjpg", kNow}};
    for (size_t i = 0; i < files.size(); ++i) {
      WriteMjpg(root + files[i].first, {uint32_t(files[i].second)}, 1000);
      SetMtime(root + files[i].first, kNow - int64_t(i) * kDay);
    }
    // Outside the root, with a name the pattern would match: never touched.
    const std::string outside = dir.Path("other/a/1.mjpg");
    WriteMjpg(outside, {uint32_t(kNow - 9 * kDay)}, 1000);
    int lockFd = -1;
    if (c.lockNewest) {
      lockFd = ::open((root + "b/4.mjpg").c_str(), O_WRONLY);
      ASSERT_EQ(::flock(lockFd, LOCK_EX | LOCK_NB), 0);
    }

    LastFrameCache cache;
    const auto found = FindRecordings(templ, root, cache);
    ASSERT_EQ(found.size(), 4u) << c.what;
    ApplyCameraLimits(found, c.keepDays, c.keepBytes, kNow,
                      [&](const RecordingFile& f) { return RemoveRecording(f.path, root); });
    std::set<std::string> remaining;
    for (const RecordingFile& f : FindRecordings(templ, root, cache)) remaining.insert(f.path.substr(root.size()));
    EXPECT_EQ(remaining, c.remaining) << c.what;
    EXPECT_TRUE(fs::exists(outside)) << c.what;
    EXPECT_TRUE(fs::exists(root)) << c.what << ": the root itself stays";
    // Folders left empty are gone.
    for (const char* folder : {"a", "b"}) {
      const bool anyLeft = std::any_of(c.remaining.begin(), c.remaining.end(),
                                       [&](const std::string& r) { return r.rfind(folder, 0) == 0; });
      EXPECT_EQ(fs::exists(root + folder), anyLeft) << c.what << " " << folder;
    }
    if (lockFd >= 0) ::close(lockFd);
  }
}

TEST(Retention, RemoveRefusesWhatLiesOutsideTheRootOrIsNoPlainFile) {
  test_support::ScopedTempDir dir{"remove"};
  const std::string root = dir.Path("rec/");
  WriteBytes(dir.Path("outside.mjpg"), 10);
  WriteBytes(root + "x/keep.mjpg", 10);
  ASSERT_EQ(::symlink(dir.Path("outside.mjpg").c_str(), (root + "link.mjpg").c_str()), 0);
  struct Case {
    std::string path;
    RemoveResult result;
  } cases[] = {
      {dir.Path("outside.mjpg"), RemoveResult::Failed},
      {root + "../outside.mjpg", RemoveResult::Failed},
      {root + "link.mjpg", RemoveResult::Failed},  // a link is never followed
      {root + "x", RemoveResult::Failed},
      {root + "missing.mjpg", RemoveResult::Failed},
  };
  for (const Case& c : cases) EXPECT_EQ(RemoveRecording(c.path, root), c.result) << c.path;
  EXPECT_TRUE(fs::exists(dir.Path("outside.mjpg")));
  EXPECT_TRUE(fs::exists(root + "x/keep.mjpg"));
}

TEST(Retention, WarnsWhenOneFileCanOutgrowTheSizeLimit) {
  test_support::ScopedTempDir dir{"outgrow"};
  const std::string root = dir.Path();
  WriteMjpg(root + "Mon/video.mjpg", {1000}, 300 << 10);  // last whole file: 300 KB
  LastFrameCache cache;
  const auto files = FindRecordings(root + "%a/video.mjpg", root, cache);
  ASSERT_EQ(files.size(), 1u);
  struct Case {
    std::string templ;
    bool mjpg;
    uint64_t keepBytes;
    bool warns;
  } cases[] = {
      {root + "%a/video.mjpg", true, 1 << 20, true},    // 300 KB is over a quarter of 1 MB
      {root + "%a/video.mjpg", true, 2 << 20, false},   // under a quarter
      {root + "%a/video.mjpg", true, 0, false},         // no size limit
      {root + "%a/video.mjpg", false, 1 << 20, false},  // numbered JPEG files never grow
      {root + "%a/%H.mjpg", true, 1 << 20, false},      // hourly already
  };
  for (const Case& c : cases) {
    const std::string w = OutgrowWarning(c.templ, c.mjpg, c.keepBytes, files);
    EXPECT_EQ(!w.empty(), c.warns) << c.templ << " " << c.keepBytes;
    if (c.warns) {
      EXPECT_NE(w.find(root + "%a/video_%H.mjpg"), std::string::npos) << w;
    }
  }
}

// Keeping a share free: the oldest of every camera together go first, until the
// file system (here an injected free share computed from the bytes left) has it.
TEST(Retention, KeepFreeRemovesTheOldestOfAllCamerasTogether) {
  test_support::ScopedTempDir dir{"keepfree"};
  const std::string a = dir.Path("a/"), b = dir.Path("b/");
  WriteMjpg(a + "d1/1.mjpg", {uint32_t(kNow - 50)}, 1000);
  WriteMjpg(b + "d1/1.mjpg", {uint32_t(kNow - 40)}, 1000);
  WriteMjpg(a + "d2/2.mjpg", {uint32_t(kNow - 30)}, 1000);
  WriteMjpg(b + "d2/2.mjpg", {uint32_t(kNow - 20)}, 1000);
  const auto bytesLeft = [&] {
    uint64_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir.Path()))
      if (e.is_regular_file()) n += e.file_size();
    return n;
  };
  struct Case {
    int32_t percent;
    size_t left;  // files
  } cases[] = {{0, 4}, {50, 2}, {70, 1}, {99, 0}};
  for (const Case& c : cases) {
    RetentionTiming timing;
    timing.wallClock = [] { return kNow; };
    // A 4000-byte file system: free share from the bytes still there.
    timing.freePercent = [&](const std::string&) { return 100.0 - 100.0 * double(bytesLeft()) / 4000.0; };
    RetentionThread thread(0, timing);
    RetentionConfig config;
    config.keepFreePercent = c.percent;
    config.cameras = {{a + "d%d/%H.mjpg", true, 0, 0, 0, {}}, {b + "d%d/%H.mjpg", true, 0, 0, 0, {}}};
    // The thread is not started: the check runs on the test's thread.
    thread.SetConfig(std::move(config));
    thread.Check();
    EXPECT_EQ(bytesLeft() / 1000, c.left) << c.percent;
  }
  EXPECT_FALSE(fs::exists(a + "d1"));
  EXPECT_FALSE(fs::exists(b + "d1"));
}

}  // namespace
