// Save path expansion, directory parts and directory creation.
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "recorder/recording/save_paths.h"
#include "tests/test_support.h"
#include "platform/files.h"

using namespace recorder;

namespace fs = std::filesystem;

namespace {

class SavePathsTest : public ::testing::Test {
 protected:
  test_support::ScopedTempDir tmp_{"save_paths"};
  const std::string root_ = tmp_.Path().substr(0, tmp_.Path().size() - 1);  // no trailing '/'
};

TEST(SaveDirectoryOf, KeepsEverythingUpToTheLastSlash) {
  EXPECT_EQ(platform::SaveDirectoryOf("/home/u/Cameras/Monday/video.mjpg"), "/home/u/Cameras/Monday/");
  EXPECT_EQ(platform::SaveDirectoryOf("rec/video.mjpg"), "rec/");
  EXPECT_EQ(platform::SaveDirectoryOf("/video.mjpg"), "/");
  // Trailing separators are dropped first, so a directory path names its parent.
  EXPECT_EQ(platform::SaveDirectoryOf("/a/b/"), "/a/");
  EXPECT_EQ(platform::SaveDirectoryOf("/a/b///"), "/a/");
  EXPECT_EQ(platform::SaveDirectoryOf("a//b"), "a//");
  // Without a slash there is no directory part.
  EXPECT_EQ(platform::SaveDirectoryOf("video.mjpg"), "");
  EXPECT_EQ(platform::SaveDirectoryOf(""), "");
  EXPECT_EQ(platform::SaveDirectoryOf("/"), "");
  EXPECT_EQ(platform::SaveDirectoryOf("///"), "");
}

TEST(ExpandSavePath, ExpandsTimeCodesForTheGivenMoment) {
  const std::time_t when = 1700000000;
  std::tm local{};
  ASSERT_NE(localtime_r(&when, &local), nullptr);
  char year[8];
  std::strftime(year, sizeof year, "%Y", &local);
  EXPECT_EQ(recording::ExpandSavePath("/rec/%Y/%%/video_%s.mjpg", when),
            std::string("/rec/") + year + "/%/video_1700000000.mjpg");
}

TEST_F(SavePathsTest, CreatesEveryMissingLevel) {
  const std::string dir = root_ + "/a/b/c/";
  ASSERT_TRUE(platform::CreateSaveDirectory(dir));
  EXPECT_TRUE(fs::is_directory(root_ + "/a/b/c"));
  // An existing directory succeeds again, with or without the trailing slash.
  EXPECT_TRUE(platform::CreateSaveDirectory(dir));
  EXPECT_TRUE(platform::CreateSaveDirectory(root_ + "/a/b"));
  // Doubled separators name the same levels.
  EXPECT_TRUE(platform::CreateSaveDirectory(root_ + "//d//e/"));
  EXPECT_TRUE(fs::is_directory(root_ + "/d/e"));
}

TEST_F(SavePathsTest, RootAndExistingTopFoldersSucceedShortRelativePathsFail) {
  const std::string top = root_.substr(0, root_.find('/', 1) + 1);  // such as "/tmp/"
  const struct {
    std::string directory;
    bool ok;
  } cases[] = {
      {"/", true},    // the folder of "/video.mjpg"
      {"///", true},
      {top, true},
      {top.substr(0, top.size() - 1), true},
      {"", false},    // a save path without any '/'
      {"a/", false},
      {"ab", false},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::CreateSaveDirectory(c.directory), c.ok) << '"' << c.directory << '"';
}

// The first level below the root must be created too ("/newcamdir/front.mjpg").
// The real root is out of a test's reach, so a child process makes the test's
// folder its root; where that is not permitted the test is skipped.
TEST_F(SavePathsTest, CreatesLevelsRightBelowTheRoot) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::chroot(root_.c_str()) != 0 && (::unshare(CLONE_NEWUSER) != 0 || ::chroot(root_.c_str()) != 0))
      ::_exit(77);
    if (::chdir("/") != 0) ::_exit(77);
    if (!platform::CreateSaveDirectory("/newcamdir/")) ::_exit(1);
    if (!platform::CreateSaveDirectory("/x/y/z/")) ::_exit(2);
    if (!platform::CreateSaveDirectory(platform::SaveDirectoryOf("/video.mjpg"))) ::_exit(3);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot change the root folder here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(fs::is_directory(root_ + "/newcamdir"));
  EXPECT_TRUE(fs::is_directory(root_ + "/x/y/z"));
}

TEST_F(SavePathsTest, RelativeFirstComponentIsTakenAsExisting) {
  const fs::path before = fs::current_path();
  ASSERT_EQ(::chdir(root_.c_str()), 0);
  EXPECT_TRUE(platform::CreateSaveDirectory("rec/"));
  EXPECT_FALSE(fs::exists("rec"));
  // Levels below the first one are created all the same.
  EXPECT_TRUE(platform::CreateSaveDirectory("top/"));
  ASSERT_EQ(::mkdir("top", 0777), 0);
  EXPECT_TRUE(platform::CreateSaveDirectory("top/sub/"));
  EXPECT_TRUE(fs::is_directory("top/sub"));
  fs::current_path(before);
}

TEST_F(SavePathsTest, RegularFileInTheWayFails) {
  std::ofstream(root_ + "/blocker") << "x";
  EXPECT_FALSE(platform::CreateSaveDirectory(root_ + "/blocker/sub/"));
  // A file where the last level should be is not a directory either.
  EXPECT_FALSE(platform::CreateSaveDirectory(root_ + "/blocker/"));
  EXPECT_TRUE(fs::is_regular_file(root_ + "/blocker"));
}

}  // namespace
