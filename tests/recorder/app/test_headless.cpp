// The tollan program itself: settings commands and a short headless recording
// that ends cleanly on SIGINT.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "media/mjpg.h"
#include "tests/recorder/net/worker_test_support.h"
#include "tools/testcam/testcam_server.h"

namespace {

using worker_test::TempDir;
using worker_test::WaitFor;

std::string TollanBinary() { return TOLLAN_PROGRAM; }

// Runs tollan with TOLLAN_HOME set; returns the exit status and captures stdout.
int RunTollan(const std::string& home, const std::vector<std::string>& args, std::string* out = nullptr) {
  std::string command = "TOLLAN_HOME='" + home + "' '" + TollanBinary() + "'";
  for (const auto& a : args) command += " '" + a + "'";
  command += " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof(buffer), p)) text.append(buffer, n);
  const int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Headless, RecordsEveryCameraAndStopsInOrderOnSigint) {
  testcam::Options o;
  o.width = 160;
  o.height = 120;
  o.fps = 20;
  o.motion = true;
  testcam::Server server(o);
  ASSERT_TRUE(server.Start());
  TempDir home;
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

TEST(Headless, VersionAndUnknownArguments) {
  TempDir home;
  std::string out;
  EXPECT_EQ(RunTollan(home.Path(), {"--version"}, &out), 0);
  EXPECT_NE(out.find("Tollan Version 2.0.1.0"), std::string::npos);
  EXPECT_NE(RunTollan(home.Path(), {"--no-such-option"}), 0);
}

}  // namespace
