// Save path expansion, directory parts and directory creation.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "recorder/recording/save_paths.h"
#include "platform/files.h"

using namespace recorder;

namespace fs = std::filesystem;

namespace {

class SavePathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tollan-paths-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string root_;
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

TEST_F(SavePathsTest, ShortPathsFail) {
  EXPECT_FALSE(platform::CreateSaveDirectory(""));
  EXPECT_FALSE(platform::CreateSaveDirectory("/"));
  EXPECT_FALSE(platform::CreateSaveDirectory("a/"));
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
