// The velmo program run as scripts run it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "player/cli.h"
#include "tests/player/player_files.h"

extern char** environ;

namespace {

using namespace player_test;

struct Result {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  const Bytes b = ReadBytes(path);
  return std::string(b.begin(), b.end());
}

// Runs a program (velmo, or a shell that runs it) in UTC with its output in files
// of `dir`; `during` is called with its process id while it runs.
Result RunProgram(const test_support::ScopedTempDir& dir, std::vector<std::string> all,
           const std::function<void(pid_t)>& during = {}) {
  const std::string out = dir.Path(".stdout"), err = dir.Path(".stderr");
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = {"TZ=UTC", "LC_ALL=C", "QT_QPA_PLATFORM=offscreen"};
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  Result r;
  if (posix_spawn(&pid, all[0].c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    if (during) during(pid);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = Slurp(out);
  r.err = Slurp(err);
  ::unlink(out.c_str());
  ::unlink(err.c_str());
  return r;
}

Result Velmo(const test_support::ScopedTempDir& dir, const std::vector<std::string>& args) {
  std::vector<std::string> all = {VELMO_PROGRAM};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram(dir, all);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

TEST(Velmo, CommandLineOperations) {
  test_support::ScopedTempDir dir{"velmo"};
  // 5 June 2007 14:03:09 UTC onwards, one frame a second; a name with capitals and a blank.
  const std::vector<Bytes> frames = Frames(5, 1181052189), others = Frames(2, 1181060000, 6000);
  const std::string input = dir.Path("Cam Front.MJPG"), second = dir.Path("b.mjpg"), junk = dir.Path("junk.mjpg");
  WriteBytes(input, Join(frames));
  WriteBytes(second, Join(others));
  WriteBytes(junk, Bytes(1000, 0x55));
  const std::string out = dir.Path("out.mjpg");
  struct Row {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string stdoutHas, stderrHas;
    std::optional<Bytes> written;  // the output's bytes; none: no output file
    std::string output = "";  // empty: out
  } rows[] = {
      {"info",
       {"--info", input},
       0,
       "Frames: 5\nFirst frame time: Tue Jun 05 2007 (02:03:09 PM)\nLast frame time: Tue Jun 05 2007 (02:03:13 PM)\n"
       "Video Size: 24.78 KB\n",
       "",
       {}},
      {"info on a file without frames", {"--info", junk}, 1, "", " Invalid Video File Format!", {}},
      {"extract frames 2 to 4", {"--extract", input, "--from", "2", "--to", "4", "-o", out}, 0, "", "",
       Join(frames, 1, 4)},
      {"remove the first two frames", {"--remove", input, "--from", "1", "--to", "2", "-o", out}, 0, "", "",
       Join(frames, 2)},
      {"remove the last frame", {"--remove", input, "--to", "5", "--from", "5", "-o", out}, 0, "", "",
       Join(frames, 0, 4)},
      {"append", {"--append", input, second, "-o", out}, 0, "", "", Join({Join(frames), Join(others)})},
      {"end before start", {"--extract", input, "--from", "6", "--to", "5", "-o", out}, 2, "",
       "the start (--from 6) lies after the end (--to 5)", {}},
      {"option given twice", {"--extract", input, "--from", "1", "--from", "2", "--to", "3", "-o", out}, 2, "",
       "--from is given more than once", {}},
      {"frame beyond the file", {"--extract", input, "--from", "2", "--to", "9", "-o", out}, 1, "", "has no frame 9",
       {}},
      {"output is the input",
       {"--remove", input, "--from", "1", "--to", "2", "-o", input},
       1,
       "",
       "File Write Error: The output file cannot be one of the video files being edited",
       Join(frames),
       input},
      {"edit of a file without frames", {"--append", junk, second, "-o", out}, 1, "", " Invalid Video File Format!",
       {}},
      {"edit of a missing file", {"--extract", dir.Path("none.mjpg"), "--from", "1", "--to", "2", "-o", out}, 1, "",
       "cannot open", {}},
      {"export a frame", {"--export-frame", input, "3", "-o", dir.Path(" snap ")}, 0, dir.Path("snap.jpg"), "", Join(frames, 2, 3),
       dir.Path("snap.jpg")},
      {"export into a missing folder",
       {"--export-frame", input, "3", "-o", dir.Path("none/snap.jpg")},
       1,
       "",
       "File creation failed: Unable to save JPG image",
       {},
       dir.Path("none/snap.jpg")},
      {"two files for the window", {input, second}, 2, "", "one file at a time", {}},
      {"every window rendered", {"--screenshots", dir.Path("shots")}, 0, dir.Path("shots/player_window.png"), "", {}},
      {"frame numbers start at 1", {"--extract", input, "--from", "0", "--to", "2", "-o", out}, 2, "", "--from", {}},
      {"missing output", {"--extract", input, "--from", "1", "--to", "2"}, 2, "", "usage:", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string output = row.output.empty() ? out : row.output;
    const Result r = Velmo(dir, row.args);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_NE(r.out.find(row.stdoutHas), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(row.stderrHas), std::string::npos) << r.err;
    if (row.written) {
      EXPECT_TRUE(ReadBytes(output) == *row.written);
    } else {
      EXPECT_FALSE(Exists(output));
    }
    if (output != input) ::unlink(output.c_str());
  }
}

// An edit or a still export that fails or is stopped leaves nothing behind: an old
// file at its output keeps its bytes and no temporary file is left.
TEST(Velmo, EditsAreAllOrNothingOnDisk) {
  test_support::ScopedTempDir dir{"velmo"};
  const std::vector<Bytes> frames = Frames(5, 1181052189);
  const std::string input = dir.Path("in.mjpg");
  WriteBytes(input, Join(frames));
  // Two frames, then 1 GiB of hole before the third: an extract long enough to be
  // stopped in the middle.
  const std::string big = dir.Path("big.mjpg");
  {
    const Bytes head = Join(frames, 0, 2);
    const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), ssize_t(head.size()));
    ASSERT_EQ(::pwrite(fd, frames[2].data(), frames[2].size(), off_t(1) << 30), ssize_t(frames[2].size()));
    ::close(fd);
  }
  const std::string target = dir.Path("target.mjpg"), still = dir.Path("still.jpg");
  const std::string kOld = "what the user had";
  // Once the edit has written into its temporary file, the signal comes.
  const auto signalMidway = [&](int sig) {
    return [&, sig](pid_t pid) {
      for (int i = 0; i < 5000; ++i) {
        for (const auto& e : std::filesystem::directory_iterator(dir.Path("")))
          if (e.path().filename().string().find(".part-") != std::string::npos && e.file_size() >= (8u << 20)) {
            ::kill(pid, sig);
            return;
          }
        ::usleep(1000);
      }
      ADD_FAILURE() << "the copy never got going";
      ::kill(pid, SIGKILL);
    };
  };
  // A file size limit (in 512-byte blocks; none when negative) stands in for a full
  // disk: writes past it fail as they would there.
  const auto limited = [](int blocks, std::vector<std::string> args) {
    const std::string limit = blocks < 0 ? "" : "trap '' XFSZ; ulimit -f " + std::to_string(blocks) + "; ";
    std::vector<std::string> all = {"/bin/sh", "-c", limit + "exec \"$@\"", "sh", VELMO_PROGRAM};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  };
  const std::vector<std::string> extractBig = {"--extract", big, "--from", "1", "--to", "3", "-o", target};
  const struct {
    const char* name;
    std::vector<std::string> argv;
    std::function<void(pid_t)> during;
    const std::string& output;
    const char* stderrHas;
  } rows[] = {
      {"SIGINT during an extract", limited(-1, extractBig), signalMidway(SIGINT), target, "was not written"},
      {"SIGTERM during an extract", limited(-1, extractBig), signalMidway(SIGTERM), target, "was not written"},
      {"disk full during an extract", limited(2048, extractBig), {}, target,
       "Writing video file for editing failed: "},
      {"still export that cannot be written", limited(4, {"--export-frame", input, "3", "-o", still}), {}, still,
       "File write failed: Unable to save JPG image: "},
      {"removing every frame", limited(-1, {"--remove", input, "--from", "1", "--to", "5", "-o", target}), {}, target,
       "Removing every frame would leave an empty file"},
      {"append with a missing second file", limited(-1, {"--append", input, dir.Path("gone.mjpg"), "-o", target}), {},
       target, "gone.mjpg: No such file or directory"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    test_support::WriteFile(row.output, kOld);
    const Result r = RunProgram(dir, row.argv, row.during);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(row.stderrHas), std::string::npos) << r.err;
    EXPECT_EQ(test_support::ReadFile(row.output), kOld);
    for (const auto& e : std::filesystem::directory_iterator(dir.Path("")))
      EXPECT_EQ(e.path().filename().string().find(".part-"), std::string::npos) << e.path();
  }
}

TEST(Velmo, WindowStartTakesTheFileAsGiven) {
  struct Row {
    std::vector<std::string> args;
    bool window;
    std::string file, screenshotDir;
  } rows[] = {
      {{}, true, "", ""},
      {{"/Rec/Cam Front.MJPG"}, true, "/Rec/Cam Front.MJPG", ""},
      {{"--", "-odd name.mjpg"}, true, "-odd name.mjpg", ""},
      {{"--screenshots", "Shots"}, true, "", "Shots"},
      {{"--screenshots"}, false, "", ""},
      {{"a.mjpg", "b.mjpg"}, false, "", ""},
      {{"--info", "a.mjpg"}, false, "", ""},
  };
  for (const Row& row : rows) {
    player::WindowStart start;
    const bool window = player::ParseWindowStart(row.args, start);
    EXPECT_EQ(window, row.window) << row.args.size();
    if (!window) continue;
    EXPECT_EQ(start.file, row.file);
    EXPECT_EQ(start.screenshotDir, row.screenshotDir);
  }
}

}  // namespace
