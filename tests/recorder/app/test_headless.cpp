// The tollan program itself: settings commands and a short headless recording
// that ends cleanly on SIGINT.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <fstream>
#include <sstream>

#include "media/mjpg.h"
#include "tests/recorder/net/worker_test_support.h"
#include "tools/testcam/testcam_server.h"
#include "tests/recorder/app/run_tollan.h"

namespace {

using worker_test::WaitFor;

std::string TollanBinary() { return TOLLAN_PROGRAM; }

// Runs tollan with TOLLAN_HOME set and returns its exit status. Captures standard
// output, and standard error too when withErrors is set.
int RunTollan(const std::string& home, const std::vector<std::string>& args, std::string* out = nullptr,
              bool withErrors = false) {
  return tollan_test::RunTollanWith(home, args, out, {.withErrors = withErrors});
}

TEST(Headless, RecordsEveryCameraAndStopsInOrderOnSigint) {
  testcam::Options o;
  o.width = 160;
  o.height = 120;
  o.fps = 20;
  o.motion = true;
  testcam::Server server(o);
  ASSERT_TRUE(server.Start());
  test_support::ScopedTempDir home{"headless"};
  ASSERT_EQ(RunTollan(home.Path(), {"--add-ip", server.Url("video.mjpg"), "--push-stream"}), 0);
  ASSERT_EQ(RunTollan(home.Path(), {"--set", "0", "savePath=" + home.Path("rec/%Y/video.mjpg"), "frameDelayMs=0",
                                    "motionEnabled=0", "overlayEnabled=1"}),
            0);
  ASSERT_EQ(RunTollan(home.Path(), {"--log-to-file", "1"}), 0);
  std::string listing;
  ASSERT_EQ(RunTollan(home.Path(), {"--list"}, &listing), 0);
  EXPECT_NE(listing.find("IP"), std::string::npos);

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("TOLLAN_HOME", home.Path().c_str(), 1);
    execl(TollanBinary().c_str(), "tollan", "--headless", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::vector<media::mjpg::FrameSpan> frames;
  char year[8];
  std::time_t now = std::time(nullptr);
  std::strftime(year, sizeof(year), "%Y", std::localtime(&now));
  const std::string file = home.Path(std::string("rec/") + year + "/video.mjpg");
  EXPECT_TRUE(WaitFor([&] { return media::mjpg::ReadAllFrames(file, frames) && frames.size() >= 5; }, 15000));
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  server.Stop();

  // The log file holds the worker's start and exit lines, in that order, without the CR LF missing.
  std::ifstream log(home.Path("Logfile.txt"), std::ios::binary);
  std::stringstream text;
  text << log.rdbuf();
  const std::string lines = text.str();
  const auto started = lines.find("Socket thread started, URL: http://127.0.0.1:");
  const auto exited = lines.find("Socket thread exited, URL: http://127.0.0.1:");
  EXPECT_NE(started, std::string::npos) << lines;
  EXPECT_NE(exited, std::string::npos) << lines;
  EXPECT_LT(started, exited);
  EXPECT_NE(lines.find("Logfile started... \r\n"), std::string::npos);
}

TEST(Headless, RecordsALocalCaptureDevice) {
  test_support::ScopedTempDir home{"headless"};
  ASSERT_EQ(RunTollan(home.Path(), {"--add-local", "0", "320x240 24 bit"}), 0);
  ASSERT_EQ(RunTollan(home.Path(), {"--set", "0", "savePath=" + home.Path("rec/local.mjpg"), "frameDelayMs=50",
                                    "motionEnabled=0"}),
            0);
  ASSERT_EQ(RunTollan(home.Path(), {"--log-to-file", "1"}), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("TOLLAN_HOME", home.Path().c_str(), 1);
    setenv("TOLLAN_FAKE_CAPTURE", "1", 1);
    execl(TollanBinary().c_str(), "tollan", "--headless", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::vector<media::mjpg::FrameSpan> frames;
  const std::string file = home.Path("rec/local.mjpg");
  EXPECT_TRUE(WaitFor([&] { return media::mjpg::ReadAllFrames(file, frames) && frames.size() >= 5; }, 15000));
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream log(home.Path("Logfile.txt"), std::ios::binary);
  std::stringstream text;
  text << log.rdbuf();
  const std::string lines = text.str();
  const auto started = lines.find("Local camera thread started, file: " + file);
  const auto exited = lines.find("Local camera thread exited, file: " + file);
  EXPECT_NE(started, std::string::npos) << lines;
  EXPECT_NE(exited, std::string::npos) << lines;
  EXPECT_LT(started, exited);
}

TEST(Headless, VersionAndUnknownArguments) {
  test_support::ScopedTempDir home{"headless"};
  std::string out;
  EXPECT_EQ(RunTollan(home.Path(), {"--version"}, &out), 0);
  EXPECT_NE(out.find("Tollan Version 2.0.1.0"), std::string::npos);
  EXPECT_NE(RunTollan(home.Path(), {"--no-such-option"}), 0);
}

// Runs tollan with both output streams captured together.
int RunTollanAll(const std::string& home, const std::vector<std::string>& args, std::string& output) {
  return RunTollan(home, args, &output, true);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> Header(int32_t version, int32_t count) {
  std::vector<uint8_t> b(8);
  for (int i = 0; i < 4; ++i) {
    b[i] = uint8_t(uint32_t(version) >> (8 * i));
    b[4 + i] = uint8_t(uint32_t(count) >> (8 * i));
  }
  return b;
}

// A headless recorder in the background with its standard error in a file.
struct Recorder {
  Recorder(const std::string& home, const std::string& errPath, std::vector<std::string> extra = {}) {
    pid = fork();
    if (pid == 0) {
      setenv("TOLLAN_HOME", home.c_str(), 1);
      const int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 2);
      std::vector<char*> argv{const_cast<char*>("tollan"), const_cast<char*>("--headless")};
      for (auto& a : extra) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(TollanBinary().c_str(), argv.data());
      _exit(127);
    }
  }
  int Stop(int signal) {
    kill(pid, signal);
    return Wait();
  }
  int Wait() {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t pid = -1;
};

TEST(Headless, RefusesSettingsFilesThatCannotDriveARecorder) {
  struct Case {
    const char* name;
    std::function<void(const std::string& cfg)> make;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"missing", [](const std::string&) {}, "No settings file at "},
      {"foreign",
       [](const std::string& cfg) {
         auto b = Header(1999, 0);
         b.resize(12, 0);
         WriteBytes(cfg, b);
       },
       "Not a settings file"},
      {"damaged",
       [](const std::string& cfg) {
         auto b = Header(2005, 3);
         b.resize(12 + 1604, 0);  // one camera block of three
         WriteBytes(cfg, b);
       },
       "damaged"},
      {"no cameras",
       [](const std::string& cfg) {
         auto b = Header(2005, 0);
         b.resize(12, 0);
         WriteBytes(cfg, b);
       },
       "holds no cameras"},
      {"a folder", [](const std::string& cfg) { mkdir(cfg.c_str(), 0700); }, "not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::ScopedTempDir home{"headless"};
    c.make(home.Path("tollan.cfg"));
    std::string output;
    EXPECT_EQ(RunTollanAll(home.Path(), {"--headless"}, output), 1);
    EXPECT_NE(output.find(c.message), std::string::npos) << output;
    EXPECT_NE(output.find(home.Path("tollan.cfg")), std::string::npos) << output;
  }
}

TEST(Headless, StrayArgumentsGiveTheUsageAndStatusTwo) {
  test_support::ScopedTempDir home{"headless"};
  std::string output;
  EXPECT_EQ(RunTollanAll(home.Path(), {"--headless", "now"}, output), 2);
  EXPECT_NE(output.find("now"), std::string::npos);
  EXPECT_NE(output.find("--headless"), std::string::npos);
}

TEST(Headless, OneRecorderPerSettingsFileNamedLinesHealthAndOrderlyStopOnHangup) {
  testcam::Options o;
  o.width = 160;
  o.height = 120;
  o.fps = 10;
  testcam::Server server(o);
  ASSERT_TRUE(server.Start());
  test_support::ScopedTempDir home{"headless"};
  ASSERT_EQ(RunTollan(home.Path(), {"--add-ip", server.Url("video.mjpg"), "--push-stream"}), 0);
  ASSERT_EQ(RunTollan(home.Path(), {"--set", "0", "savePath=" + home.Path("rec/video.mjpg"), "frameDelayMs=0",
                                    "motionEnabled=0", "name=front door"}),
            0);
  const std::string err = home.Path("first.err");
  Recorder first(home.Path(), err);
  const std::string file = home.Path("rec/video.mjpg");
  std::vector<media::mjpg::FrameSpan> frames;
  ASSERT_TRUE(WaitFor([&] { return media::mjpg::ReadAllFrames(file, frames) && frames.size() >= 3; }, 15000));

  // A second recorder on the same settings folder stops at once.
  std::string output;
  EXPECT_EQ(RunTollanAll(home.Path(), {"--headless"}, output), 1);
  EXPECT_NE(output.find("Another recorder is already running with " + home.Path("tollan.cfg")), std::string::npos)
      << output;

  kill(first.pid, SIGUSR1);
  EXPECT_TRUE(WaitFor([&] { return ReadText(err).find("camera 0 (front door): health: Started, ") != std::string::npos; }, 5000))
      << ReadText(err);
  EXPECT_EQ(first.Stop(SIGHUP), 0);
  server.Stop();

  const std::string text = ReadText(err);
  EXPECT_NE(text.find("Settings file: " + home.Path("tollan.cfg")), std::string::npos) << text;
  // Every line of a named camera carries its name.
  EXPECT_NE(text.find("camera 0 (front door): Started"), std::string::npos) << text;
  EXPECT_EQ(text.find("camera 0: "), std::string::npos) << text;
  EXPECT_NE(text.find("frame(s) saved, last saved 20"), std::string::npos) << text;
  EXPECT_NE(text.find("file " + file), std::string::npos) << text;
  EXPECT_EQ(text.find("XDG_RUNTIME_DIR"), std::string::npos) << text;
  // Worker events name their camera; the log file keeps its exact lines.
  std::istringstream lines(text);
  std::string line;
  bool sawExit = false;
  while (std::getline(lines, line)) {
    if (line.find("Socket thread exited, URL:") == std::string::npos) continue;
    sawExit = true;
    EXPECT_EQ(line.rfind("camera 0 (front door): ", 0), 0u) << line;
  }
  EXPECT_TRUE(sawExit) << text;
}

}  // namespace
