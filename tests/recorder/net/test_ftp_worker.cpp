// FTP polling of the network worker against a local FTP server (pyftpdlib on 127.0.0.1).
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "recorder/camera/camera_record.h"
#include "media/mjpg.h"
#include "recorder/net/camera_url.h"
#include "recorder/net/ftp_fetch.h"
#include "recorder/net/soc_thread.h"
#include "tests/recorder/net/worker_test_support.h"
#include "tools/testcam/testcam_server.h"
#include "recorder/camera/messages.h"

using namespace recorder;

namespace {

using worker_test::EventSink;
using worker_test::TempDir;
using worker_test::WaitFor;

uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  socklen_t len = sizeof(addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

bool CanConnect(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

// A pyftpdlib server on 127.0.0.1 serving one folder to user "cam" with password "pw".
class FtpServer {
 public:
  explicit FtpServer(const std::string& root) : port_(FreePort()) {
    pid_ = fork();
    if (pid_ == 0) {
      const std::string port = std::to_string(port_);
      execl("/usr/bin/python3", "python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", port.c_str(), "-d", root.c_str(),
             "-u", "cam", "-P", "pw", static_cast<char*>(nullptr));
      _exit(127);
    }
    ready_ = WaitFor([this] { return CanConnect(port_); }, 10000);
  }
  ~FtpServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool ready() const { return ready_; }
  uint16_t port() const { return port_; }

 private:
  uint16_t port_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

std::vector<uint8_t> SampleJpeg() {
  testcam::Options o;
  o.width = 160;
  o.height = 120;
  testcam::Server cam(o);
  EXPECT_TRUE(cam.Start());
  auto jpeg = cam.Frames().at(0);
  cam.Stop();
  return jpeg;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TEST(FtpWorker, DownloadsAndPollsAfterAMissingFileWithoutAnEvent) {
  TempDir root;
  TempDir rec;
  FtpServer server(root.Path());
  if (!server.ready()) GTEST_SKIP() << "pyftpdlib could not be started";
  const auto jpeg = SampleJpeg();

  // One download: the whole file, byte for byte; a missing file fails.
  net::CameraAddress address = net::ParseCameraUrl("ftp://cam:pw@127.0.0.1:" + std::to_string(server.port()) + "/snap.jpg");
  std::vector<uint8_t> got;
  EXPECT_FALSE(net::FtpDownload(address, got));
  WriteFile(root.Path("snap.jpg"), jpeg);
  ASSERT_TRUE(net::FtpDownload(address, got));
  EXPECT_EQ(got, jpeg);
  address.password = "wrong";
  EXPECT_FALSE(net::FtpDownload(address, got));
  std::remove(root.Path("snap.jpg").c_str());

  // The worker: a missing file is retried quietly, then frames arrive paced by the frame delay.
  EventSink events;
  platform::CollectingWindowTarget main;
  const auto window = platform::RegisterWindow(&main);
  auto cam = camera::CreateDefaultCamera();
  camera::SetText(cam->url, "ftp://cam:pw@127.0.0.1:" + std::to_string(server.port()) + "/snap.jpg");
  camera::SetText(cam->savePath, rec.Path("video.mjpg"));
  cam->motionEnabled = 0;
  cam->frameDelayMs = 200;
  net::WorkerParams params;
  params.record = std::move(cam);
  params.logThreadId = events.Id();
  params.mainWindow = window;
  auto worker = net::CSocThread::Start(std::move(params));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  WriteFile(root.Path("snap.jpg"), jpeg);
  auto saved = [&] {
    std::vector<media::mjpg::FrameSpan> frames;
    media::mjpg::ReadAllFrames(rec.Path("video.mjpg"), frames);
    return frames.size();
  };
  EXPECT_TRUE(WaitFor([&] { return saved() >= 3; }, 15000));
  platform::PostThreadMessage(worker->Id(), camera::to_worker::ThreadStop::kNumber, camera::kStopReasonStop, 0);
  ASSERT_TRUE(worker->Wait(15000));
  EXPECT_TRUE(WaitFor([&] { return events.CountOf(camera::kEventSocketThreadExited) == 1; }, 5000));
  for (const auto& e : events.Events()) {
    EXPECT_TRUE(e.code == camera::kEventSocketThreadStarted || e.code == camera::kEventSocketThreadExited)
        << "unexpected event " << e.code << " " << e.argument;
  }
  std::vector<intptr_t> statuses;
  for (auto& m : main.TakeAll())
    if (m.id == camera::to_main_window::CamStatus::kNumber) statuses.push_back(m.lParam);
  EXPECT_EQ(statuses, std::vector<intptr_t>{camera::kStatusConnecting});  // FTP has no connected state
  platform::UnregisterWindow(window);
}

}  // namespace
