// A file that takes another's place only when it is complete.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/replacement_file.h"
#include "tests/test_support.h"

namespace {

// What is at a path: its bytes, or how it is not a file.
std::string At(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "(none)";
  if (S_ISLNK(st.st_mode)) return "(link)";
  if (S_ISFIFO(st.st_mode)) return "(pipe)";
  if (S_ISDIR(st.st_mode)) return "(folder)";
  return test_support::ReadFile(path);
}

TEST(ReplacementFile, TakesTheTargetsPlaceOnlyAtCommit) {
  test_support::ScopedTempDir dir{"replace"};
  ASSERT_EQ(::mkfifo(dir.Path("pipe").c_str(), 0600), 0);
  std::filesystem::create_directory(dir.Path("folder"));
  test_support::WriteFile(dir.Path("real"), "old");
  ::chmod(dir.Path("real").c_str(), 0640);
  ASSERT_EQ(::symlink("real", dir.Path("link").c_str()), 0);
  const struct {
    const char* name;
    const char* target;
    bool commit;
    int createError;        // 0: created
    const char* meanwhile;  // what the target path holds while the file is written
    const char* real;       // what "real" holds afterwards
    const char* atTarget;   // what the target path holds afterwards
  } rows[] = {
      {"new file, committed", "new", true, 0, "(none)", "old", "new bytes"},
      {"new file, discarded", "new2", false, 0, "(none)", "old", "(none)"},
      {"old file, committed", "real", true, 0, "old", "new bytes", "new bytes"},
      {"old file, discarded", "real", false, 0, "old", "old", "old"},
      {"through a link, committed", "link", true, 0, "(link)", "new bytes", "(link)"},
      {"a folder", "folder", true, EISDIR, "", "old", "(folder)"},
      {"a pipe", "pipe", true, EINVAL, "", "old", "(pipe)"},
      {"a missing folder", "none/x", true, ENOENT, "", "old", "(none)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    test_support::WriteFile(dir.Path("real"), "old");
    {
      platform::ReplacementFile file;
      int error = 0;
      const bool created = file.Create(dir.Path(row.target), &error);
      EXPECT_EQ(created ? 0 : error, row.createError);
      if (created) {
        ASSERT_EQ(::write(file.Fd(), "new bytes", 9), 9);
        EXPECT_EQ(At(dir.Path(row.target)), row.meanwhile);
        if (row.commit) {
          EXPECT_TRUE(file.Commit(&error)) << platform::ErrorText(error);
        }
      }
    }  // dropped without a commit: discarded
    EXPECT_EQ(At(dir.Path("real")), row.real);
    EXPECT_EQ(At(dir.Path(row.target)), row.atTarget);
    struct stat st {};
    ASSERT_EQ(::stat(dir.Path("real").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // kept by a replacement
    for (const auto& e : std::filesystem::directory_iterator(dir.Path("")))
      EXPECT_EQ(e.path().filename().string().find(".part-"), std::string::npos) << e.path();
  }
  EXPECT_EQ(platform::ReplacementErrorText(EINVAL), "not a regular file");
}

}  // namespace
