// Program, settings and log file locations.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

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

class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/tollan-paths-XXXXXX";
    path_ = mkdtemp(templ) ? templ : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

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
  TempDir tmp;
  ASSERT_FALSE(tmp.path().empty());
  ScopedEnv home("TOLLAN_HOME", tmp.path().c_str());
  EXPECT_EQ(ConfigDirectory("tollan"), tmp.path() + "/");
  EXPECT_EQ(LogFilePath("tollan"), tmp.path() + "/Logfile.txt");
  const std::string program = ProgramPath();
  const std::string name = program.substr(program.rfind('/') + 1);
  EXPECT_EQ(SettingsFilePath("tollan"), tmp.path() + "/" + SettingsFileNameFor(name));

  ScopedEnv slashed("TOLLAN_HOME", (tmp.path() + "/").c_str());
  EXPECT_EQ(ConfigDirectory("tollan"), tmp.path() + "/");  // not doubled
}

TEST(Paths, WritableProgramFolderIsUsedWhenTollanHomeIsUnsetOrEmpty) {
  TempDir tmp;
  ScopedEnv empty("TOLLAN_HOME", "");
  EXPECT_EQ(ConfigDirectoryFor("tollan", tmp.path()), tmp.path() + "/");
  EXPECT_EQ(ConfigDirectoryFor("tollan", tmp.path() + "/"), tmp.path() + "/");
}

TEST(Paths, UnwritableProgramFolderFallsBackToUserConfigFolderAndCreatesIt) {
  TempDir tmp;
  ScopedEnv noHome("TOLLAN_HOME", nullptr);
  const std::string missing = tmp.path() + "/no/such/folder/";

  {
    ScopedEnv xdg("XDG_CONFIG_HOME", (tmp.path() + "/xdg").c_str());
    const std::string dir = ConfigDirectoryFor("tollan", missing);
    EXPECT_EQ(dir, tmp.path() + "/xdg/tollan/");
    EXPECT_TRUE(IsDirectory(dir));
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", (tmp.path() + "/home/").c_str());
    const std::string dir = ConfigDirectoryFor("tollan", missing);
    EXPECT_EQ(dir, tmp.path() + "/home/.config/tollan/");
    EXPECT_TRUE(IsDirectory(dir));
  }
  {
    // Another program keeps its own folder and variable.
    ScopedEnv xdg("XDG_CONFIG_HOME", (tmp.path() + "/xdg").c_str());
    EXPECT_EQ(ConfigDirectoryFor("velmo", missing), tmp.path() + "/xdg/velmo/");
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
