// The recorder serving live pictures: the real tollan program recording a test
// camera while viewers watch it over HTTP on 127.0.0.1.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "media/jpeg_codec.h"
#include "media/mjpg.h"
#include "tests/recorder/net/worker_test_support.h"
#include "tests/recorder/web/http_client.h"
#include "tools/testcam/testcam_server.h"
#include "tests/recorder/app/run_tollan.h"

namespace {

using worker_test::WaitFor;

std::string TollanBinary() { return TOLLAN_PROGRAM; }

int RunTollan(const std::string& home, const std::vector<std::string>& args, std::string* out = nullptr) {
  return tollan_test::RunTollanWith(home, args, out, {});
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A headless recorder in the background with its standard error in a file.
struct Recorder {
  Recorder(const std::string& home, const std::string& errPath) : errPath(errPath) {
    pid = fork();
    if (pid == 0) {
      setenv("TOLLAN_HOME", home.c_str(), 1);
      const int fd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 2);
      execl(TollanBinary().c_str(), "tollan", "--headless", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Recorder() {
    if (pid > 0) Stop(SIGKILL);
  }
  // The wall's address the recorder printed, once it did.
  std::string WallUrl(int timeoutMs) {
    std::smatch m;
    std::string text;
    const std::regex line("Camera wall: (http://127\\.0\\.0\\.1:[0-9]+/)");
    WaitFor(
        [&] {
          text = ReadText(errPath);
          return std::regex_search(text, m, line);
        },
        timeoutMs);
    return m.empty() ? std::string() : m[1].str();
  }
  int Stop(int signal) {
    kill(pid, signal);
    int status = 0;
    const pid_t waited = waitpid(pid, &status, 0);
    pid = -1;
    if (waited < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string errPath;
  pid_t pid = -1;
};

// A viewer that asks for the stream and then reads nothing, with a tiny receive buffer.
int StalledViewer(uint16_t port, const std::string& path) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  int small = 4096;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
    close(fd);
    return -1;
  }
  return fd;
}

bool WholeJpeg(const std::string& bytes) {
  return bytes.size() > 4 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xD8 &&
         uint8_t(bytes[bytes.size() - 2]) == 0xFF && uint8_t(bytes.back()) == 0xD9;
}

TEST(Serving, ViewersSeeTheRecordedFramesAndAStalledOneCostsNoFrame) {
  // 31 s of pictures: the stalled viewer reads nothing for more than 30 s of recording.
  constexpr int kFps = 10;
  constexpr int kFrames = 31 * kFps;
  testcam::Options o;
  o.width = 640;
  o.height = 480;
  o.fps = kFps;
  o.noise = true;  // large pictures: the stalled viewer's buffers fill within a few
  o.quality = 90;
  o.frameLimit = kFrames;
  testcam::Server camera(o);
  ASSERT_TRUE(camera.Start());
  test_support::ScopedTempDir home{"serving"};
  const std::string file = home.Path("rec/video.mjpg");
  ASSERT_EQ(RunTollan(home.Path(), {"--add-ip", camera.Url("video.mjpg"), "--push-stream"}), 0);
  ASSERT_EQ(
      RunTollan(home.Path(), {"--set", "0", "savePath=" + file, "frameDelayMs=0", "motionEnabled=0", "name=porch"}), 0);
  std::string said;
  ASSERT_EQ(RunTollan(home.Path(), {"--serve", "127.0.0.1:0"}, &said), 0) << said;

  Recorder recorder(home.Path(), home.Path("err.txt"));
  const std::string wall = recorder.WallUrl(10000);
  ASSERT_FALSE(wall.empty()) << ReadText(home.Path("err.txt"));
  const uint16_t port = uint16_t(std::stoi(wall.substr(wall.rfind(':') + 1)));
  const int stalled = StalledViewer(port, "/cameras/0/stream.mjpg");
  ASSERT_GE(stalled, 0);

  // ffprobe reads the stream as MJPEG while the camera sends.
  auto probe = std::async(std::launch::async, [&] {
    std::string out;
    const std::string command =
        "timeout 20 ffprobe -v error -show_entries stream=codec_name:format=format_name "
        "-of default=nw=1 '" +
        wall + "cameras/0/stream.mjpg' 2>&1";
    FILE* p = popen(command.c_str(), "r");
    char buffer[256];
    while (size_t n = fread(buffer, 1, sizeof(buffer), p)) out.append(buffer, n);
    pclose(p);
    return out;
  });
  http_test::Request streamRequest;
  streamRequest.url = wall + "cameras/0/stream.mjpg";
  streamRequest.stopAfterParts = 5;
  const http_test::Answer stream = http_test::Fetch(streamRequest);
  const http_test::Answer snapshot = http_test::Get(wall + "cameras/0/snapshot.jpg");
  const std::string probed = probe.get();
  EXPECT_NE(probed.find("codec_name=mjpeg"), std::string::npos) << probed;
  EXPECT_NE(probed.find("format_name=mpjpeg"), std::string::npos) << probed;

  // Every frame the camera sent is in the file, however stuck the stalled viewer is.
  std::vector<media::mjpg::FrameSpan> frames;
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(
      WaitFor([&] { return media::mjpg::ReadAllFrames(file, frames, &bytes) && frames.size() >= kFrames; }, 60000));
  // The camera sends no more than kFrames, so the count read is the final one.
  ASSERT_TRUE(media::mjpg::ReadAllFrames(file, frames, &bytes));
  EXPECT_EQ(frames.size(), size_t(kFrames));
  const std::string status = http_test::Get(wall + "status.json").body;
  EXPECT_NE(status.find("\"framesSaved\":" + std::to_string(kFrames)), std::string::npos) << status;
  EXPECT_NE(status.find("\"name\":\"porch\""), std::string::npos) << status;

  // What viewers got are whole JPEGs, byte for byte frames of the recording.
  std::set<std::string> recorded;
  for (const auto& f : frames)
    recorded.insert(std::string(bytes.begin() + long(f.start), bytes.begin() + long(f.start + f.length)));
  const std::vector<std::string> parts = http_test::StreamParts(stream.body);
  EXPECT_EQ(parts.size(), 5u);
  for (const std::string& part : parts) {
    EXPECT_TRUE(WholeJpeg(part));
    EXPECT_TRUE(recorded.count(part)) << "a streamed picture that is not a recorded frame";
  }
  EXPECT_EQ(snapshot.status, 200);
  EXPECT_TRUE(WholeJpeg(snapshot.body));
  EXPECT_TRUE(recorded.count(snapshot.body));
  close(stalled);

  // A stop of the recorder ends a watched stream with its closing boundary.
  http_test::Answer last;
  std::atomic<bool> watching{false};
  std::thread viewer([&] {
    http_test::Request r;
    r.url = wall + "cameras/0/stream.mjpg";
    r.timeoutMs = 30000;
    r.onBody = [&](const std::string&) { watching = true; };
    last = http_test::Fetch(r);
  });
  // The viewer is watching once the first bytes of its stream came.
  EXPECT_TRUE(WaitFor([&] { return watching.load(); }, 10000));
  EXPECT_EQ(recorder.Stop(SIGINT), 0);
  viewer.join();
  bool closed = false;
  http_test::StreamParts(last.body, &closed);
  EXPECT_EQ(last.result, CURLE_OK);
  EXPECT_TRUE(closed);
  const std::string err = ReadText(home.Path("err.txt"));
  EXPECT_NE(err.find("Stopped."), std::string::npos) << err;
}

TEST(Serving, ACameraThatSavesNothingIsEncodedOnlyForViewersAndAtMostTenTimesASecond) {
  testcam::Options o;
  o.width = 320;
  o.height = 240;
  o.fps = 25;
  o.motion = true;
  testcam::Server camera(o);
  ASSERT_TRUE(camera.Start());
  test_support::ScopedTempDir home{"serving"};
  ASSERT_EQ(RunTollan(home.Path(), {"--add-ip", camera.Url("video.mjpg"), "--push-stream"}), 0);
  ASSERT_EQ(RunTollan(home.Path(), {"--set", "0", "savePath=" + home.Path("rec/video.mjpg"), "frameDelayMs=0",
                                    "motionEnabled=0", "saveEnabled=0"}),
            0);
  ASSERT_EQ(RunTollan(home.Path(), {"--serve", "127.0.0.1:0"}), 0);
  Recorder recorder(home.Path(), home.Path("err.txt"));
  const std::string wall = recorder.WallUrl(10000);
  ASSERT_FALSE(wall.empty()) << ReadText(home.Path("err.txt"));
  // Pictures flow, but with nobody watching none is encoded.
  ASSERT_TRUE(
      WaitFor([&] { return http_test::Get(wall + "status.json").body.find("Started") != std::string::npos; }, 10000));
  const uint64_t served = camera.FramesServed();
  ASSERT_TRUE(WaitFor([&] { return camera.FramesServed() >= served + 10; }, 10000));
  EXPECT_NE(http_test::Get(wall + "status.json").body.find("\"picture\":false"), std::string::npos);

  http_test::Request r;
  r.url = wall + "cameras/0/stream.mjpg";
  r.timeoutMs = 2000;  // two seconds of a camera sending 25 pictures a second
  const http_test::Answer a = http_test::Fetch(r);
  const std::vector<std::string> parts = http_test::StreamParts(a.body);
  EXPECT_GE(parts.size(), 5u);
  EXPECT_LE(parts.size(), 22u);
  for (const std::string& part : parts) {
    media::FrameImage image;
    EXPECT_TRUE(media::DecodeJpeg(reinterpret_cast<const uint8_t*>(part.data()), part.size(), image));
    EXPECT_EQ(image.width, 320);
  }
  const std::string status = http_test::Get(wall + "status.json").body;
  EXPECT_NE(status.find("\"framesSaved\":0"), std::string::npos) << status;
  EXPECT_EQ(recorder.Stop(SIGINT), 0);
  std::vector<media::mjpg::FrameSpan> frames;
  media::mjpg::ReadAllFrames(home.Path("rec/video.mjpg"), frames);
  EXPECT_TRUE(frames.empty());
}

TEST(Serving, TheServeCommandStoresOnlyWhatMayServe) {
  test_support::ScopedTempDir home{"serving"};
  struct Row {
    std::vector<std::string> args;
    int exit;
    const char* said;
  };
  const std::vector<Row> rows = {
      {{"--serve", "0.0.0.0:8090"}, 1, "Serving beyond this machine needs a user and password"},
      {{"--serve", "192.168.7.7:8090", "--serve-user", "anna"},
       1,
       "Serving beyond this machine needs a user and password"},
      {{"--serve", "camera.example:80"}, 1, "--serve: Not a numeric IP address: camera.example"},
      {{"--serve", "127.0.0.1:70000"}, 1, "--serve: Not a port number (0-65535): 70000"},
      {{"--serve"}, 2, "--serve needs a value"},
      {{"--serve", "8090", "--serve-nonsense", "x"}, 2, "--serve-nonsense"},
      {{"--serve", "8090", "--serve-cert", "/nonexistent.pem", "--serve-key", "/nonexistent.key"},
       1,
       "Cannot read /nonexistent.pem"},
      {{"--serve", "8090"}, 0, "The recorder serves its cameras at http://127.0.0.1:8090/"},
      {{"--serve", "192.168.7.7:8443", "--serve-user", "anna", "--serve-password", "pw"},
       0,
       "The recorder serves its cameras at http://192.168.7.7:8443/"},
      {{"--serve-password", ""}, 1, "Serving beyond this machine needs a user and password"},
      {{"--serve", "off"}, 0, "The recorder serves no live pictures"},
  };
  for (const Row& row : rows) {
    std::string out;
    EXPECT_EQ(RunTollan(home.Path(), row.args, &out), row.exit) << row.args[0] << " " << out;
    EXPECT_NE(out.find(row.said), std::string::npos) << out;
    EXPECT_EQ(out.find("pw\n"), std::string::npos);
  }
  // Off leaves no trace of serving in the settings file.
  EXPECT_EQ(ReadText(home.Path("tollan.cfg")).find("serve"), std::string::npos);
}

}  // namespace
