#include "recorder/app/autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tests/test_support.h"

namespace recorder::app {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

TEST(Autostart, ExecLineQuotesAndEscapesThePath) {
  struct Row {
    const char* path;
    const char* exec;
  } rows[] = {
      {"/usr/bin/tollan", "\"/usr/bin/tollan\" -m"},
      {"/home/a b/tollan", "\"/home/a b/tollan\" -m"},
      {"/opt/$x/\"q\"/t`", "\"/opt/\\$x/\\\"q\\\"/t\\`\" -m"},
  };
  for (const Row& row : rows) EXPECT_EQ(AutostartExecLine(row.path), row.exec) << row.path;
}

// What opening the options finds, for entries written by us and by others.
TEST(Autostart, CheckKeepsOnlyTheCurrentEntry) {
  test_support::ScopedTempDir dir("autostart");
  const std::string entry = dir.Path() + "autostart/tollan.desktop";
  const std::string program = "/opt/cam dir/tollan";
  struct Row {
    const char* name;
    std::string content;  // empty: no file
    bool ticked;
    bool keptAfterwards;
  } rows[] = {
      {"none", "", false, false},
      {"current", "[Desktop Entry]\nExec=\"/opt/cam dir/tollan\" -m\n", true, true},
      {"case differs", "[Desktop Entry]\r\nExec=\"/OPT/Cam Dir/tollan\" -M\r\n", true, true},
      {"program moved", "[Desktop Entry]\nExec=\"/usr/bin/tollan\" -m\n", false, false},
      {"unquoted by hand", "[Desktop Entry]\nExec=/opt/cam dir/tollan -m\n", false, false},
      {"no exec line", "[Desktop Entry]\nName=Tollan\n", false, false},
      {"exec in another group", "[Desktop Action x]\nExec=\"/opt/cam dir/tollan\" -m\n", false, false},
  };
  for (const Row& row : rows) {
    ::unlink(entry.c_str());
    if (!row.content.empty()) {
      ASSERT_TRUE(WriteAutostartEntry(entry, "/x", true));  // makes the folder
      std::ofstream(entry, std::ios::trunc) << row.content;
    }
    EXPECT_EQ(CheckAutostartEntry(entry, program), row.ticked) << row.name;
    EXPECT_EQ(Exists(entry), row.keptAfterwards) << row.name;
  }
}

TEST(Autostart, WriteThenCheckThenRemove) {
  test_support::ScopedTempDir dir("autostart");
  const std::string entry = dir.Path() + "deep/autostart/tollan.desktop";
  const std::string program = "/home/u/bin/tollan";
  ASSERT_TRUE(WriteAutostartEntry(entry, program, true));
  const std::string text = test_support::ReadFile(entry);
  EXPECT_NE(text.find("Exec=\"/home/u/bin/tollan\" -m\n"), std::string::npos) << text;
  EXPECT_TRUE(CheckAutostartEntry(entry, program));
  EXPECT_TRUE(WriteAutostartEntry(entry, program, false));
  EXPECT_FALSE(Exists(entry));
  EXPECT_TRUE(WriteAutostartEntry(entry, program, false)) << "a missing entry is no error";
}

}  // namespace
}  // namespace recorder::app
