// Program, settings and log file locations.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/test_support.h"

using namespace platform;

namespace {

// Sets or clears an environment variable for one test and restores it after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = std::string(old);
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_.c_str(), old_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The folder of a ScopedTempDir without its trailing '/', as a user would write it.
std::string Bare(const test_support::ScopedTempDir& dir) {
  const std::string path = dir.Path();
  return path.substr(0, path.size() - 1);
}

bool IsDirectory(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

TEST(Paths, SettingsFileNameReplacesLastExtensionOrAppendsOne) {
  EXPECT_EQ(SettingsFileNameFor("tollan"), "tollan.cfg");
  EXPECT_EQ(SettingsFileNameFor("tollan.exe"), "tollan.cfg");
  EXPECT_EQ(SettingsFileNameFor("my.cam.tool"), "my.cam.cfg");
  EXPECT_EQ(SettingsFileNameFor("tollan."), "tollan.cfg");
}

TEST(Paths, ProgramPathPointsAtThisExecutable) {
  const std::string path = ProgramPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path[0], '/');
  EXPECT_EQ(::access(path.c_str(), X_OK), 0);
  const std::string dir = ProgramDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(path.compare(0, dir.size(), dir), 0);
}

TEST(Paths, TollanHomeWinsWithTrailingSlash) {
  const test_support::ScopedTempDir scoped{"paths"};
  const std::string tmp = Bare(scoped);
  ASSERT_FALSE(tmp.empty());
  ScopedEnv home("TOLLAN_HOME", tmp.c_str());
  EXPECT_EQ(ConfigDirectory("tollan"), tmp + "/");
  EXPECT_EQ(LogFilePath("tollan"), tmp + "/Logfile.txt");
  const std::string program = ProgramPath();
  const std::string name = program.substr(program.rfind('/') + 1);
  EXPECT_EQ(SettingsFilePath("tollan"), tmp + "/" + SettingsFileNameFor(name));

  ScopedEnv slashed("TOLLAN_HOME", (tmp + "/").c_str());
  EXPECT_EQ(ConfigDirectory("tollan"), tmp + "/");  // not doubled
}

TEST(Paths, WritableProgramFolderIsUsedWhenTollanHomeIsUnsetOrEmpty) {
  const test_support::ScopedTempDir scoped{"paths"};
  const std::string tmp = Bare(scoped);
  ScopedEnv empty("TOLLAN_HOME", "");
  EXPECT_EQ(ConfigDirectoryFor("tollan", tmp), tmp + "/");
  EXPECT_EQ(ConfigDirectoryFor("tollan", tmp + "/"), tmp + "/");
}

TEST(Paths, UnwritableProgramFolderFallsBackToUserConfigFolderAndCreatesIt) {
  const test_support::ScopedTempDir scoped{"paths"};
  const std::string tmp = Bare(scoped);
  ScopedEnv noHome("TOLLAN_HOME", nullptr);
  const std::string missing = tmp + "/no/such/folder/";

  {
    ScopedEnv xdg("XDG_CONFIG_HOME", (tmp + "/xdg").c_str());
    const std::string dir = ConfigDirectoryFor("tollan", missing);
    EXPECT_EQ(dir, tmp + "/xdg/tollan/");
    EXPECT_TRUE(IsDirectory(dir));
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", (tmp + "/home/").c_str());
    const std::string dir = ConfigDirectoryFor("tollan", missing);
    EXPECT_EQ(dir, tmp + "/home/.config/tollan/");
    EXPECT_TRUE(IsDirectory(dir));
  }
  {
    // Another program keeps its own folder and variable.
    ScopedEnv xdg("XDG_CONFIG_HOME", (tmp + "/xdg").c_str());
    EXPECT_EQ(ConfigDirectoryFor("velmo", missing), tmp + "/xdg/velmo/");
    EXPECT_EQ(HomeVariableFor("velmo"), "VELMO_HOME");
  }
  EXPECT_FALSE(IsDirectory(missing));  // the program folder itself is never made
}

TEST(Paths, HomeDirectoryHasNoTrailingSlashAndFallsBackToPasswordDatabase) {
  {
    ScopedEnv home("HOME", "/some/where//");
    EXPECT_EQ(HomeDirectory(), "/some/where");
  }
  ScopedEnv none("HOME", nullptr);
  const std::string fromDatabase = HomeDirectory();
  EXPECT_FALSE(fromDatabase.empty());
  EXPECT_EQ(fromDatabase[0], '/');
}
